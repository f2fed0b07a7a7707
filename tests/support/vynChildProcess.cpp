#include "vynChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

extern char** environ;

namespace vyn::test {

TChildProcess::TChildProcess(const std::vector<std::string>& AArgs) { Start(AArgs); }

TChildProcess::TChildProcess(const std::string& AProgram, const std::vector<std::string>& AArgs) {
  std::vector<std::string> args{AProgram};
  args.insert(args.end(), AArgs.begin(), AArgs.end());
  Start(args);
}

void TChildProcess::Start(const std::vector<std::string>& AArgs) {
  int in[2], out[2], err[2];
  if (AArgs.empty()) {
    FStartError = "no program";
    return;
  }
  if (pipe2(in, O_CLOEXEC) != 0) {
    FStartError = std::strerror(errno);
    return;
  }
  if (pipe2(out, O_CLOEXEC) != 0) {
    FStartError = std::strerror(errno);
    close(in[0]);
    close(in[1]);
    return;
  }
  if (pipe2(err, O_CLOEXEC) != 0) {
    FStartError = std::strerror(errno);
    for (int fd : {in[0], in[1], out[0], out[1]}) close(fd);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  std::vector<char*> argv;
  for (const std::string& a : AArgs) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  for (int fd : {in[0], out[1], err[1]}) close(fd);
  if (rc != 0) {
    FStartError = AArgs[0] + ": " + std::strerror(rc);
    for (int fd : {in[1], out[0], err[0]}) close(fd);
    return;
  }
  FPid = pid;
  FInput = in[1];
  FOutput = out[0];
  FError = err[0];
  FReader = std::thread([this] { ReadOutput(); });
}

TChildProcess::~TChildProcess() {
  Stop();
  if (FReader.joinable()) FReader.join();
  if (FOutput >= 0) close(FOutput);
  if (FError >= 0) close(FError);
}

void TChildProcess::ReadOutput() {
  pollfd fds[2] = {{FOutput, POLLIN, 0}, {FError, POLLIN, 0}};
  std::string* into[2] = {&FOut, &FErr};
  int open = 2;
  char buffer[4096];
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      std::lock_guard<std::mutex> guard(FLock);
      if (n <= 0) {
        fds[i].fd = -1;  // poll ignores it from now on
        --open;
        continue;
      }
      FText.append(buffer, static_cast<size_t>(n));
      into[i]->append(buffer, static_cast<size_t>(n));
      FChanged.notify_all();
    }
  }
  std::lock_guard<std::mutex> guard(FLock);
  FOutputEnded = true;
  FChanged.notify_all();
}

bool TChildProcess::WaitForOutputEnd(int ATimeoutMs) const {
  std::unique_lock<std::mutex> lock(FLock);
  return FChanged.wait_for(lock, std::chrono::milliseconds(ATimeoutMs), [&] { return FOutputEnded; });
}

std::string TChildProcess::Output() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FText;
}

std::string TChildProcess::Stdout() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FOut;
}

std::string TChildProcess::Stderr() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FErr;
}

bool TChildProcess::WaitForOutput(const std::string& AText, int ATimeoutMs) const {
  std::unique_lock<std::mutex> lock(FLock);
  return FChanged.wait_for(lock, std::chrono::milliseconds(ATimeoutMs),
                           [&] { return FText.find(AText) != std::string::npos; });
}

bool TChildProcess::Write(const std::string& AText) {
  if (FInput < 0) return false;
  size_t done = 0;
  while (done < AText.size()) {
    const ssize_t n = write(FInput, AText.data() + done, AText.size() - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

void TChildProcess::CloseInput() {
  if (FInput >= 0) close(FInput);
  FInput = -1;
}

int TChildProcess::WaitForExit(int ATimeoutMs) {
  if (FPid <= 0) return -1;
  if (!FExited) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ATimeoutMs);
    for (;;) {
      int status = 0;
      const pid_t r = waitpid(FPid, &status, WNOHANG);
      if (r == FPid) {
        FExited = true;
        FExitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        break;
      }
      if (r < 0 || std::chrono::steady_clock::now() >= deadline) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  // What the program printed before it ended is all read (unless a child of its own
  // still holds the pipes).
  WaitForOutputEnd(2000);
  return FExitStatus;
}

void TChildProcess::Signal(int ASignal) {
  if (FPid > 0 && !FExited) kill(FPid, ASignal);
}

void TChildProcess::Stop() {
  CloseInput();
  if (FPid <= 0 || FExited) return;
  kill(FPid, SIGTERM);
  if (WaitForExit(2000) < 0) {
    kill(FPid, SIGKILL);
    WaitForExit(5000);
  }
}

bool ProgramInPath(const std::string& AName) {
  if (AName.find('/') != std::string::npos) return access(AName.c_str(), X_OK) == 0;
  const char* path = std::getenv("PATH");
  std::string p = path ? path : "";
  size_t start = 0;
  while (start <= p.size()) {
    size_t end = p.find(':', start);
    if (end == std::string::npos) end = p.size();
    const std::string candidate = p.substr(start, end - start) + "/" + AName;
    if (access(candidate.c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

bool RequireProgram(const std::string& AName, const std::string& APackage) {
  if (ProgramInPath(AName)) return true;
  ADD_FAILURE() << AName << " is not installed: install the Debian package " << APackage
                << " (scripts/install-deps does)";
  return false;
}

int RunProgram(const std::vector<std::string>& AArgs, std::string* AOutput, int ATimeoutMs) {
  TChildProcess child(AArgs);
  if (!child.Started()) return -1;
  child.CloseInput();
  const int status = child.WaitForExit(ATimeoutMs);
  if (AOutput) {
    child.WaitForOutputEnd(2000);
    *AOutput = child.Output();
  }
  return status;
}

}  // namespace vyn::test
