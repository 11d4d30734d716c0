#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <functional>
#include <thread>
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

#include <cstdio>
#include <optional>
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

inline std::string lastErrorText(const char* call) {
  const DWORD code = GetLastError();
  char text[256] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text, sizeof text,
                 nullptr);
  std::string message = text;
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
    message.pop_back();
  }
  return std::string(call) + " failed, error " + std::to_string(code) + (message.empty() ? "" : ": " + message);
}

// Starts the program and waits for it; nothing, with the cause, when it could not be started.
// When stopAfter is seen on its stdout, it gets Ctrl-Break, as from a user ending a run that only
// ends when asked to.
inline std::optional<Outcome> startAndWait(const std::string& binary, const std::vector<std::string>& args,
                                           const std::string& stopAfter, std::string& cause,
                                           int /*stopSignal: Ctrl-Break only here*/ = 0) {
  std::string commandLine = quotedArgument(binary);
  for (const auto& a : args) {
    commandLine += ' ';
    commandLine += quotedArgument(a);
  }
  SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE outRead, outWrite, errRead, errWrite;
  if (!CreatePipe(&outRead, &outWrite, &inherited, 0)) {
    cause = lastErrorText("CreatePipe");
    return std::nullopt;
  }
  if (!CreatePipe(&errRead, &errWrite, &inherited, 0)) {
    cause = lastErrorText("CreatePipe");
    CloseHandle(outRead);
    CloseHandle(outWrite);
    return std::nullopt;
  }
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
  if (!started) cause = lastErrorText("CreateProcess");
  CloseHandle(outWrite);
  CloseHandle(errWrite);
  if (!started) {
    CloseHandle(outRead);
    CloseHandle(errRead);
    return std::nullopt;
  }
  Outcome outcome;
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
  // The program never ends with -1 on its own; with not a byte written, wine (loaded) did not get
  // it running.
  if (outcome.status == -1 && outcome.out.empty() && outcome.err.empty()) {
    cause = "it ended with status -1 before writing anything";
    return std::nullopt;
  }
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

// The command line built beside this test program.
inline std::string zorvjtagPath() {
  char self[MAX_PATH];
  const std::string selfPath(self, GetModuleFileNameA(nullptr, self, MAX_PATH));
  return selfPath.substr(0, selfPath.find_last_of("\\/") + 1) + ZORVJTAG_BINARY;
}

#else

inline std::string errnoText(const char* call, int code) { return std::string(call) + ": " + std::strerror(code); }

// Starts the program and waits for it; nothing, with the cause, when it could not be started.
// When stopAfter is seen on its stdout, it gets stopSignal (SIGTERM, as from a user ending a run
// that only ends when asked to); SIGPIPE stands for its reader going away (`| head -1`): the read
// end of its stdout is closed instead.
inline std::optional<Outcome> startAndWait(const std::string& binary, const std::vector<std::string>& args,
                                           const std::string& stopAfter, std::string& cause,
                                           int stopSignal = SIGTERM) {
  if (stopSignal == 0) stopSignal = SIGTERM;  // the callers' default, shared with Windows
  std::vector<std::string> words{binary};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  // Close-on-exec: only the child's standard output and error (dup2 clears the flag there) stay
  // open in it, and in no other program started meanwhile.
  int outPipe[2], errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0) {
    cause = errnoText("pipe", errno);
    return std::nullopt;
  }
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    cause = errnoText("pipe", errno);
    close(outPipe[0]);
    close(outPipe[1]);
    return std::nullopt;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  pid_t pid = -1;
  // posix_spawn reports a failed fork and a failed exec alike, with its cause.
  const int spawned = posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(errPipe[1]);
  if (spawned != 0) {
    cause = errnoText("posix_spawn", spawned);
    close(outPipe[0]);
    close(errPipe[0]);
    return std::nullopt;
  }
  Outcome outcome;
  bool signalled = false;
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  int open = 2;
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
        continue;
      }
      (i == 0 ? outcome.out : outcome.err).append(buffer, static_cast<size_t>(n));
    }
    if (!stopAfter.empty() && !signalled && outcome.out.find(stopAfter) != std::string::npos) {
      if (stopSignal != SIGPIPE) {
        kill(pid, stopSignal);
      } else if (fds[0].fd >= 0) {
        close(fds[0].fd);
        fds[0].fd = -1;
        --open;
      }
      signalled = true;
    }
  }
  for (const pollfd& f : fds) {
    if (f.fd >= 0) close(f.fd);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

inline std::string zorvjtagPath() { return ZORVJTAG_BINARY; }

#endif

// Runs a program and returns what it printed and its exit status. A start that fails (the
// system could not make the process, as under heavy load) is said on standard error with its
// cause and tried once more; when that fails too, the outcome is status -1 with the cause in err.
inline Outcome runProgram(const std::string& binary, const std::vector<std::string>& args,
                          const std::string& stopAfter = "", int stopSignal = 0) {
  std::string cause;
  if (std::optional<Outcome> ran = startAndWait(binary, args, stopAfter, cause, stopSignal)) return *ran;
  std::fprintf(stderr, "run_zorvjtag: could not start %s (%s); trying once more\n", binary.c_str(), cause.c_str());
  if (std::optional<Outcome> ran = startAndWait(binary, args, stopAfter, cause, stopSignal)) return *ran;
  Outcome failed;
  failed.err = "could not start " + binary + ", tried twice: " + cause;
  return failed;
}

// Runs the command line built for these tests.
inline Outcome runZorvjtag(std::vector<std::string> args, const std::string& stopAfter = "", int stopSignal = 0) {
  return runProgram(zorvjtagPath(), args, stopAfter, stopSignal);
}

}  // namespace zorv::testing
