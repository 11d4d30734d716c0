#!/usr/bin/env python3
"""Writes the test descriptions of the four products (files/<product>.bsd).

They carry what the program knows of each chip: the instruction length, the IDCODE and EXTEST
opcodes, the IDCODE, the boundary length and the cells the NAND and NOR wiring uses. The port names,
cell types and functions are invented for tests, as is BYPASS (all ones, as IEEE 1149.1 has it);
the safe values are the reset images the program starts from. Nothing here is a vendor's file.
Run it from this folder after a change; product_files_test.cpp checks the files against the
program's catalogue and wiring.
"""

# The reset images (cell 0 first), the IDCODE (most significant bit first) and the opcodes in the
# order they are shifted (first character first), as the catalogue holds them.
PRODUCTS = {
    "OBRIN": dict(
        idcode="00000000101011101100101011011101", id_shift="0101", length=298,
        image="1110111111001010101010101010101010101010101010101010101010100000001111111101110101110101010101010101"
              "0101010101010101010101010101010101010101010101010111010101010101010111111101111111111110101010101010"
              "10101010101010101010101000000000000000000101010101010101001001000010101010101010101010101010101010"),
    "TQR2400": dict(
        idcode="00010000000000000001010110111001", id_shift="1011", length=298,
        image="0000000000000000000000000000000000000000000000101000000000000000000000001010100000000000000000000000"
              "0000000000000000101010101011100101000000010000000000000000000101110110000000000000000000000001100001"
              "00000101011000000000000000000000000000000001000001000000000000000000000000000000000000000000000000"),
    "IKA": dict(
        idcode="00010000000000000001010110111001", id_shift="1011", length=185,
        image="0000000000000000000000000000000000000001010001111111010101010000000000000000000000000000000000011000"
              "0101010101000000000101110111011101100000000001111111111111111111100000000000000000000"),
    "VESKAR": dict(
        idcode="00000000001000101011010111100001", id_shift="0101", length=80,
        image="11111111111111111111111111111111101111010111111111111111111111111111111111111111",
        debug_shift="1001"),
}


def runs(*spans):
    """Cells of (first, last, step) runs, as the wiring lists them."""
    cells = []
    for first, last, *step in spans:
        step = step[0] if step else 1
        cells += list(range(first, last + (1 if step > 0 else -1), step))
    return cells


class Register:
    def __init__(self, length):
        self.cells = {}
        self.ports = {}  # name -> width (0 for a bit)

    def port(self, name, width=0):
        self.ports.setdefault(name, width)

    def output(self, cell, port):
        self.cells[cell] = ("BC_1", port, "OUTPUT2", None)

    def input(self, cell, port):
        self.cells[cell] = ("BC_4", port, "INPUT", None)

    def bidir(self, cell, port, control, disable):
        self.cells[cell] = ("BC_7", port, "BIDIR", (control, disable))
        self.cells[control] = ("BC_1", "*", "CONTROL", None)


def nand(register, pins, io0, step, output_level, io_port="NAND_IO"):
    ce, we, re, rb, cle, ale = pins
    for name, cell in (("NAND_CE_N", ce), ("NAND_WE_N", we), ("NAND_RE_N", re), ("NAND_CLE", cle), ("NAND_ALE", ale)):
        register.port(name)
        register.output(cell, name)
    register.port("NAND_RB")
    register.input(rb, "NAND_RB")
    register.port(io_port, 8 if io_port == "NAND_IO" else 16)
    disable = "1" if output_level == "0" else "0"
    for bit in range(8):
        cell = io0 + step * bit
        register.bidir(cell, f"{io_port}({bit})", cell + 1, disable)


def nor(register, data, enables, drive_level, address, oe, we, selects):
    disable = "1" if drive_level == "0" else "0"
    register.port("MEM_D", len(data))
    for bit, (cell, enable) in enumerate(zip(data, enables)):
        register.bidir(cell, f"MEM_D({bit})", enable, disable)
    register.port("MEM_A", len(address))
    for bit, cell in enumerate(address):
        register.output(cell, f"MEM_A({bit})")
    register.port("MEM_OE_N")
    register.output(oe, "MEM_OE_N")
    register.port("MEM_WE_N")
    register.output(we, "MEM_WE_N")
    selects = [cell for cell in selects if cell >= 0]
    register.port("MEM_CS_N", len(selects))
    for bit, cell in enumerate(selects):
        register.output(cell, f"MEM_CS_N({bit})")


