#pragma once

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace zorv::bench {

// Writes size bytes of a fixed pseudo-random image into the temporary folder (named from prefix
// and the process) and returns its path: every bench run downloads the same bytes.
inline std::string writeBenchImage(uint32_t size, const std::string& prefix) {
  std::vector<char> bytes(size);
  uint32_t seed = 11;
  for (char& b : bytes) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<char>(seed >> 16);
  }
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / (prefix + std::to_string(getpid()) + ".bin");
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path.string();
}

}  // namespace zorv::bench
