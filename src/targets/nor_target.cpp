#include "targets/nor_target.h"

#include <cstring>

#include "cable/bit_string.h"
#include "targets/catalogue.h"

namespace zorv {

void NorTarget::setPin(JtagCable& cable, int position, char* image, char level) {
  if (position < 0) return;
  image[position] = level;
  cable.shiftDr(image, cable.bsrLength);
}

int NorTarget::prepare(JtagCable&, char*, char*, JobPage&) { return 0; }

namespace {

// The cycles every boundary-scan product shares; the products differ in their cells.
class BoundaryNorTarget : public NorTarget {
 public:
  int readCycle(JtagCable& cable, char* image, char* capture, uint32_t address, uint32_t* values, int,
                int width) override {
    releaseBus(image);
    setAddress(image, address);
    image[outputEnableCell()] = '0';
    cable.shiftDr(image, cable.bsrLength);
    cable.shiftDrCapture(image, capture, cable.bsrLength);
    image[outputEnableCell()] = '1';
    cable.shiftDr(image, cable.bsrLength);
    values[0] = getData(capture, width);
    return 0;
  }

  int writeCycle(JtagCable& cable, char* image, uint32_t address, uint32_t value, int, int width) override {
    setAddress(image, address);
    if (setData(image, value, width, 0) != 0) return -1;
    image[writeEnableCell()] = '0';
    cable.shiftDr(image, cable.bsrLength);
    image[writeEnableCell()] = '1';
    cable.shiftDr(image, cable.bsrLength);
    return 0;
  }

 protected:
  virtual void releaseBus(char* image) = 0;
  virtual int outputEnableCell() const = 0;
  virtual int writeEnableCell() const = 0;

  static void placeBits(char* image, const int* cells, int count, uint32_t value) {
    for (int n = 0; n < count; ++n) image[cells[n]] = bitChar((value >> n) & 1u);
  }
};

// --- OBRIN: 32 data lines, each with its own enable cell ('1' drives) ---

constexpr int obrinDataCell(int n) {
  return n < 16 ? 295 - 2 * n : n < 24 ? 240 + 2 * (n - 16) : 221 - 2 * (n - 24);
}
constexpr int obrinEnableCell(int n) { return obrinDataCell(n) + 1; }
constexpr int obrinAddressCell(int n) { return n <= 16 ? 239 - n : 203 - 2 * (n - 17); }

class ObrinNorTarget final : public BoundaryNorTarget {
 public:
  void init(JtagCable& cable, char* productName, char** image) override {
    *image = loadChip(cable, Obrin, productName, ChipVariant::Boundary);
  }
  int setData(char* image, uint32_t value, int width, int) override {
    if (width < 1 || width > 32) return -1;
    for (int n = 0; n < 16; ++n) image[obrinEnableCell(n)] = '1';
    const int low = width < 16 ? width : 16;
    for (int n = 0; n < low; ++n) image[obrinDataCell(n)] = bitChar((value >> n) & 1u);
    if (width <= 16) return 0;
    for (int n = 16; n < 32; ++n) {
      image[obrinEnableCell(n)] = '1';
      image[obrinDataCell(n)] = bitChar((value >> n) & 1u);
    }
    return 0;
  }
  void setAddress(char* image, uint32_t address) override {
    for (int n = 0; n < 24; ++n) image[obrinAddressCell(n)] = bitChar((address >> n) & 1u);
  }
  uint32_t getData(const char* capture, int width) override {
    const int lines = width > 16 ? 32 : width;
    uint32_t value = 0;
    for (int n = 0; n < lines; ++n) value |= static_cast<uint32_t>(capture[obrinDataCell(n)] == '1') << n;
    return value;
  }
  int chipSelectCell(uint32_t address) override {
    static constexpr int kCells[8] = {186, 184, 182, 180, 178, 177, 261, -1};
    return kCells[address >> 29];
  }