def wiring(name):
    register = Register(PRODUCTS[name]["length"])
    if name == "OBRIN":
        nand(register, (170, 168, 171, 173, 187, 189), 166, -2, "1")
        nor(register, runs((295, 265, -2), (240, 254, 2), (221, 207, -2)),
            runs((296, 266, -2), (241, 255, 2), (222, 208, -2)), "1",
            runs((239, 223, -1), (203, 191, -2)), 176, 175, (186, 184, 182, 180, 178, 177, 261, -1))
    elif name == "TQR2400":
        nand(register, (199, 207, 205, 209, 201, 203), 211, 2, "0")
        nor(register, runs((142, 142), (144, 158)), [143] * 16, "0",
            runs((78, 78), (81, 95), (96, 114, 2)), 131, 133, (116, 118, 120, 122, 124, 126, 127, 128))
    elif name == "IKA":
        # The NAND data lines are the low byte of the memory data bus.
        nor(register, runs((63, 93, 2)), runs((64, 94, 2)), "0",
            runs((0, 0), (2, 16), (17, 33, 2)), 47, 48, (46, 51, 53, 55, 57, 59, 39, 41))
        nand(register, (101, 105, 103, 95, 97, 99), 63, 2, "0", io_port="MEM_D")
    else:
        nand(register, (36, 42, 34, 32, 38, 40), 30, -2, "1")
    return register


def text(name):
    product = PRODUCTS[name]
    length = product["length"]
    image = product["image"]
    register = wiring(name)
    lines = [
        f"-- {name}: a test description for zorvjtag's tests. TEST DATA, not a vendor's file.",
        "-- Instruction length, opcodes, IDCODE and boundary length are the program's own for this product;",
        "-- port names, cell types and functions are invented for tests, BYPASS is the all-ones opcode",
        "-- IEEE 1149.1 reserves, and the safe values are the reset image. The product has no SAMPLE or",
        "-- PRELOAD opcode that the program knows, so none is given. Written by make_product_files.py.",
        "",
        f"entity {name} is",
        "",
        "  port (",
        "    TCK, TMS, TDI, TRST_N : in bit;",
        "    TDO : out bit;",
    ]
    for port, width in register.ports.items():
        kind = f"bit_vector(0 to {width - 1})" if width else "bit"
        direction = "in" if port == "NAND_RB" else ("inout" if port in ("NAND_IO", "MEM_D") else "out")
        lines.append(f"    {port} : {direction} {kind};")
    lines += ["    VDD, VSS : linkage bit", "  );", "", "  use STD_1149_1_2001.all;", ""]
    opcodes = [("BYPASS", "1111"), ("EXTEST", "0000"), ("IDCODE", product["id_shift"][::-1])]
    if "debug_shift" in product:
        opcodes.append(("DEBUG_ACCESS", product["debug_shift"][::-1]))
    lines.append(f"  attribute INSTRUCTION_LENGTH of {name} : entity is 4;")
    lines.append(f"  -- Opcodes are written most significant bit first: the rightmost bit is shifted first.")
    lines.append(f"  attribute INSTRUCTION_OPCODE of {name} : entity is")
    lines.append(" &\n".join(f'    "{op} ({bits})' + (',"' if i + 1 < len(opcodes) else '"')
                             for i, (op, bits) in enumerate(opcodes)) + ";")
    lines.append(f'  attribute INSTRUCTION_CAPTURE of {name} : entity is "XX01";')
    code = product["idcode"]
    lines += [
        f"  attribute IDCODE_REGISTER of {name} : entity is",
        f'    "{code[:4]}" &              -- version',
        f'    "{code[4:20]}" &  -- part number',
        f'    "{code[20:31]}" &       -- manufacturer',
        f'    "{code[31]}";',
        f"  attribute REGISTER_ACCESS of {name} : entity is",
        '    "BOUNDARY (EXTEST), DEVICE_ID (IDCODE), BYPASS (BYPASS)";',
        "",
        f"  attribute BOUNDARY_LENGTH of {name} : entity is {length};",
        f"  attribute BOUNDARY_REGISTER of {name} : entity is",
        "    --  num  cell  port          function  safe  ccell  disval  rslt",
    ]
    entries = []
    for cell in range(length):
        kind, port, function, control = register.cells.get(cell, ("BC_1", "*", "INTERNAL", None))
        safe = image[cell]
        fields = f"{kind}, {port}, {function}, {safe}"
        if control:
            fields += f", {control[0]}, {control[1]}, Z"
        entries.append(f"{cell} ({fields})")
    for i, entry in enumerate(entries):
        lines.append(f'    "{entry}' + (',"  &' if i + 1 < len(entries) else '";'))
    lines += ["", f"end {name};", ""]
    return "\n".join(lines)


if __name__ == "__main__":
    for name in PRODUCTS:
        with open(f"files/{name.lower()}.bsd", "w") as out:
            out.write(text(name))
