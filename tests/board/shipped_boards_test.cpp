#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "board/board_file.h"
#include "cable_choice/job_rig.h"
#include "link/parallel_port_link.h"
#include "targets/catalogue.h"
#include "targets/product_wiring.h"

namespace zorv {
namespace {

std::string shippedBoard(TargetProduct product) {
  std::string name = chipDescriptor(product).name;
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return std::string(ZORV_SHIPPED_BOARDS) + "/" + name + ".toml";
}

std::vector<int> cells(std::span<const int> span) { return {span.begin(), span.end()}; }

std::vector<std::string> ranges(std::span<const CellRange> span) {
  std::vector<std::string> out;
  for (const CellRange& r : span) out.push_back(std::to_string(r.first) + "-" + std::to_string(r.last) + "/" + std::to_string(r.step));
  return out;
}

// Every product's board file gives exactly the compiled descriptor and wiring record, so that a job
// run on the board file is the product's job, byte for byte.
TEST(ShippedBoards, AreTheCompiledProducts) {
  for (int p = 0; p < kProductCount; ++p) {
    const auto product = static_cast<TargetProduct>(p);
    SCOPED_TRACE(shippedBoard(product));
    const BoardFile board = readBoardFile(shippedBoard(product));
    const ChipDescriptor& descriptor = chipDescriptor(product);
    const BoardChip& chip = *board.chip;
    EXPECT_EQ(board.product, product);
    EXPECT_FALSE(board.chain.given());
    EXPECT_EQ(chip.name, descriptor.name);
    EXPECT_EQ(chip.instructionLength, descriptor.instructionLength);
    EXPECT_EQ(chip.idInstruction, descriptor.idInstruction);
    EXPECT_EQ(chip.extestInstruction, descriptor.extestInstruction);
    EXPECT_EQ(chip.sampleInstruction, "");
    EXPECT_EQ(chip.idCode, descriptor.idCode);
    EXPECT_EQ(chip.idMask, descriptor.idMask);
    EXPECT_EQ(chip.bsrLength, descriptor.bsrLength);
    EXPECT_EQ(chip.resetTemplate, descriptor.resetTemplate);
    EXPECT_EQ(chip.idCodeShared, sharesIdCode(product));
    EXPECT_EQ(chip.nor.fixedBus, descriptor.nor.fixedBus);
    EXPECT_EQ(chip.nor.findsByDeviceCode, descriptor.nor.findsByDeviceCode);
    EXPECT_EQ(chip.nor.throughDebugPath, descriptor.nor.throughDebugPath);
    EXPECT_TRUE(chip.heldCells.empty());

    const ProductWiring& compiled = productWiring(product);
    const ProductWiring& loaded = chip.wiring;
    EXPECT_EQ(loaded.product, compiled.product);
    const NandPins& a = loaded.nand.pins;
    const NandPins& b = compiled.nand.pins;
    EXPECT_EQ(std::vector<int>({a.pinCe, a.pinWe, a.pinRe, a.pinRb, a.pinCle, a.pinAle}),
              std::vector<int>({b.pinCe, b.pinWe, b.pinRe, b.pinRb, b.pinCle, b.pinAle}));
    EXPECT_EQ(loaded.nand.bus.io0, compiled.nand.bus.io0);
    EXPECT_EQ(loaded.nand.bus.step, compiled.nand.bus.step);
    EXPECT_TRUE(loaded.nand.bus.lines.empty() && loaded.nand.bus.directions.empty());
    EXPECT_EQ(loaded.nand.bus.outputLevel, compiled.nand.bus.outputLevel);
    EXPECT_EQ(loaded.nand.bus.inputLevel, compiled.nand.bus.inputLevel);
    ASSERT_EQ(loaded.norBus == nullptr, compiled.norBus == nullptr);
    if (compiled.norBus != nullptr) {
      const NorBus& x = *loaded.norBus;
      const NorBus& y = *compiled.norBus;
      EXPECT_EQ(cells(x.data), cells(y.data));
      EXPECT_EQ(cells(x.dataEnables), cells(y.dataEnables));
      EXPECT_EQ(cells(x.address), cells(y.address));
      EXPECT_EQ(x.enableGroup, y.enableGroup);
      EXPECT_EQ(x.driveLevel, y.driveLevel);
      EXPECT_EQ(x.releaseLevel, y.releaseLevel);
      EXPECT_EQ(x.samplesWholeBus, y.samplesWholeBus);
      EXPECT_EQ(x.outputEnable, y.outputEnable);
      EXPECT_EQ(x.writeEnable, y.writeEnable);
      EXPECT_EQ(x.chipSelects, y.chipSelects);
    }
    EXPECT_EQ(loaded.toggle.enableLevel, compiled.toggle.enableLevel);
    EXPECT_EQ(ranges(loaded.toggle.outputEnables), ranges(compiled.toggle.outputEnables));
    EXPECT_EQ(ranges(loaded.toggle.toggled), ranges(compiled.toggle.toggled));
    EXPECT_EQ(ranges(loaded.toggle.chipSelects), ranges(compiled.toggle.chipSelects));
    EXPECT_EQ(ranges(loaded.toggle.heldHigh), ranges(compiled.toggle.heldHigh));
  }
}

// The parallel port's bytes, recorded on their way to the board.
class RecordingTee : public PortIo {
 public:
  explicit RecordingTee(PortIo& inner) : inner_(inner) {}
  void write(uint16_t port, uint8_t value) override {
    bytes.push_back(static_cast<uint8_t>(port & 1));
    bytes.push_back(value);
    inner_.write(port, value);
  }
  uint8_t read(uint16_t port) override {
    const uint8_t value = inner_.read(port);
    bytes.push_back(static_cast<uint8_t>(2 | (port & 1)));
    bytes.push_back(value);
    return value;
  }
  std::vector<uint8_t> bytes;