 protected:
  void releaseBus(char* image) override {
    for (int n = 0; n < 32; ++n) image[obrinEnableCell(n)] = '0';
  }
  int outputEnableCell() const override { return 176; }
  int writeEnableCell() const override { return 175; }
};

// --- TQR2400: one enable cell for the whole bus ('0' drives) ---

constexpr int kTqrBusEnable = 143;
constexpr int tqrDataCell(int n) { return n == 0 ? 142 : 143 + n; }
constexpr int tqrAddressCell(int n) { return n == 0 ? 78 : n <= 15 ? 80 + n : 96 + 2 * (n - 16); }

class Tqr2400NorTarget final : public BoundaryNorTarget {
 public:
  void init(JtagCable& cable, char* productName, char** image) override {
    *image = loadChip(cable, Tqr2400, productName, ChipVariant::Boundary);
  }
  int setData(char* image, uint32_t value, int width, int) override {
    if (width < 1 || width > 16) return -1;
    image[kTqrBusEnable] = '0';
    for (int n = 0; n < width; ++n) image[tqrDataCell(n)] = bitChar((value >> n) & 1u);
    return 0;
  }
  void setAddress(char* image, uint32_t address) override {
    address &= 0x3FFFFFFu;
    for (int n = 0; n < 26; ++n) image[tqrAddressCell(n)] = bitChar((address >> n) & 1u);
  }
  uint32_t getData(const char* capture, int width) override {
    const int lines = width > 16 ? 16 : width;
    uint32_t value = 0;
    for (int n = 0; n < lines; ++n) value |= static_cast<uint32_t>(capture[tqrDataCell(n)] == '1') << n;
    return value;
  }
  int chipSelectCell(uint32_t address) override {
    static constexpr int kCells[8] = {116, 118, 120, 122, 124, 126, 127, 128};
    return kCells[address >> 29];
  }

 protected:
  void releaseBus(char* image) override { image[kTqrBusEnable] = '1'; }
  int outputEnableCell() const override { return 131; }
  int writeEnableCell() const override { return 133; }
};

// --- IKA: sixteen data lines with their own enable cells ('0' drives) ---

constexpr int ikaDataCell(int n) { return 63 + 2 * n; }
constexpr int ikaEnableCell(int n) { return 64 + 2 * n; }
constexpr int ikaAddressCell(int n) { return n == 0 ? 0 : n <= 15 ? n + 1 : 17 + 2 * (n - 16); }

class IkaNorTarget final : public BoundaryNorTarget {
 public:
  void init(JtagCable& cable, char* productName, char** image) override {
    *image = loadChip(cable, Ika, productName, ChipVariant::Boundary);
  }
  int setData(char* image, uint32_t value, int width, int) override {
    if (width < 1 || width > 16) return -1;
    for (int n = 0; n < width; ++n) image[ikaEnableCell(n)] = '0';
    for (int n = 0; n < width; ++n) image[ikaDataCell(n)] = bitChar((value >> n) & 1u);
    return 0;
  }
  void setAddress(char* image, uint32_t address) override {
    if (address >= 0x20000000u) address &= 0x1FFFFFFFu;
    for (int n = 0; n < 25; ++n) image[ikaAddressCell(n)] = bitChar((address >> n) & 1u);
  }
  // All sixteen lines, whatever the width: the caller masks to its bus.
  uint32_t getData(const char* capture, int) override {
    uint32_t value = 0;
    for (int n = 0; n < 16; ++n) value |= static_cast<uint32_t>(capture[ikaDataCell(n)] == '1') << n;
    return value & 0xFFFFu;
  }
  int chipSelectCell(uint32_t address) override {
    static constexpr int kCells[8] = {46, 51, 53, 55, 57, 59, 39, 41};
    return kCells[address >> 29];
  }

 protected:
  void releaseBus(char* image) override {
    for (int n = 0; n < 16; ++n) image[ikaEnableCell(n)] = '1';
  }
  int outputEnableCell() const override { return 47; }
  int writeEnableCell() const override { return 48; }
};

// --- VESKAR: debug-access frames, character 0 shifted first ---

constexpr int kFrameAddress = 16;
constexpr int kFrameCount = 48;
constexpr int kFrameBody = 52;

void putText(char* frame, int at, const char* text) { std::memcpy(frame + at, text, std::strlen(text)); }
void putZeros(char* frame, int at, int count) { std::memset(frame + at, '0', static_cast<size_t>(count)); }

uint32_t readMsbFirst(const char* bits, int at, int width) {
  uint32_t value = 0;
  for (int i = 0; i < width; ++i) value = (value << 1) | static_cast<uint32_t>(bits[at + i] == '1');
  return value;
}

class VeskarNorTarget final : public NorTarget {
 public:
  void init(JtagCable& cable, char* productName, char** image) override {
    *image = loadChip(cable, Veskar, productName, ChipVariant::VeskarDebug);
  }
  // The data byte of a byte write; VESKAR's NOR bus is eight bits wide whatever width says.
  int setData(char* image, uint32_t value, int, int) override {
    putMsbFirst(image + kFrameBody, value & 0xFFu, 8);
    return 0;
  }
  void setAddress(char* image, uint32_t address) override { putMsbFirst(image + kFrameAddress, address, 32); }

