#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace zorv::testing {

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the built command line. When stopAfter is seen on its stdout, it gets SIGTERM, as from a
// user ending a run that only ends when asked to.
inline Outcome runZorvjtag(std::vector<std::string> args, const std::string& stopAfter = "") {
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

}  // namespace zorv::testing
