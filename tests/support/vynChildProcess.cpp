#include "vynChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

extern char** environ;

namespace vyn::test {

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point ADeadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(ADeadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

TChildProcess::TChildProcess(const std::string& AProgram, const std::vector<std::string>& AArgs) {
  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0) {
    FStartError = std::strerror(errno);
    return;
  }
  if (::pipe2(err, O_CLOEXEC) != 0) {
    FStartError = std::strerror(errno);
    ::close(out[0]);
    ::close(out[1]);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(AProgram.c_str()));
  for (const auto& a : AArgs) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int rc = ::posix_spawnp(&pid, AProgram.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  ::close(err[1]);
  if (rc != 0) {
    FStartError = AProgram + ": " + std::strerror(rc);
    ::close(out[0]);
    ::close(err[0]);
    return;
  }
  FPid = pid;
  FOutFd = out[0];
  FErrFd = err[0];
}

TChildProcess::~TChildProcess() {
  if (FPid > 0 && FStatus < 0) {
    ::kill(FPid, SIGKILL);
    int status = 0;
    ::waitpid(FPid, &status, 0);
  }
  if (FOutFd >= 0) ::close(FOutFd);
  if (FErrFd >= 0) ::close(FErrFd);
}

void TChildProcess::Pump(int ATimeoutMs) {
  pollfd fds[2];
  int n = 0;
  if (FOutFd >= 0) fds[n++] = {FOutFd, POLLIN, 0};
  if (FErrFd >= 0) fds[n++] = {FErrFd, POLLIN, 0};
  if (n == 0) {
    if (ATimeoutMs > 0) ::usleep(static_cast<useconds_t>(std::min(ATimeoutMs, 10)) * 1000);
    return;
  }
  if (::poll(fds, static_cast<nfds_t>(n), ATimeoutMs) <= 0) return;
  for (int i = 0; i < n; ++i) {
    if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    char buffer[65536];
    const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
    const bool isOut = fds[i].fd == FOutFd;
    if (got > 0) {
      (isOut ? FOut : FErr).append(buffer, static_cast<size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      ::close(fds[i].fd);
      (isOut ? FOutFd : FErrFd) = -1;
    }
  }
}

bool TChildProcess::WaitFor(const std::string& ABuffer, std::string_view AText, int ATimeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ATimeoutMs);
  for (;;) {
    if (ABuffer.find(AText) != std::string::npos) return true;
    const int left = MsLeft(deadline);
    if (left == 0 || (FOutFd < 0 && FErrFd < 0)) return ABuffer.find(AText) != std::string::npos;
    Pump(std::min(left, 50));
  }
}

bool TChildProcess::WaitForOutput(std::string_view AText, int ATimeoutMs) { return WaitFor(FOut, AText, ATimeoutMs); }

bool TChildProcess::WaitForError(std::string_view AText, int ATimeoutMs) { return WaitFor(FErr, AText, ATimeoutMs); }

int TChildProcess::Wait(int ATimeoutMs) {
  if (FPid <= 0) return -1;
  const auto deadline = Clock::now() + std::chrono::milliseconds(ATimeoutMs);
  while (FStatus < 0) {
    int status = 0;
    const pid_t r = ::waitpid(FPid, &status, WNOHANG);
    if (r == FPid) {
      FStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    const int left = MsLeft(deadline);
    if (left == 0) return -1;
    Pump(std::min(left, 20));
  }
  // What the child wrote before it ended (bounded: a grandchild may hold the pipes).
  const auto drainEnd = Clock::now() + std::chrono::seconds(2);
  while ((FOutFd >= 0 || FErrFd >= 0) && MsLeft(drainEnd) > 0) Pump(50);
  return FStatus;
}

void TChildProcess::Signal(int ASignal) {
  if (FPid > 0 && FStatus < 0) ::kill(FPid, ASignal);
}

bool ProgramOnPath(const std::string& AProgram) {
  if (AProgram.find('/') != std::string::npos) return ::access(AProgram.c_str(), X_OK) == 0;
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const std::string candidate = dirs.substr(start, end - start) + "/" + AProgram;
    struct stat st{};
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
      return true;
    start = end + 1;
  }
  return false;
}

bool RequireProgram(const std::string& AProgram, const std::string& APackage) {
  if (ProgramOnPath(AProgram)) return true;
  ADD_FAILURE() << AProgram << " is not installed: install the Debian package " << APackage
                << " (scripts/install-deps)";
  return false;
}

}  // namespace vyn::test