  int readCycle(JtagCable& cable, char* image, char* capture, uint32_t address, uint32_t* values, int count,
                int) override {
    putText(image, 0, "10101");
    putText(image, 5, "00000000000");
    setAddress(image, address);
    putMsbFirst(image + kFrameCount, static_cast<uint32_t>(count), 4);
    putZeros(image, kFrameBody, 8 + 10 * count);
    image[60 + 10 * count] = '1';
    cable.shiftDrCapture(image, capture, 61 + 10 * count);
    for (int j = 0; j < count; ++j) values[j] = readMsbFirst(capture, 63 + 10 * j, 8);
    return 0;
  }

  int writeCycle(JtagCable& cable, char* image, uint32_t address, uint32_t value, int, int width) override {
    putText(image, 0, "10110");
    putText(image, 5, "01000000000");
    setAddress(image, address);
    putText(image, kFrameCount, "0000");
    setData(image, value, width, 0);
    putZeros(image, 60, 8);
    image[68] = '1';
    cable.shiftDr(image, 69);
    return 0;
  }

  uint32_t getData(const char*, int) override { return 0; }
  int chipSelectCell(uint32_t) override { return 0; }
  void setPin(JtagCable&, int, char*, char) override {}

  int prepare(JtagCable& cable, char* image, char* capture, JobPage& page) override {
    cable.shiftDr("00000", 5);
    cable.shiftDr("100101", 6);
    cable.shiftDr("00011", 5);
    const uint32_t v = readWord(cable, image, capture, kVeskarBank0Register);
    writeWord(cable, image, kVeskarBank0Register, v + 1);
    if (readWord(cable, image, capture, kVeskarBank0Register) != v + 1) {
      page.messageBox("Cannot run debug mode on VESKAR");
      return -1;
    }
    writeWord(cable, image, kVeskarBank0Register, kVeskarBank0Config);
    if (readWord(cable, image, capture, kVeskarBank0Register) != kVeskarBank0Config) {
      page.messageBox("Cannot set flash config register of VESKAR");
      return -1;
    }
    return 0;
  }

 private:
  // One item; the last 24 characters of the item's slot keep whatever the buffer held.
  static uint32_t readWord(JtagCable& cable, char* image, char* capture, uint32_t address) {
    putText(image, 0, "10001");
    putText(image, 5, "00000001000");
    putMsbFirst(image + kFrameAddress, address, 32);
    putMsbFirst(image + kFrameCount, 1, 4);
    putZeros(image, kFrameBody, 32);
    putZeros(image, 84, 10);
    image[84 + 34] = '1';
    cable.shiftDrCapture(image, capture, 85 + 34);
    return readMsbFirst(capture, 87, 32);
  }
  static void writeWord(JtagCable& cable, char* image, uint32_t address, uint32_t value) {
    putText(image, 0, "10010");
    putText(image, 5, "01000001000");
    putMsbFirst(image + kFrameAddress, address, 32);
    putText(image, kFrameCount, "0000");
    putMsbFirst(image + kFrameBody, value, 32);
    putZeros(image, 84, 32);
    image[116] = '1';
    cable.shiftDr(image, 117);
  }
};

}  // namespace

std::unique_ptr<NorTarget> makeNorTarget(int product) {
  switch (product) {
    case Obrin: return std::make_unique<ObrinNorTarget>();
    case Tqr2400: return std::make_unique<Tqr2400NorTarget>();
    case Ika: return std::make_unique<IkaNorTarget>();
    case Veskar: return std::make_unique<VeskarNorTarget>();
    default: return nullptr;
  }
}

}  // namespace zorv
