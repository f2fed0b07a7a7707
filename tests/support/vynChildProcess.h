// A child program for integration tests: started without a shell (posix_spawnp), its
// standard output and error captured, standard input from /dev/null. Every wait is
// bounded, and the destructor kills and reaps a child that is still running, so that
// a failing test leaves no process behind.
//
//   TChildProcess curl("curl", {"-sN", url});
//   ASSERT_TRUE(curl.WaitForOutput("id: 1", 5000)) << curl.Stderr();
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vyn::test {

class TChildProcess {
public:
  TChildProcess(const std::string& AProgram, const std::vector<std::string>& AArgs);
  ~TChildProcess();
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  // Whether the program could be started; StartError() says why not.
  bool Started() const { return FPid > 0; }
  const std::string& StartError() const { return FStartError; }
  int Pid() const { return FPid; }

  // Reads output until standard output holds AText or ATimeoutMs pass; whether it does.
  bool WaitForOutput(std::string_view AText, int ATimeoutMs);
  // The same for standard error.
  bool WaitForError(std::string_view AText, int ATimeoutMs);
  // Waits at most ATimeoutMs for the exit, reading output meanwhile: the exit status
  // (128 + signal number after a signal), or -1 when the child still runs.
  int Wait(int ATimeoutMs);
  void Signal(int ASignal);

  // Everything read so far.
  const std::string& Stdout() const { return FOut; }
  const std::string& Stderr() const { return FErr; }

private:
  // One round of reading whatever is available within ATimeoutMs.
  void Pump(int ATimeoutMs);
  bool WaitFor(const std::string& ABuffer, std::string_view AText, int ATimeoutMs);

  int FPid = -1;
  int FOutFd = -1;
  int FErrFd = -1;
  int FStatus = -1;
  std::string FOut;
  std::string FErr;
  std::string FStartError;
};

// Whether AProgram is found on PATH (or is an executable path).
bool ProgramOnPath(const std::string& AProgram);
// The same, failing the test (gtest ADD_FAILURE) with the Debian package to install
// when it is missing.
bool RequireProgram(const std::string& AProgram, const std::string& APackage);

// Milliseconds since AStart on the monotonic clock.
inline int64_t MsSince(std::chrono::steady_clock::time_point AStart) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - AStart).count();
}

}  // namespace vyn::test
