// Loopback peers for socket tests, written directly on the POSIX socket calls so that
// they do not share the code they test: a TCP listener on 127.0.0.1 or ::1 with an
// ephemeral port, what the accepted side observes, a listener whose accept queue is
// full (a connect to it hangs), and free port ranges.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vyn::test {

// A file descriptor closed on destruction.
class TFd {
public:
  TFd() = default;
  explicit TFd(int AFd) : FFd(AFd) {}
  ~TFd();
  TFd(TFd&& AOther) noexcept : FFd(AOther.Release()) {}
  TFd& operator=(TFd&& AOther) noexcept;
  int Get() const { return FFd; }
  int Release();
  void Reset(int AFd = -1);
  explicit operator bool() const { return FFd >= 0; }

private:
  int FFd = -1;
};

// A listening TCP socket on the loopback address of the family (IPv6 when AIPv6).
class TLoopbackListener {
public:
  explicit TLoopbackListener(bool AIPv6 = false, int ABacklog = 16);
  uint16_t Port() const { return FPort; }
  int Fd() const { return FSocket.Get(); }
  // The next connection, waiting at most ATimeoutMs; fails the test (gtest ADD_FAILURE)
  // and returns an empty TFd on time-out.
  TFd Accept(int ATimeoutMs = 5000);

private:
  TFd FSocket;
  uint16_t FPort = 0;
};

// How the peer's side of a connection ended, as its reader sees it.
struct TPeerEnd {
  std::string Data;      // every byte read before the end
  bool EndOfStream = false;  // recv gave 0
  int Error = 0;             // errno of the failed recv (ECONNRESET for a reset), 0 if none
  bool TimedOut = false;     // nothing ended within the wait
};
// Reads from AFd until the end of stream, an error, or ATimeoutMs without an end.
TPeerEnd ReadUntilEnd(int AFd, int ATimeoutMs = 5000);

// Sends all of AData; false on any failure (never raises SIGPIPE).
bool SendAll(int AFd, const std::string& AData);

// A loopback listener whose accept queue is full, so that a further connect to Port()
// waits (the SYN is dropped) until it is aborted or the system gives up.
class TFullBacklogListener {
public:
  TFullBacklogListener();
  uint16_t Port() const { return FListener.Port(); }

private:
  TLoopbackListener FListener;
  std::vector<TFd> FQueued;  // connections held in the queue, never accepted
};

// A bound (not listening) IPv4 loopback socket on an ephemeral port: a connect to the
// port is refused, and no other socket can take the port while this one holds it.
class TClosedPort {
public:
  TClosedPort();
  uint16_t Port() const { return FPort; }

private:
  TFd FSocket;
  uint16_t FPort = 0;
};

// Binds a TCP socket to 127.0.0.1:APort (no reuse); an empty TFd when the port is taken.
TFd BindLoopbackPort(uint16_t APort);

// The first port P of ACount consecutive ports P..P+ACount-1 that were all free on
// 127.0.0.1 when checked, searched from a start that differs between processes.
uint16_t FindFreePortRange(int ACount);

// A TCP connection to 127.0.0.1:APort (blocking connect); an empty TFd on failure.
TFd ConnectLoopback(uint16_t APort);

}  // namespace vyn::test
