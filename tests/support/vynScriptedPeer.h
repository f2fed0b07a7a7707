// A scripted TCP peer on loopback: listens on 127.0.0.1 with a free port, accepts one
// connection and runs a script of steps on its own thread, so that a test controls
// exactly which bytes arrive in which pieces and when. Every wait is bounded (each step
// by StepTimeout), Stop ends the script at once, and the destructor stops and joins.
//
//   TScriptedPeer peer;
//   peer.Expect("GET\r\n").Write("A\r\n").Pause(50).Write("B").Close();
//   peer.Start();
//   ... connect to 127.0.0.1:peer.Port() ...
//   EXPECT_TRUE(peer.Join());
//   EXPECT_TRUE(peer.Errors().empty());
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vyn::test {

class TScriptedPeer {
public:
  // ABacklog is the listen queue; a test that needs the queue full passes 0.
  explicit TScriptedPeer(int ABacklog = 8);
  ~TScriptedPeer();
  TScriptedPeer(const TScriptedPeer&) = delete;
  TScriptedPeer& operator=(const TScriptedPeer&) = delete;

  uint16_t Port() const { return FPort; }

  // Script steps, run in order after the connection is accepted.
  TScriptedPeer& Expect(std::string_view ABytes);  // reads exactly these bytes; a mismatch is an error
  TScriptedPeer& Read(int ACount);                 // reads ACount bytes into Received
  TScriptedPeer& ReadUntilClose();                 // reads until the client closes
  TScriptedPeer& ReadUntil(std::string_view AEnd);  // reads into Received up to and including AEnd
  TScriptedPeer& Write(std::string_view ABytes);   // one send of exactly these bytes
  // ABytes ACount times in a row, sent as they are made: a flood of many megabytes that
  // the script does not hold in memory. Ends quietly when the client closes.
  TScriptedPeer& WriteRepeated(std::string_view ABytes, int ACount);
  TScriptedPeer& Pause(int AMSec);
  TScriptedPeer& Close();  // orderly close (FIN)
  TScriptedPeer& Reset();  // abortive close (linger 0: RST)
  // Runs AAction on the peer's thread at this point of the script, e.g. to make the
  // test's client react between two writes.
  TScriptedPeer& Do(std::function<void()> AAction);
  // The longest any one step may wait for the client (default 5000 ms).
  TScriptedPeer& StepTimeout(int AMSec);

  // Starts the thread: accept, then the steps. Without Start nothing is accepted (the
  // connection stays in the listen queue).
  void Start();
  // Waits at most AMSec for the script to end; whether it ended.
  bool Join(int AMSec = 10000);
  // Ends the script at once and joins.
  void Stop();

  bool Accepted() const { return FAccepted; }
  std::string Received() const;
  std::vector<std::string> Errors() const;

private:
  struct TStep {
    enum TKind { skExpect, skRead, skReadUntilClose, skReadUntil, skWrite, skWriteRepeated, skPause, skClose, skReset, skDo } Kind;
    std::string Bytes{};
    int Count = 0;
    std::function<void()> Action{};
  };
  void Run();
  bool WaitReadable(int AFd, int AMSec);
  bool WaitWritable(int AFd, int AMSec);
  void Error(const std::string& AText);

  int FListener = -1;
  int FConnection = -1;
  uint16_t FPort = 0;
  std::vector<TStep> FSteps;
  int FStepTimeout = 5000;
  std::thread FThread;
  std::atomic<bool> FStop{false};
  std::atomic<bool> FDone{false};
  std::atomic<bool> FAccepted{false};
  mutable std::mutex FLock;
  std::string FReceived;
  std::vector<std::string> FErrors;
};

// Counts for leak checks: open descriptors and threads of this process.
int OpenFileDescriptorCount();
int ThreadCount();

}  // namespace vyn::test
