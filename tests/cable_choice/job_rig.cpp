#include "cable_choice/job_rig.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "extra/extra_run.h"
#include "nand/nand_job.h"
#include "nor/flash_types.h"
#include "nor/nor_job.h"
#include "page/recording_page.h"
#include "readback/read_job.h"
#include "targets/catalogue.h"

namespace zorv::jobrig {
namespace {

namespace fs = std::filesystem;

Bytes slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

Bytes imageOf(size_t size, unsigned seed) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 29 + seed * 13 + (i >> 7));
  return bytes;
}

void writeFile(const fs::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Rig::Rig(const std::string& options, uint8_t nandCode, const AdapterMaker* maker, size_t caseIndex) {
  sim::BoardOptions parsed = sim::parseBoardOptions(options);
  auto made = std::make_unique<sim::Board>(parsed);
  board = made.get();
  if (nandCode != 0) {
    sim::NandDeviceConfig config;
    config.deviceCode = nandCode;
    nand = &sim::attachNandDevice(*board, config);
  } else {
    nor = sim::attachNorDevice(*board, parsed);
  }
  if (maker == nullptr) {
    ownBoard = std::move(made);
    boardLink = std::make_unique<ParallelPortLink>(*ownBoard);
    return;
  }
  adapter = (*maker)(std::move(made), caseIndex);
}

std::vector<std::string> Rig::state() const {
  std::vector<std::string> s{board->drivenPins(), std::to_string(board->instruction()),
                             std::to_string(static_cast<int>(board->tapState()))};
  for (const std::string& v : board->violations()) s.push_back("violation " + v);
  if (nand != nullptr) {
    const uint32_t pageSize = nand->geometry().pageSize;
    for (uint32_t page : nand->storedPages()) {
      const Bytes main = nand->mainBytes(page * pageSize, pageSize);
      std::string text = "page " + std::to_string(page) + ":" + std::string(main.begin(), main.end());
      for (uint32_t o = 0; o < nand->geometry().spareSize; ++o) text += static_cast<char>(nand->spareByte(page, o));
      s.push_back(text);
    }
    for (uint32_t b : nand->eraseLog()) s.push_back("erase " + std::to_string(b));
    for (uint32_t p : nand->programLog()) s.push_back("program " + std::to_string(p));
  } else if (nor.sizeBytes() != 0) {
    std::string bytes(nor.sizeBytes(), '\0');
    for (uint32_t o = 0; o < nor.sizeBytes(); ++o) bytes[o] = static_cast<char>(nor.busByte(o));
    s.push_back(bytes);
    for (const auto& [first, last] : nor.erasedRanges()) s.push_back(std::to_string(first) + "-" + std::to_string(last));
    s.push_back("programs " + std::to_string(nor.programOperations()));
  }
  return s;
}

namespace {
const char* const kChips[] = {"OBRIN", "TQR2400", "IKA", "VESKAR"};
}  // namespace

std::vector<JobCase> allJobs(const BoardOfProduct& boardOf) {
  std::vector<JobCase> cases;
  const auto boardFor = [boardOf](int product) { return boardOf ? boardOf(product) : nullptr; };
  const uint8_t nandCodes[] = {0x75, 0xF1, 0xF1, 0xF1};  // few blocks: the bad-block scan reads them all
  for (int p = 0; p < kProductCount; ++p) {
    const std::string chip = std::string("chip=") + kChips[p];
    cases.push_back({std::string(kChips[p]) + " idcode", chip, 0, [p, boardFor](Rig&, JobPage& page, JtagLink& port, auto&, auto&) {
                       ExtraSettings s;
                       s.product = p;
                       s.board = boardFor(p);
                       s.extraMode = ReadJtagId;
                       runExtraJob(page, port, s);
                     }});
    cases.push_back({std::string(kChips[p]) + " toggle", chip, 0, [p, boardFor](Rig&, JobPage& page, JtagLink& port, auto&, auto&) {
                       ExtraSettings s;
                       s.product = p;
                       s.board = boardFor(p);
                       s.extraMode = PinToggling;
                       s.toggleCs = 1;
                       runExtraJob(page, port, s, testing::fastTicks(page, testing::stopDuringCycle(2)));
                     }});
    const uint8_t code = nandCodes[p];
    cases.push_back({std::string(kChips[p]) + " NAND download with verify", chip, code,
                     [p, boardFor](Rig& rig, JobPage& page, JtagLink& port, const fs::path& image, auto&) {
                       rig.nand->preload(0, imageOf(rig.nand->geometry().pageSize, 9));
                       const Bytes bytes = imageOf(rig.nand->geometry().pageSize + 300, 1);
                       std::ofstream(image, std::ios::binary)
                           .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
                       NandSettings s;
                       s.product = p;
                       s.board = boardFor(p);
                       s.block = 1;
                       s.imagePath = image.string();
                       s.verify = 1;
                       runNandJob(page, port, s);
                     }});
    for (const ReadMode mode : {ReadMode::Read, ReadMode::Verify, ReadMode::Erase, ReadMode::BadScan}) {
      cases.push_back({std::string(kChips[p]) + " NAND read-back " + std::to_string(static_cast<int>(mode)), chip,
                       code, [p, mode, boardFor](Rig& rig, JobPage& page, JtagLink& port, const fs::path& image, const fs::path& out) {
                         const uint32_t pageSize = rig.nand->geometry().pageSize;
                         const uint32_t block = rig.nand->geometry().blockSize();
                         rig.nand->preload(block, imageOf(pageSize * 2, 3));
                         const Bytes bytes = imageOf(pageSize + 100, 3);
                         std::ofstream(image, std::ios::binary)
                             .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
                         ReadSettings s;
                         s.flash = ReadFlash::Nand;
                         s.mode = mode;
                         s.product = p;
                       s.board = boardFor(p);
                         s.block = 1;
                         s.size = pageSize + 100;
                         s.count = 1;
                         s.outputPath = out.string();
                         s.imagePath = image.string();
                         runReadJob(page, port, s);
                       }});
    }
  }
  struct NorType {
    int product;
    const char* options;
    int type;
    int width;
  };
  const NorType types[] = {
      {Tqr2400, "chip=TQR2400,nor=EN29LV010A", En29lv010a, 8}, {Ika, "chip=IKA,nor=EN29LV040A", En29lv040a, 8},
      {Obrin, "chip=OBRIN,nor=AM29LV040B", Am29lv040b, 8},     {Tqr2400, "chip=TQR2400,nor=S29AL004D", S29al004d, 16},
      {Ika, "chip=IKA,nor=S29AL008D", S29al008d, 16},          {Obrin, "chip=OBRIN,nor=S29GL064M", S29gl064m, 16},
      {Tqr2400, "chip=TQR2400,nor=S29GL128M", S29gl128m, 16},  {Ika, "chip=IKA,nor=K8D6316", K8d6316, 16},
      {Obrin, "chip=OBRIN,nor=SST39VF6401", Sst39vf6401, 16},  {Veskar, "chip=VESKAR", 0, 8},
  };
  for (const NorType& t : types) {
    cases.push_back({std::string(t.options) + " NOR download", t.options, 0,
                     [t, boardFor](Rig& rig, JobPage& page, JtagLink& port, const fs::path& image, auto&) {
                       for (uint32_t o = 0; o < 0x300; ++o) rig.nor.setBusByte(0x10000 + o, 0x5A);
                       const Bytes bytes = imageOf(200, static_cast<unsigned>(t.type));
                       std::ofstream(image, std::ios::binary)
                           .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
                       NorSettings s;
                       s.product = t.product;
                       s.board = boardFor(t.product);
                       s.flashType = t.type;
                       s.width = t.width;
                       s.base = 0;
                       s.block = 1;
                       s.imagePath = image.string();
                       runNorJob(page, port, s);
                     }});
  }
  for (const NorType& t : {types[3], types[9]}) {
    for (const ReadMode mode : {ReadMode::Read, ReadMode::Verify, ReadMode::Erase}) {
      cases.push_back({std::string(t.options) + " NOR read-back " + std::to_string(static_cast<int>(mode)), t.options, 0,
                       [t, mode, boardFor](Rig& rig, JobPage& page, JtagLink& port, const fs::path& image, const fs::path& out) {
                         for (uint32_t o = 0; o < 0x200; ++o) rig.nor.setBusByte(o, static_cast<uint8_t>(o * 5));
                         const Bytes bytes = imageOf(0x100, 4);
                         std::ofstream(image, std::ios::binary)
                             .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
                         ReadSettings s;
                         s.flash = ReadFlash::Nor;
                         s.mode = mode;
                         s.product = t.product;
                       s.board = boardFor(t.product);
                         s.flashType = t.type;
                         s.width = t.width;
                         s.block = 0;
                         s.size = 0x180;
                         s.count = 1;
                         s.outputPath = out.string();
                         s.imagePath = image.string();
                         runReadJob(page, port, s);
                       }});
    }
  }
  return cases;
}

// A link that answers late names how NOR programs are waited for; the parallel port never does.
// An adapter a USB round trip away polls: waiting out the worst case would cost it more.
namespace {

std::string withoutWaitModeLine(std::string log) {
  EXPECT_EQ(log.find("  Program status: timed"), std::string::npos);
  const size_t at = log.find("  Program status: ");
  if (at != std::string::npos) log.erase(at, log.find("\r\n", at) + 2 - at);
  return log;
}

}  // namespace

Outcome runOn(const JobCase& c, const AdapterMaker* maker, size_t caseIndex, std::string& adapterFault) {
  // Both runs use the same names: the read-back jobs log them.
  const std::string stem = (fs::temp_directory_path() / ("zorv_jobs_" + std::to_string(getpid()))).string();
  const fs::path image = stem + ".bin";
  const fs::path output = stem + ".out";
  restoreProductImages();
  Outcome outcome;
  {
    Rig rig(c.options, c.nandCode, maker, caseIndex);
    RecordingPage page;
    c.run(rig, page, rig.port(), image, output);
    if (rig.adapter) adapterFault = rig.adapter->close();
    outcome = {maker != nullptr ? withoutWaitModeLine(page.log) : page.log, page.boxes, slurp(output), rig.state()};
  }
  std::error_code ignored;
  fs::remove(image, ignored);
  fs::remove(output, ignored);
  return outcome;
}

void expectSameAsParallelPort(size_t caseIndex, const AdapterMaker& maker) {
  const JobCase c = allJobs()[caseIndex];
  SCOPED_TRACE(c.name);
  std::string fault;
  const Outcome direct = runOn(c, nullptr, caseIndex, fault);
  const Outcome adapted = runOn(c, &maker, caseIndex, fault);
  EXPECT_EQ(fault, "");
  EXPECT_EQ(adapted.log, direct.log);
  EXPECT_EQ(adapted.boxes, direct.boxes);
  EXPECT_TRUE(adapted.output == direct.output);
  ASSERT_EQ(adapted.board.size(), direct.board.size());
  for (size_t i = 0; i < direct.board.size(); ++i) EXPECT_TRUE(adapted.board[i] == direct.board[i]) << "board item " << i;
}

}  // namespace zorv::jobrig
