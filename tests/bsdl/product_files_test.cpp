#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "bsdl/bsdl_device.h"
#include "bsdl_files.h"
#include "targets/catalogue.h"
#include "targets/product_wiring.h"

namespace zorv {
namespace {

std::string reversed(std::string text) {
  std::reverse(text.begin(), text.end());
  return text;
}

int cellOf(const BsdlDevice& device, const std::string& port) {
  const std::vector<const BoundaryCell*> cells = device.cellsOfPort(port);
  return cells.size() == 1 ? cells[0]->number : -1;
}

// The test descriptions of the four products say what the program's catalogue and wiring say. An
// opcode is written most significant bit first, so it reads backwards against the catalogue, which
// holds it in the order it is shifted.
TEST(BsdlProductFiles, AgreeWithTheCatalogueAndTheWiring) {
  const ProductWiring* wirings[] = {&kObrinWiring, &kTqr2400Wiring, &kIkaWiring, &kVeskarWiring};
  for (const ProductWiring* wiring : wirings) {
    const ChipDescriptor& chip = chipDescriptor(wiring->product);
    SCOPED_TRACE(chip.name);
    std::string file = chip.name;
    std::transform(file.begin(), file.end(), file.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const BsdlDevice device = readBsdlFile(testing::bsdlFilePath(file + ".bsd"));
    EXPECT_EQ(device.entity, chip.name);
    EXPECT_EQ(device.instructionLength, 4);
    ASSERT_NE(device.instruction("IDCODE"), nullptr);
    EXPECT_EQ(device.instruction("IDCODE")->opcodes, (std::vector<std::string>{reversed(chip.idInstruction)}));
    EXPECT_EQ(device.instruction("EXTEST")->opcodes, (std::vector<std::string>{reversed(chip.extestInstruction)}));
    EXPECT_EQ(device.instruction("SAMPLE"), nullptr);
    EXPECT_EQ(device.instruction("PRELOAD"), nullptr);
    ASSERT_TRUE(device.idcode.has_value());
    EXPECT_EQ(device.idcode->value, static_cast<uint32_t>(std::stoul(chip.idCode, nullptr, 2)));
    EXPECT_EQ(device.idcode->mask, 0xFFFFFFFFu);
    EXPECT_EQ(device.boundaryLength, chip.bsrLength);
    std::string safe(static_cast<size_t>(device.boundaryLength), '?');
    for (const BoundaryCell& cell : device.cells) safe[static_cast<size_t>(cell.number)] = cell.safe;
    EXPECT_EQ(safe, chip.resetTemplate);

    const NandPins& pins = wiring->nand.pins;
    EXPECT_EQ(cellOf(device, "NAND_CE_N"), pins.pinCe);
    EXPECT_EQ(cellOf(device, "NAND_WE_N"), pins.pinWe);
    EXPECT_EQ(cellOf(device, "NAND_RE_N"), pins.pinRe);
    EXPECT_EQ(cellOf(device, "NAND_CLE"), pins.pinCle);
    EXPECT_EQ(cellOf(device, "NAND_ALE"), pins.pinAle);
    ASSERT_NE(device.portCells("NAND_RB").input, nullptr);
    EXPECT_EQ(device.portCells("NAND_RB").input->number, pins.pinRb);
    const std::string io = device.port("NAND_IO") != nullptr ? "NAND_IO" : "MEM_D";  // IKA shares its data bus
    const NandDataBus& bus = wiring->nand.bus;
    for (int bit = 0; bit < 8; ++bit) {
      const PortCells line = device.portCells(io + "(" + std::to_string(bit) + ")");
      ASSERT_TRUE(line.input && line.output && line.control) << bit;
      EXPECT_EQ(line.output->number, bus.io0 + bus.step * bit);
      EXPECT_EQ(line.control->number, line.output->number + 1);
      EXPECT_NE(line.output->disableValue, bus.outputLevel);
    }

    if (wiring->norBus == nullptr) {
      EXPECT_EQ(reversed(device.instruction("DEBUG_ACCESS")->opcodes.at(0)), "1001");
      continue;
    }
    const NorBus& nor = *wiring->norBus;
    for (size_t bit = 0; bit < nor.data.size(); ++bit) {
      const PortCells line = device.portCells("MEM_D(" + std::to_string(bit) + ")");
      ASSERT_TRUE(line.output && line.control) << bit;
      EXPECT_EQ(line.output->number, nor.data[bit]);
      EXPECT_EQ(line.control->number, nor.dataEnables[bit]);
      EXPECT_NE(line.output->disableValue, nor.driveLevel);
    }
    for (size_t bit = 0; bit < nor.address.size(); ++bit) {
      EXPECT_EQ(cellOf(device, "MEM_A(" + std::to_string(bit) + ")"), nor.address[bit]) << bit;
    }
    EXPECT_EQ(cellOf(device, "MEM_OE_N"), nor.outputEnable);
    EXPECT_EQ(cellOf(device, "MEM_WE_N"), nor.writeEnable);
    for (size_t region = 0; region < nor.chipSelects.size() && nor.chipSelects[region] >= 0; ++region) {
      EXPECT_EQ(cellOf(device, "MEM_CS_N(" + std::to_string(region) + ")"), nor.chipSelects[region]) << region;
    }
  }
}

}  // namespace
}  // namespace zorv
