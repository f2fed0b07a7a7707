// A program run by a test: started with posix_spawn (no shell), its standard input
// a pipe the test writes to, its standard output and error collected together by a
// reader thread. The destructor ends it (SIGTERM, then SIGKILL) and joins the reader.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vyn::test {

class TChildProcess {
public:
  // AArgs[0] is looked up in PATH. Started() is false when it could not be run.
  explicit TChildProcess(const std::vector<std::string>& AArgs);
  ~TChildProcess();
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  bool Started() const { return FPid > 0; }
  // Everything printed so far.
  std::string Output() const;
  // Waits at most ATimeoutMs until the output contains AText.
  bool WaitForOutput(const std::string& AText, int ATimeoutMs = 5000) const;
  // Waits at most ATimeoutMs until the program's output has ended.
  bool WaitForOutputEnd(int ATimeoutMs = 5000) const;
  bool Write(const std::string& AText);
  void CloseInput();
  // Waits at most ATimeoutMs for the program to end by itself; its exit status, or -1.
  int WaitForExit(int ATimeoutMs = 5000);
  void Stop();

private:
  void ReadOutput();

  pid_t FPid = -1;
  int FInput = -1;
  int FOutput = -1;
  int FExitStatus = -1;
  bool FExited = false;
  bool FOutputEnded = false;
  mutable std::mutex FLock;
  mutable std::condition_variable FChanged;
  std::string FText;
  std::thread FReader;
};

// Whether a program is found in PATH.
bool ProgramInPath(const std::string& AName);

// Runs a program to its end (at most ATimeoutMs); its exit status, -1 when it could
// not be run or did not end. AOutput receives what it printed.
int RunProgram(const std::vector<std::string>& AArgs, std::string* AOutput = nullptr, int ATimeoutMs = 30000);

}  // namespace vyn::test
