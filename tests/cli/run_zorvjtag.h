#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <functional>
#include <thread>
#else
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <string>
#include <vector>

namespace zorv::testing {

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

#ifdef _WIN32

// One argument as the C runtime splits a command line again.
inline std::string quotedArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, '\\');
  return quoted + '"';
}

// Runs the command line built beside this test program. When stopAfter is seen on its stdout, it
// gets Ctrl-Break, as from a user ending a run that only ends when asked to.
inline Outcome runZorvjtag(std::vector<std::string> args, const std::string& stopAfter = "") {
  char self[MAX_PATH];
  const std::string selfPath(self, GetModuleFileNameA(nullptr, self, MAX_PATH));
  std::string binary = selfPath.substr(0, selfPath.find_last_of("\\/") + 1);
  binary.append(ZORVJTAG_BINARY);
  std::string commandLine = quotedArgument(binary);
  for (const auto& a : args) {
    commandLine += ' ';
    commandLine += quotedArgument(a);
  }
  SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE outRead, outWrite, errRead, errWrite;
  if (!CreatePipe(&outRead, &outWrite, &inherited, 0) || !CreatePipe(&errRead, &errWrite, &inherited, 0)) return {};
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = outWrite;
  startup.hStdError = errWrite;
  PROCESS_INFORMATION process{};
  // A group of its own, so the Ctrl-Break reaches the child and not this test.
  const bool started = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP,
                                      nullptr, nullptr, &startup, &process);
  CloseHandle(outWrite);
  CloseHandle(errWrite);
  Outcome outcome;
  if (!started) {
    CloseHandle(outRead);
    CloseHandle(errRead);
    return outcome;
  }
  auto drain = [](HANDLE pipe, std::string& text, const std::function<void()>& onText) {
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0) {
      text.append(buffer, n);
      onText();
    }
    CloseHandle(pipe);
  };
  std::thread errors([&] { drain(errRead, outcome.err, [] {}); });
  bool signalled = false;
  drain(outRead, outcome.out, [&] {
    if (!stopAfter.empty() && !signalled && outcome.out.find(stopAfter) != std::string::npos) {
      GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, process.dwProcessId);
      signalled = true;
    }
  });
  errors.join();
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  outcome.status = static_cast<int>(status);
  // The program's output is text: Windows ends its lines with "\r\n", read back here as "\n".
  for (std::string* text : {&outcome.out, &outcome.err}) {
    std::string plain;
    for (size_t i = 0; i < text->size(); ++i) {
      if ((*text)[i] != '\r' || i + 1 == text->size() || (*text)[i + 1] != '\n') plain += (*text)[i];
    }
    *text = std::move(plain);
  }
  return outcome;
}

#else

// Runs the built command line. When stopAfter is seen on its stdout, it gets stopSignal (SIGTERM,
// as from a user ending a run that only ends when asked to); SIGPIPE stands for its reader going
// away (`| head -1`): the read end of its stdout is closed instead.
inline Outcome runZorvjtag(std::vector<std::string> args, const std::string& stopAfter = "", int stopSignal = SIGTERM) {
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
      signalled = true;
      if (stopSignal != SIGPIPE) {
        kill(pid, stopSignal);
      } else if (fds[0].fd >= 0) {
        close(fds[0].fd);
        fds[0].fd = -1;
        --open;
      }
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

#endif

}  // namespace zorv::testing
