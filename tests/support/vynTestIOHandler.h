// An I/O handler over an in-memory peer, for tests of everything built on the
// handler's reads and writes without a socket.
//
// The peer's bytes are queued as segments; each receive hands out at most one segment
// (and at most Split bytes of it when a split is set), so a test decides exactly how
// the bytes arrive: one byte at a time, or exactly the pieces it names. After the
// queued bytes the peer is silent (a receive times out at once instead of waiting) or,
// after ClosePeer, closed (a receive returns 0). The Nth receive or send (0-based)
// can be made to fail, either by raising the socket error as the socket stack does or
// by returning a failure result for TranslateIOError. Everything sent is recorded, one
// entry per transport send.
#pragma once

#include <deque>
#include <map>
#include <string_view>
#include <vector>

#include "vynIdIOHandler.h"

namespace vyn::test {

TIdBytes Bytes(std::string_view AText);

class TTestIOHandler : public TIdIOHandler {
public:
  enum TFailMode { fmRaise, fmResult };

  TTestIOHandler();

  // ---- The peer -------------------------------------------------------------------------
  void AddSegment(const TIdBytes& ABytes);
  void AddSegment(std::string_view ABytes) { AddSegment(Bytes(ABytes)); }
  void AddSegments(std::initializer_list<std::string_view> ASegments);
  // Receives hand out at most ABytes bytes (0: whole segments).
  void SetSplit(int ABytes) { FSplit = ABytes; }
  // After the queued bytes, receives return 0.
  void ClosePeer() { FPeerClosed = true; }
  // The AIndex-th receive / send (0-based) fails with the socket error ACode.
  void FailRead(int AIndex, int ACode, TFailMode AMode = fmRaise) { FReadFailures[AIndex] = {ACode, AMode}; }
  void FailWrite(int AIndex, int ACode, TFailMode AMode = fmRaise) { FWriteFailures[AIndex] = {ACode, AMode}; }
  // A send takes at most ABytes bytes (0: all it is given).
  void SetMaxSend(int ABytes) { FMaxSend = ABytes; }

  // ---- What happened ----------------------------------------------------------------
  TIdBytes Written() const;
  std::string WrittenText() const;
  const std::vector<TIdBytes>& Sends() const { return FSends; }
  int ReceiveCalls() const { return FReceiveCalls; }
  // How often the transport was opened (a new connection each time).
  int OpenCalls() const { return FOpenCalls; }
  int SendCalls() const { return FSendCalls; }
  // The wait the last readiness check was asked for.
  int LastReadableTimeout() const { return FLastReadableTimeout; }
  bool TransportOpen() const { return FTransportOpen; }
  int Pending() const;

  // ---- Transport -----------------------------------------------------------------------
  void Open() override;
  void Close() override;
  int ReadDataFromSource(TIdBytesSpan VBuffer) override;
  int WriteDataToTarget(const TIdBytes& ABuffer, int AOffset, int ALength) override;
  bool SourceIsAvailable() override { return FTransportOpen; }
  // Lets the peer-gone codes and the time-out code through, as the socket handlers do.
  int TranslateIOError(int AResult) override;
  [[noreturn]] void RaiseIOError(int AError) override;
  // True when bytes are queued, the peer closed or a failure is due; otherwise false at
  // once (a silent peer times out without waiting).
  bool Readable(int AMSec = TimeoutInfinite) override;
  // As the stack handler: a handler marked closed gracefully is closed here.
  void CheckForDisconnect(bool ARaiseExceptionIfDisconnected = true, bool AIgnoreBuffer = false) override;
  // As the socket handlers: also true while unread input remains.
  bool Connected() override;

private:
  struct TFailure {
    int Code;
    TFailMode Mode;
  };
  std::deque<TIdBytes> FSegments;
  int FSplit = 0;
  bool FPeerClosed = false;
  std::map<int, TFailure> FReadFailures;
  std::map<int, TFailure> FWriteFailures;
  int FMaxSend = 0;
  std::vector<TIdBytes> FSends;
  int FReceiveCalls = 0;
  int FOpenCalls = 0;
  int FSendCalls = 0;
  int FLastReadableTimeout = 0;
  int FLastError = 0;
  bool FTransportOpen = false;
};

}  // namespace vyn::test
