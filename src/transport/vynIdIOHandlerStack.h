// The socket I/O handler over the socket stack: resolves the host, connects (with a
// time-out run by a connect thread), sends, receives and detects the peer's close.
// It is the default handler class.
#pragma once

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

#include "vynIdIOHandlerSocket.h"

namespace vyn {

class TIdIOHandlerStack : public TIdIOHandlerSocket {
public:
  explicit TIdIOHandlerStack(TComponent* AOwner = nullptr);

  int ReadDataFromSource(TIdBytesSpan VBuffer) override;
  int WriteDataToTarget(const TIdBytes& ABuffer, int AOffset, int ALength) override;
  // No socket raises EIdConnClosedGracefully.
  bool Readable(int AMSec = TimeoutInfinite) override;
  // A handler marked closed gracefully that still has its socket is closed here (and
  // reports hsDisconnected). Marked or without a socket it is disconnected.
  void CheckForDisconnect(bool ARaiseExceptionIfDisconnected = true, bool AIgnoreBuffer = false) override;
  // Polls the socket once (picking up a pending close); a reset or aborted connection
  // gives false.
  bool Connected() override;
  // Resolves the target (the proxy when one is enabled), connects, then runs the
  // proxy's handshake.
  void ConnectClientSocket() override;

protected:
  // Runs the binding's connect on a connect thread and waits at most AMSec
  // milliseconds; on time-out the socket is closed (which ends the connect), the
  // thread is joined and EIdConnectTimeout "Connect timed out." is raised.
  void ConnectWithTimeout(uint32_t AMSec);
};

// Runs one blocking connect of a socket handle on its own thread. The error of the
// connect is kept for the thread that waits, never raised on the connect thread.
class TIdConnectThread {
public:
  // Starts at once.
  explicit TIdConnectThread(TIdSocketHandle* ABinding);
  // Joins the thread: the connect must have ended or been made to end (by closing
  // the socket) before the object goes.
  ~TIdConnectThread();
  TIdConnectThread(const TIdConnectThread&) = delete;
  TIdConnectThread& operator=(const TIdConnectThread&) = delete;

  // Whether the connect ended within AMSec milliseconds.
  bool WaitFor(uint32_t AMSec);
  void Terminate() { FTerminated = true; }
  bool Terminated() const { return FTerminated; }
  void Join();
  bool ExceptionOccured() const { return FExceptionOccured; }
  std::exception_ptr ConnectException() const { return FConnectException; }

private:
  void Execute();

  TIdSocketHandle* FBinding;  // not owned
  std::exception_ptr FConnectException;
  bool FExceptionOccured = false;
  std::atomic<bool> FTerminated{false};
  std::mutex FLock;
  std::condition_variable FDoneSignal;
  bool FDone = false;
  std::thread FThread;
};

}  // namespace vyn
