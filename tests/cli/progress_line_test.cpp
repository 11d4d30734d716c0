#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/run_zorvjtag.h"

namespace {

namespace fs = std::filesystem;

struct ImageFile {
  fs::path path;
  explicit ImageFile(size_t size) {
    path = fs::temp_directory_path() / ("zorv_progress_cli_" + std::to_string(getpid()) + ".bin");
    std::ofstream out(path, std::ios::binary);
    for (size_t i = 0; i < size; ++i) out.put(static_cast<char>(i * 13 + 1));
  }
  ~ImageFile() {
    std::error_code ignored;
    fs::remove(path, ignored);
  }
};

// Runs the command line on a pseudo-terminal, as a user at a terminal would; returns everything it
// printed there.
std::string runOnTerminal(std::vector<std::string> args, unsigned short columns = 0) {
  std::string binary = ZORVJTAG_BINARY;
  std::vector<char*> argv{binary.data()};
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int master = -1;
  winsize size{};
  size.ws_row = 24;
  size.ws_col = columns;
  const pid_t pid = forkpty(&master, nullptr, nullptr, columns ? &size : nullptr);
  if (pid == 0) {
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  std::string seen;
  char buffer[4096];
  ssize_t n;
  while ((n = read(master, buffer, sizeof buffer)) > 0) seen.append(buffer, static_cast<size_t>(n));
  close(master);
  waitpid(pid, nullptr, 0);
  return seen;
}

std::vector<std::string> nandDownload(const ImageFile& image) {
  return {"--cable", "sim:chip=OBRIN,nand=0xDA", "nand", "--product", "OBRIN", image.path.string()};
}

TEST(ProgressOnTerminal, RateAndEtaShownAndErasedBeforeTheNextLogLine) {
  const ImageFile image(64 * 1024);
  const std::string seen = runOnTerminal(nandDownload(image));
  ASSERT_NE(seen.find("Download Complete."), std::string::npos) << seen;
  const size_t eta = seen.find("  ETA ");
  ASSERT_NE(eta, std::string::npos) << seen;
  const size_t lineStart = seen.rfind('\r', eta);
  EXPECT_NE(seen.find(" KiB / 64 KiB  ", lineStart), std::string::npos) << seen;
  EXPECT_NE(seen.find("KiB/s  elapsed 0:", lineStart), std::string::npos) << seen;
  // The progress line went below the unfinished "  Programming to 0x0 ... " and is erased before
  // "Done." goes out, with the cursor back at that line's end.
  const std::string programming = "  Programming to 0x0 ... ";
  EXPECT_NE(seen.find(programming + "\r\n\r\033[K  "), std::string::npos) << seen;
  EXPECT_NE(seen.find("\r\033[K\033[A\033[" + std::to_string(programming.size()) + "CDone."), std::string::npos)
      << seen;
}

TEST(ProgressOnTerminal, LineIsCutToANarrowTerminalNeverWrapped) {
  const ImageFile image(64 * 1024);
  const std::string seen = runOnTerminal(nandDownload(image), 40);
  ASSERT_NE(seen.find("Download Complete."), std::string::npos) << seen;
  size_t drawn = 0;
  size_t withEta = 0;
  for (size_t at = seen.find("\r\033[K  "); at != std::string::npos; at = seen.find("\r\033[K  ", at + 1)) {
    const size_t start = at + 4;
    const size_t end = seen.find_first_of("\r\n", start);
    const std::string text = seen.substr(start, end - start);
    if (text.find('%') == std::string::npos) continue;  // a log line
    EXPECT_LT(text.size(), 40u) << text;
    ++drawn;
    if (text.find("  ETA ") != std::string::npos) ++withEta;
  }
  EXPECT_GT(drawn, 0u) << seen;
  EXPECT_GT(withEta, 0u) << seen;  // the fields that matter least went first
}

TEST(ProgressOnTerminal, NothingButTheLogWhenPiped) {
  const ImageFile image(8 * 1024);
  const zorv::testing::Outcome outcome = zorv::testing::runZorvjtag(nandDownload(image));
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.err, "Download Complete.\n");
  EXPECT_EQ(outcome.out.find('\r'), std::string::npos);
}

}  // namespace
