#include "vynIdIOHandlerStack.h"

#include <chrono>

#include "vynIdIPAddress.h"
#include "vynIdResourceStrings.h"
#include "vynIdStack.h"

namespace vyn {

namespace {
// The stack handler is the default class from the start.
const bool GStackHandlerRegistered = [] {
  TIdIOHandler::SetDefaultClass(TIdIOHandlerClass::Of<TIdIOHandlerStack>());
  return true;
}();
}  // namespace

TIdIOHandlerStack::TIdIOHandlerStack(TComponent* AOwner) : TIdIOHandlerSocket(AOwner) {
  (void)GStackHandlerRegistered;
}

int TIdIOHandlerStack::ReadDataFromSource(TIdBytesSpan VBuffer) {
  if (!FBinding) EIdNotConnected::Toss(RSNotConnected);
  return FBinding->Receive(VBuffer);
}

int TIdIOHandlerStack::WriteDataToTarget(const TIdBytes& ABuffer, int AOffset, int ALength) {
  if (!FBinding) EIdNotConnected::Toss(RSNotConnected);
  return FBinding->Send(ABuffer, AOffset, ALength);
}

bool TIdIOHandlerStack::Readable(int AMSec) {
  if (!FBinding) RaiseClosedGracefully();
  return FBinding->Readable(AMSec);
}

void TIdIOHandlerStack::CheckForDisconnect(bool ARaiseExceptionIfDisconnected, bool AIgnoreBuffer) {
  bool disconnected;
  if (FClosedGracefully) {
    if (BindingAllocated()) {
      Close();
      ReportStatus(hsDisconnected);
    }
    disconnected = true;
  } else {
    disconnected = !BindingAllocated();
  }
  if (disconnected && ARaiseExceptionIfDisconnected && (AIgnoreBuffer || InputBufferIsEmpty()))
    RaiseClosedGracefully();
}

bool TIdIOHandlerStack::Connected() {
  try {
    FillInputBuffer(false, 0, false);
  } catch (const EIdSocketError& E) {
    const int code = E.LastError();
    if (code == Id_WSAECONNABORTED || code == Id_WSAECONNRESET || code == Id_WSAESHUTDOWN) return false;
    throw;
  }
  return TIdIOHandlerSocket::Connected();
}

void TIdIOHandlerStack::ConnectClientSocket() {
  TIdIOHandlerSocket::ConnectClientSocket();
  TIdCustomTransparentProxy* proxy = ActiveProxy();
  const String host = proxy ? proxy->Host() : FHost;
  const uint16_t port = proxy ? proxy->Port() : static_cast<uint16_t>(FPort);
  const TIdIPVersion version = proxy ? proxy->IPVersion() : FIPVersion;

  String address;
  if (version == Id_IPv6) {
    if (!CanonicalIPv6Text(host).empty()) {
      address = host;
    } else {
      ReportStatus(hsResolving, {host});
      address = GStack()->ResolveHost(host, Id_IPv6);
    }
  } else {
    if (TIdStack::IsIP(host)) {
      address = host;
    } else {
      ReportStatus(hsResolving, {host});
      address = GStack()->ResolveHost(host, Id_IPv4);
    }
  }
  FBinding->SetPeer(address, port, version);
  ReportStatus(hsConnecting, {FBinding->PeerIP()});

  if (FConnectTimeout == 0 || FConnectTimeout == -1 || FConnectTimeout == TimeoutInfinite)
    FBinding->Connect();
  else
    ConnectWithTimeout(static_cast<uint32_t>(FConnectTimeout));  // other negatives: practically no limit

  if (proxy) proxy->Connect(this, FHost, static_cast<uint16_t>(FPort), FIPVersion);
}

void TIdIOHandlerStack::ConnectWithTimeout(uint32_t AMSec) {
  TIdConnectThread thread(FBinding.get());
  if (!thread.WaitFor(AMSec)) {
    thread.Terminate();
    // Shutting the socket down wakes the blocked connect whatever the linger setting;
    // Close then releases the socket.
    if (BindingAllocated()) GStack()->WSShutdown(FBinding->Handle(), Id_SD_Both);
    try {
      Close();
    } catch (...) {
      thread.Join();
      throw;
    }
    thread.Join();
    EIdConnectTimeout::Toss(RSConnectTimeout);
  }
  thread.Join();
  if (thread.ExceptionOccured()) {
    if (thread.ConnectException()) std::rethrow_exception(thread.ConnectException());
    EIdConnectException::Toss(String());
  }
}

TIdConnectThread::TIdConnectThread(TIdSocketHandle* ABinding) : FBinding(ABinding) {
  FThread = std::thread([this] { Execute(); });
}

TIdConnectThread::~TIdConnectThread() { Join(); }

void TIdConnectThread::Join() {
  if (FThread.joinable()) FThread.join();
}

void TIdConnectThread::Execute() {
  try {
    FBinding->Connect();
  } catch (...) {
    FConnectException = std::current_exception();
    FExceptionOccured = true;
  }
  std::lock_guard<std::mutex> guard(FLock);
  FDone = true;
  FTerminated = true;
  FDoneSignal.notify_all();
}

bool TIdConnectThread::WaitFor(uint32_t AMSec) {
  std::unique_lock<std::mutex> lock(FLock);
  return FDoneSignal.wait_for(lock, std::chrono::milliseconds(AMSec), [this] { return FDone; });
}

}  // namespace vyn
