#include "vynTestIOHandler.h"

#include <algorithm>
#include <cstring>

#include "vynIdStack.h"

namespace vyn::test {

TIdBytes Bytes(std::string_view AText) { return TIdBytes(AText.begin(), AText.end()); }

TTestIOHandler::TTestIOHandler() = default;

void TTestIOHandler::AddSegment(const TIdBytes& ABytes) {
  if (!ABytes.empty()) FSegments.push_back(ABytes);
}

void TTestIOHandler::AddSegments(std::initializer_list<std::string_view> ASegments) {
  for (auto s : ASegments) AddSegment(s);
}

TIdBytes TTestIOHandler::Written() const {
  TIdBytes all;
  for (const auto& s : FSends) all.insert(all.end(), s.begin(), s.end());
  return all;
}

std::string TTestIOHandler::WrittenText() const {
  const TIdBytes all = Written();
  return std::string(all.begin(), all.end());
}

int TTestIOHandler::Pending() const {
  int n = 0;
  for (const auto& s : FSegments) n += static_cast<int>(s.size());
  return n;
}

void TTestIOHandler::Open() {
  TIdIOHandler::Open();
  FTransportOpen = true;
  ++FOpenCalls;
}

void TTestIOHandler::Close() {
  FTransportOpen = false;
  TIdIOHandler::Close();
}

int TTestIOHandler::ReadDataFromSource(TIdBytesSpan VBuffer) {
  const int index = FReceiveCalls++;
  if (auto it = FReadFailures.find(index); it != FReadFailures.end()) {
    if (it->second.Mode == fmRaise) GStack()->RaiseSocketError(it->second.Code);
    FLastError = it->second.Code;
    return -1;
  }
  if (FSegments.empty()) return 0;  // only reached after the peer closed (see Readable)
  TIdBytes& front = FSegments.front();
  int n = std::min<int>(static_cast<int>(front.size()), static_cast<int>(VBuffer.size()));
  if (FSplit > 0) n = std::min(n, FSplit);
  std::memcpy(VBuffer.data(), front.data(), n);
  front.erase(front.begin(), front.begin() + n);
  if (front.empty()) FSegments.pop_front();
  return n;
}

int TTestIOHandler::WriteDataToTarget(const TIdBytes& ABuffer, int AOffset, int ALength) {
  const int index = FSendCalls++;
  if (auto it = FWriteFailures.find(index); it != FWriteFailures.end()) {
    if (it->second.Mode == fmRaise) GStack()->RaiseSocketError(it->second.Code);
    FLastError = it->second.Code;
    return -1;
  }
  int n = std::min<int>(ALength, static_cast<int>(ABuffer.size()) - AOffset);
  if (FMaxSend > 0) n = std::min(n, FMaxSend);
  FSends.emplace_back(ABuffer.begin() + AOffset, ABuffer.begin() + AOffset + n);
  return n;
}

int TTestIOHandler::TranslateIOError(int AResult) {
  if (AResult != -1) return 0;
  const int code = FLastError;
  if (code == 10053 || code == 10054 || code == 10058 || code == 10060) return code;
  RaiseIOError(code);
  return code;  // not reached
}

void TTestIOHandler::RaiseIOError(int AError) {
  GStack()->RaiseSocketError(AError);
  throw EIdSocketError(AError, String());  // not reached
}

bool TTestIOHandler::Readable(int AMSec) {
  FLastReadableTimeout = AMSec;
  if (!FTransportOpen) RaiseClosedGracefully();
  return !FSegments.empty() || FPeerClosed || FReadFailures.count(FReceiveCalls) > 0;
}

void TTestIOHandler::CheckForDisconnect(bool ARaiseExceptionIfDisconnected, bool AIgnoreBuffer) {
  bool disconnected;
  if (FClosedGracefully) {
    if (FTransportOpen) Close();
    disconnected = true;
  } else {
    disconnected = !FTransportOpen;
  }
  if (disconnected && ARaiseExceptionIfDisconnected && (AIgnoreBuffer || InputBufferIsEmpty()))
    RaiseClosedGracefully();
}

bool TTestIOHandler::Connected() { return (FTransportOpen && TIdIOHandler::Connected()) || !InputBufferIsEmpty(); }

}  // namespace vyn::test
