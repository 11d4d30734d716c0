#include "readback/output_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace zorv {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

Bytes slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool writeAll(OutputFile& out, const Bytes& bytes) { return out.write(bytes.data(), bytes.size()); }

// Only a file the read made itself is written, and only a regular file (or none) is replaced.
TEST(OutputFile, WritesOnlyAFileOfItsOwnAndReplacesOnlyARegularFile) {
  const fs::path dir = fs::temp_directory_path() / ("zorv_output_" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directory(dir);
  const fs::path fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  fs::create_symlink(fifo, dir / "link");
  fs::create_directory(dir / "folder");

  // Refused before anything is written, the thing left as it was.
  for (const char* name : {"fifo", "link", "folder"}) {
    OutputFile out((dir / name).string());
    EXPECT_FALSE(out.open()) << name;
    EXPECT_EQ(out.refusal(), "Cannot create " + (dir / name).string() + ": not a regular file");
  }
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_TRUE(fs::is_symlink(dir / "link"));
  EXPECT_TRUE(fs::is_empty(dir / "folder"));

  // What an earlier run left under a partial name is never opened, a FIFO above all (kept readable
  // here so that writing into it would not hang the test).
  const fs::path out = dir / "copy.bin";
  ASSERT_EQ(::mkfifo((out.string() + ".part").c_str(), 0600), 0);
  const int reader = ::open((out.string() + ".part").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  OutputFile first(out.string());
  ASSERT_TRUE(first.open());
  EXPECT_TRUE(fs::is_regular_file(first.partPath()));
  // Two reads to the same file at once each write their own.
  OutputFile second(out.string());
  ASSERT_TRUE(second.open());
  EXPECT_NE(second.partPath(), first.partPath());
  ASSERT_TRUE(writeAll(first, {1, 2, 3, 4}));
  ASSERT_TRUE(writeAll(second, {9}));
  ASSERT_TRUE(second.commit());
  EXPECT_EQ(slurp(out), Bytes{9});
  ASSERT_TRUE(first.commit());
  EXPECT_EQ(slurp(out), (Bytes{1, 2, 3, 4}));
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(out)));
  ::close(reader);
  EXPECT_TRUE(fs::is_fifo(out.string() + ".part"));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace zorv
