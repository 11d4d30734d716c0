#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "bsdl/bsdl_device.h"
#include "bsdl_files.h"

namespace zorv {
namespace {

// Pieces of BSDL that a mutation drops into a file, so that damaged files still reach deep into the
// grammar rather than failing at the first word.
using namespace std::string_view_literals;
constexpr std::string_view kPieces[] = {
    "(", ")", ",", ";", ":", "&", "\"", "\"\"", "--", "\n", "\r\n", " ", "*", "X", "0", "1", "01",
    "99999999999", "2147483647", "-1", "to", "downto", "bit_vector", "entity", "is", "attribute",
    "BOUNDARY_REGISTER", "INSTRUCTION_LENGTH", "CONTROL", "INPUT", "BIDIR", "OUTPUT3", "end",
    "((((((((((((((((((((", ")))))))))))))))))))", "\" & \"", "\xff", "\0"sv,
};

std::vector<std::string> seedFiles() {
  std::vector<std::filesystem::path> paths;
  for (const auto& entry : std::filesystem::directory_iterator(ZORV_BSDL_FILES)) {
    if (entry.path().extension() == ".bsd") paths.push_back(entry.path());
  }
  std::sort(paths.begin(), paths.end());
  std::vector<std::string> seeds;
  for (const auto& path : paths) seeds.push_back(testing::bsdlFileText(path.filename().string()));
  return seeds;
}

void mutate(std::string& text, std::mt19937& random) {
  auto position = [&] { return text.empty() ? size_t{0} : random() % (text.size() + 1); };
  switch (random() % 6) {
    case 0:  // flip a bit
      if (!text.empty()) text[random() % text.size()] ^= static_cast<char>(1 << (random() % 8));
      break;
    case 1:  // cut the file short
      text.resize(position());
      break;
    case 2: {  // duplicate a stretch
      const size_t from = position();
      const std::string stretch = text.substr(from, random() % 200);
      text.insert(position(), stretch);
      break;
    }
    case 3: {  // delete a stretch
      const size_t from = position();
      text.erase(from, random() % 40);
      break;
    }
    case 4:  // drop in a piece of BSDL
      text.insert(position(), kPieces[random() % std::size(kPieces)]);
      break;
    default: {  // change a number
      const size_t digit = text.find_first_of("0123456789", position());
      if (digit != std::string::npos) text.insert(digit, std::to_string(random() % 3 == 0 ? random() : random() % 400));
      break;
    }
  }
}

// Damaged files give a device or a BsdlError: never a crash, a hang or another exception. The seeds
// are the test files (the corpus the fuzzer starts from); the mutations are the same on every run.
TEST(BsdlFuzz, DamagedFilesGiveADeviceOrAnError) {
  const std::vector<std::string> seeds = seedFiles();
  ASSERT_GE(seeds.size(), 5u);
  std::mt19937 random(26);
  int devices = 0;
  int errors = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string text = seeds[static_cast<size_t>(round) % seeds.size()];
    const int edits = 1 + static_cast<int>(random() % 4);
    for (int k = 0; k < edits; ++k) mutate(text, random);
    try {
      parseBsdl(text, "fuzz.bsd");
      ++devices;
    } catch (const BsdlError&) {
      ++errors;
    } catch (const std::exception& other) {
      ADD_FAILURE() << "round " << round << ": " << other.what();
    }
  }
  // Both ends reached: some damage is harmless (in a comment, a skipped attribute), most is not.
  EXPECT_GT(devices, 50);
  EXPECT_GT(errors, 2000);
}

}  // namespace
}  // namespace zorv