 private:
  PortIo& inner_;
};

class TeeOnBoard : public jobrig::Adapter {
 public:
  TeeOnBoard(std::unique_ptr<sim::Board> board, std::vector<uint8_t>& bytes)
      : board_(std::move(board)), tee_(*board_), link_(std::make_unique<ParallelPortLink>(tee_)), bytes_(bytes) {}
  JtagLink& link() override { return *link_; }
  std::string close() override {
    link_.reset();
    bytes_ = tee_.bytes;
    return {};
  }

 private:
  std::unique_ptr<sim::Board> board_;
  RecordingTee tee_;
  std::unique_ptr<ParallelPortLink> link_;
  std::vector<uint8_t>& bytes_;
};

// Every job of every product sends the board exactly the same port bytes, and leaves the same
// outcome, whether it runs on the product as compiled or on the product's board file. One job a
// test, each within its own time-out.
class ShippedBoardJobs : public ::testing::TestWithParam<size_t> {};

TEST_P(ShippedBoardJobs, SendTheProductsBytes) {
  // Read afresh for every job, as the command line does: each case starts from the reset image.
  const std::vector<jobrig::JobCase> asCompiled = jobrig::allJobs();
  const std::vector<jobrig::JobCase> onBoards =
      jobrig::allJobs([](int p) { return readBoardFile(shippedBoard(static_cast<TargetProduct>(p))).chip; });
  ASSERT_EQ(asCompiled.size(), onBoards.size());
  const size_t i = GetParam();
  SCOPED_TRACE(asCompiled[i].name);
  std::vector<uint8_t> compiledBytes, boardBytes;
  const jobrig::AdapterMaker intoCompiled = [&](std::unique_ptr<sim::Board> b, size_t) {
    return std::make_unique<TeeOnBoard>(std::move(b), compiledBytes);
  };
  const jobrig::AdapterMaker intoBoard = [&](std::unique_ptr<sim::Board> b, size_t) {
    return std::make_unique<TeeOnBoard>(std::move(b), boardBytes);
  };
  std::string fault;
  const jobrig::Outcome compiled = jobrig::runOn(asCompiled[i], &intoCompiled, i, fault);
  const jobrig::Outcome board = jobrig::runOn(onBoards[i], &intoBoard, i, fault);
  EXPECT_GT(compiledBytes.size(), 200u);
  EXPECT_TRUE(boardBytes == compiledBytes) << boardBytes.size() << " bytes against " << compiledBytes.size();
  EXPECT_EQ(board.log, compiled.log);
  EXPECT_EQ(board.boxes, compiled.boxes);
  EXPECT_TRUE(board.board == compiled.board);
}

INSTANTIATE_TEST_SUITE_P(EveryJobEveryProduct, ShippedBoardJobs, ::testing::Range<size_t>(0, jobrig::allJobs().size()));

}  // namespace
}  // namespace zorv
