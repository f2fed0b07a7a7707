// A program run by a test: started with posix_spawnp (no shell), its standard input a
// pipe the test writes to, its standard output and error collected by a reader thread
// (each on its own, and both together in the order they came). Every wait is bounded,
// and the destructor ends a program still running (SIGTERM, then SIGKILL) and joins the
// reader, so that a failing test leaves no process behind.
//
//   TChildProcess curl("curl", {"-sN", url});
//   ASSERT_TRUE(curl.WaitForOutput("id: 1", 5000)) << curl.Stderr();
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vyn::test {

class TChildProcess {
public:
  // AArgs[0] is looked up in PATH. Started() is false when it could not be run.
  explicit TChildProcess(const std::vector<std::string>& AArgs);
  TChildProcess(const std::string& AProgram, const std::vector<std::string>& AArgs);
  ~TChildProcess();
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  bool Started() const { return FPid > 0; }
  // Why the program could not be started.
  const std::string& StartError() const { return FStartError; }
  pid_t Pid() const { return FPid; }

  // Everything printed so far: both streams together, standard output, standard error.
  std::string Output() const;
  std::string Stdout() const;
  std::string Stderr() const;
  // Waits at most ATimeoutMs until the output (either stream) contains AText.
  bool WaitForOutput(const std::string& AText, int ATimeoutMs = 5000) const;
  // Waits at most ATimeoutMs until the program's output has ended.
  bool WaitForOutputEnd(int ATimeoutMs = 5000) const;
  bool Write(const std::string& AText);
  void CloseInput();
  // Waits at most ATimeoutMs for the program to end by itself: its exit status (128 +
  // the signal's number after a signal), or -1 when it still runs. The output read so
  // far is complete once this returns a status.
  int WaitForExit(int ATimeoutMs = 5000);
  void Signal(int ASignal);
  void Stop();

private:
  void Start(const std::vector<std::string>& AArgs);
  void ReadOutput();

  pid_t FPid = -1;
  std::string FStartError;
  int FInput = -1;
  int FOutput = -1;
  int FError = -1;
  int FExitStatus = -1;
  bool FExited = false;
  bool FOutputEnded = false;
  mutable std::mutex FLock;
  mutable std::condition_variable FChanged;
  std::string FText;
  std::string FOut;
  std::string FErr;
  std::thread FReader;
};

// Whether a program is found in PATH (or is an executable path).
bool ProgramInPath(const std::string& AName);
// The same, failing the test with the Debian package to install when it is missing.
bool RequireProgram(const std::string& AName, const std::string& APackage);

// Runs a program to its end (at most ATimeoutMs); its exit status, -1 when it could
// not be run or did not end. AOutput receives what it printed.
int RunProgram(const std::vector<std::string>& AArgs, std::string* AOutput = nullptr, int ATimeoutMs = 30000);

// Milliseconds since AStart on the monotonic clock.
inline int64_t MsSince(std::chrono::steady_clock::time_point AStart) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - AStart).count();
}

}  // namespace vyn::test
