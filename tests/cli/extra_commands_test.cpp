#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the built command line. When stopAfter is seen on its stdout, it gets SIGTERM, as from a
// user ending a run that only ends when asked to.
Outcome runZorvjtag(std::vector<std::string> args, const std::string& stopAfter = "") {
  // Everything the child needs is made before the fork: it only redirects and execs.
  std::string binary = ZORVJTAG_BINARY;
  std::vector<char*> argv{binary.data()};
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int outPipe[2], errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    close(outPipe[0]);
    close(errPipe[0]);
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  Outcome outcome;
  bool signalled = false;
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  int open = 2;
  while (open > 0 && poll(fds, 2, -1) > 0) {
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
        continue;
      }
      (i == 0 ? outcome.out : outcome.err).append(buffer, static_cast<size_t>(n));
    }
    if (!stopAfter.empty() && !signalled && outcome.out.find(stopAfter) != std::string::npos) {
      kill(pid, SIGTERM);
      signalled = true;
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

TEST(ExtraCommands, IdcodeOnTheVirtualBoard) {
  const Outcome ok = runZorvjtag({"--cable", "sim", "idcode", "--product", "OBRIN"});
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ok.out, "[READ JTAG ID]\n  JTAG ID: Ver(0x0), Part(0x00AE), Maker(0xCAD)\n\n");

  const Outcome wrongChip = runZorvjtag({"--cable", "sim:chip=TQR2400", "idcode", "--product", "obrin"});
  EXPECT_EQ(wrongChip.status, 1);
  EXPECT_EQ(wrongChip.err, "Cannot read JTAG ID\n");
  EXPECT_EQ(wrongChip.out, "[READ JTAG ID]\n\n");
}

TEST(ExtraCommands, BadUsageIsStatus2) {
  EXPECT_EQ(runZorvjtag({"--cable", "sim", "idcode", "--product", "Z80"}).status, 2);
  EXPECT_EQ(runZorvjtag({"--cable", "sim", "toggle"}).status, 2);
  EXPECT_EQ(runZorvjtag({"--cable", "sim:frobnicate", "idcode", "--product", "IKA"}).status, 2);
}

TEST(ExtraCommands, ToggleRunsUntilTerminatedThenStopsCleanly) {
  const Outcome run = runZorvjtag({"--cable", "sim:chip=VESKAR", "toggle", "--product", "VESKAR", "--toggle-cs"},
                                  "Start toggling ... ");
  EXPECT_EQ(run.status, 130) << run.err;
  EXPECT_EQ(run.out,
            "[Toggling All Boundary]\n  JTAG ID: Ver(0x0), Part(0x0022), Maker(0xB5E)\n"
            "  Start toggling ... STOP.\n\n");
  EXPECT_EQ(run.err, "");
}

}  // namespace
