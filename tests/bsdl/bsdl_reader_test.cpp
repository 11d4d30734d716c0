#include <gtest/gtest.h>

#include "bsdl/bsdl_device.h"
#include "bsdl_files.h"

namespace zorv {
namespace {

using testing::bsdlFilePath;
using testing::bsdlFileText;

std::string withCrlf(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// Every construct of the subset in one file: what each one says must come out of the reader.
TEST(BsdlReader, ReadsEveryConstructOfTheHardCaseFile) {
  const std::string text = bsdlFileText("hard_cases.bsd");
  for (const std::string& variant : {text, withCrlf(text)}) {
    const BsdlDevice device = parseBsdl(variant, "hard_cases.bsd");
    EXPECT_EQ(device.entity, "Hard_Case_Chip");
    ASSERT_EQ(device.ports.size(), 13u);
    EXPECT_EQ(device.ports[2].name, "TDI");
    EXPECT_EQ(device.ports[2].direction, "in");
    EXPECT_EQ(device.ports[4].name, "NRESET");
    const BsdlPort* addr = device.port("addr");
    ASSERT_NE(addr, nullptr);
    EXPECT_TRUE(addr->isVector);
    EXPECT_EQ(addr->first, 5);
    EXPECT_EQ(addr->last, 0);
    EXPECT_EQ(device.port("Irq")->direction, "buffer");
    EXPECT_EQ(device.packages, (std::vector<std::string>{"STD_1149_1_2001", "My_Cells"}));
    ASSERT_EQ(device.pinMaps.size(), 1u);
    EXPECT_EQ(device.pinMaps[0].name, "PKG_A");
    ASSERT_EQ(device.pinMaps[0].ports.size(), 13u);
    EXPECT_EQ(device.pinMaps[0].ports[5].port, "DATA");
    EXPECT_EQ(device.pinMaps[0].ports[5].pins, (std::vector<std::string>{"10", "11", "12", "13"}));

    EXPECT_EQ(device.instructionLength, 5);
    ASSERT_EQ(device.instructions.size(), 7u);
    EXPECT_EQ(device.instruction("extest")->opcodes, (std::vector<std::string>{"00000", "10000"}));
    EXPECT_EQ(device.instruction("SAMPLE")->opcodes, (std::vector<std::string>{"00001"}));
    EXPECT_EQ(device.instructions[5].name, "USERCODE");
    EXPECT_EQ(device.instruction("CLAMP")->opcodes, (std::vector<std::string>{"0010X"}));
    EXPECT_EQ(device.instruction("HIGHZ"), nullptr);
    EXPECT_EQ(device.instructionCapture, "XXX01");
    ASSERT_TRUE(device.idcode.has_value());
    EXPECT_EQ(device.idcode->value, 0x012340EFu);
    EXPECT_EQ(device.idcode->mask, 0x0FFFFFFFu);
    EXPECT_TRUE(device.idcode->matches(0x712340EF));
    EXPECT_FALSE(device.idcode->matches(0x012340ED));
    ASSERT_TRUE(device.usercode.has_value());
    EXPECT_EQ(device.usercode->mask, 0u);
    ASSERT_EQ(device.registerAccess.size(), 4u);
    EXPECT_EQ(device.registerAccess[0].first, "BOUNDARY");
    EXPECT_EQ(device.registerAccess[0].second, (std::vector<std::string>{"EXTEST", "SAMPLE", "PRELOAD"}));
    EXPECT_EQ(device.registerAccess[2].first, "USERCODE");

    EXPECT_EQ(device.boundaryLength, 16);
    ASSERT_EQ(device.cells.size(), 18u);  // two cells merged
    const BoundaryCell& first = device.cells[0];
    EXPECT_EQ(first.number, 15);
    EXPECT_EQ(first.port, "ADDR(1)");
    EXPECT_EQ(first.function, CellFunction::Output2);
    const BoundaryCell& keeper = device.cells[3];
    EXPECT_EQ(keeper.cellType, "BC_7");
    EXPECT_EQ(keeper.port, "DATA(1)");
    EXPECT_EQ(keeper.safe, 'X');
    EXPECT_EQ(keeper.controlCell, 0);
    EXPECT_EQ(keeper.disableValue, '1');
    EXPECT_EQ(keeper.disableResult, "KEEPER");
    EXPECT_EQ(device.cells[4].function, CellFunction::Controlr);
    EXPECT_EQ(device.cells[9].function, CellFunction::Clock);
    EXPECT_EQ(device.cells[10].function, CellFunction::ObserveOnly);
    EXPECT_EQ(device.cells[15].function, CellFunction::Internal);
    EXPECT_EQ(device.cells[15].safe, '0');

    // The merged cell serves the pin both ways; the bidirectional cell is input and output at once.
    const PortCells data3 = device.portCells("data(3)");
    ASSERT_TRUE(data3.input && data3.output && data3.control);
    EXPECT_EQ(data3.input->number, 5);
    EXPECT_EQ(data3.input->function, CellFunction::Input);
    EXPECT_EQ(data3.output->function, CellFunction::Output3);
    EXPECT_EQ(data3.control->number, 3);
    EXPECT_EQ(data3.output->disableValue, '0');
    const PortCells data0 = device.portCells("DATA(0)");
    EXPECT_EQ(data0.input, data0.output);
    EXPECT_EQ(data0.control->number, 0);
    // A control merged with an input; an open-collector output controls itself.
    EXPECT_EQ(device.portCells("OE_N").control->function, CellFunction::Control);
    EXPECT_EQ(device.portCells("OE_N").control->number, 10);
    EXPECT_EQ(device.portCells("IRQ").control, device.portCells("IRQ").output);
    EXPECT_EQ(device.cellsOfPort("nreset").size(), 1u);

    ASSERT_EQ(device.designWarnings.size(), 1u);
    EXPECT_EQ(device.designWarnings[0],
              "Hold nReset high during EXTEST -- the reset line has no boundary cell; the \"safe\" values assume it.");
  }
}

}  // namespace
}  // namespace zorv
