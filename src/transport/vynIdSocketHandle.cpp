#include "vynIdSocketHandle.h"

#include <chrono>

#include "vynIdResourceStrings.h"

namespace vyn {

namespace {
// Present for the handle's whole life: the handle holds a usage.
TIdStack& Stack() { return *GStack(); }
}  // namespace

TIdSocketHandle::TIdSocketHandle() {
  TIdStack::IncUsage();
  FReadSocketList = TIdSocketList::CreateSocketList();
}

TIdSocketHandle::~TIdSocketHandle() {
  try {
    CloseSocket();
  } catch (...) {
    // The descriptor is released even when closing reports an error; nothing to do.
  }
  FReadSocketList.reset();
  TIdStack::DecUsage();
}

void TIdSocketHandle::SetHandle(TIdStackSocketHandle AHandle) {
  if (FHandle != Id_INVALID_SOCKET) FReadSocketList->Remove(FHandle);
  FHandle = AHandle;
  FHandleAllocated = AHandle != Id_INVALID_SOCKET;
  if (!FHandleAllocated) {
    FSocketType = 0;
    return;
  }
  if (!FIO) FReadSocketList->Add(FHandle);
  FSocketType = Stack().GetSocketOption(FHandle, Id_SOL_SOCKET, Id_SO_TYPE);
  if (FSocketType == Id_SOCK_STREAM) {
    FUseNagle = Stack().GetSocketOption(FHandle, Id_IPPROTO_TCP, Id_TCP_NODELAY) == 0;
  }
  if (FBroadcastEnabled) Stack().SetSocketOption(FHandle, Id_SOL_SOCKET, Id_SO_BROADCAST, 1);
}

void TIdSocketHandle::AllocateSocket(int32_t ASocketType, int32_t AProtocol) {
  CloseSocket();
  TIdStackSocketHandle h = Stack().NewSocketHandle(ASocketType, AProtocol, FIPVersion, FOverLapped);
  try {
    SetHandle(h);
  } catch (...) {
    // Reading the new socket's options failed: do not keep a socket half adopted.
    CloseSocket();
    throw;
  }
}

void TIdSocketHandle::CloseSocket() {
  std::unique_lock<std::mutex> lock(FConnectionHandle);
  if (!FHandleAllocated) return;
  FHandleAllocated = false;
  const TIdStackSocketHandle h = FHandle;
  // A connect in progress on another thread: closing alone would not wake it, but
  // shutting the socket down aborts the attempt. Until that thread is out of the
  // connect the descriptor stays open, so that its number cannot be handed to a new
  // socket under it. A shutdown that lands just before the connect call begins has no
  // effect, hence the repetition.
  while (FConnecting) {
    Stack().WSShutdown(h, Id_SD_Both);
    FConnectDone.wait_for(lock, std::chrono::milliseconds(10));
  }
  try {
    Stack().Disconnect(h, FLingerState);
  } catch (...) {
    SetHandle(Id_INVALID_SOCKET);  // the descriptor is gone either way
    throw;
  }
  SetHandle(Id_INVALID_SOCKET);
}

void TIdSocketHandle::Bind() {
  SetSockOpt(Id_SOL_SOCKET, Id_SO_REUSEADDR, FReuseSocket == rsTrue ? 1 : 0);
  if (FPort == 0 && FClientPortMin != 0 && FClientPortMax != 0) {
    if (FClientPortMax < FClientPortMin) {
      EIdInvalidPortRange::Toss(FormatInvariant(RSInvalidPortRange, {FClientPortMin, FClientPortMax}));
    }
    bool bound = false;
    for (int port = FClientPortMax; port >= FClientPortMin && !bound; --port) {
      try {
        Stack().Bind(FHandle, FIP, static_cast<uint16_t>(port), FIPVersion);
        bound = true;
      } catch (const Exception&) {
        // taken (or not allowed): try the next one down
      }
    }
    if (!bound) {
      EIdCanNotBindPortInRange::Toss(FormatInvariant(RSCannotBindRange, {FClientPortMin, FClientPortMax}));
    }
  } else {
    try {
      Stack().Bind(FHandle, FIP, FPort, FIPVersion);
    } catch (const Exception&) {
      throw EIdCouldNotBindSocket(RSCouldNotBindSocket, std::current_exception());
    }
  }
  UpdateBindingLocal();
}

void TIdSocketHandle::Connect() {
  TIdStackSocketHandle h;
  {
    std::lock_guard<std::mutex> lock(FConnectionHandle);
    if (!FHandleAllocated) Stack().RaiseSocketError(Id_WSAENOTSOCK);
    h = FHandle;
    FConnecting = true;
  }
  std::exception_ptr failure;
  try {
    Stack().Connect(h, FPeerIP, FPeerPort, FIPVersion);
  } catch (...) {
    failure = std::current_exception();
  }
  std::unique_lock<std::mutex> lock(FConnectionHandle);
  FConnecting = false;
  FConnectDone.notify_all();
  if (failure) std::rethrow_exception(failure);
  if (!FHandleAllocated) {
    // Closed from another thread just as the connect succeeded: the socket is gone,
    // which the caller must not take for a connection.
    lock.unlock();
    Stack().RaiseSocketError(Id_WSAECONNABORTED);
  }
  UpdateBindingLocal();
  UpdateBindingPeer();
}

int32_t TIdSocketHandle::Receive(TIdBytesSpan VBuffer) { return Stack().Receive(FHandle, VBuffer); }

int32_t TIdSocketHandle::Send(const TIdBytes& ABuffer, int32_t AOffset, int32_t ASize) {
  return Stack().Send(FHandle, ABuffer, AOffset, ASize);
}

int32_t TIdSocketHandle::Send(const String& AData, const IIdTextEncoding& AByteEncoding) {
  return Send(BytesFromText(AData, AByteEncoding));
}

bool TIdSocketHandle::Readable(int32_t AMSec) {
  if (AMSec == -1) AMSec = TimeoutInfinite;
  if (!FHandleAllocated) EIdConnClosedGracefully::Toss(RSConnectionClosedGracefully);
  return Select(AMSec);
}

bool TIdSocketHandle::Select(int32_t ATimeout) { return FReadSocketList->SelectRead(ATimeout); }

void TIdSocketHandle::SetPeer(const String& AIP, uint16_t APort, TIdIPVersion AIPVersion) {
  FPeerIP = AIP;
  FPeerPort = APort;
  FIPVersion = AIPVersion;
}

void TIdSocketHandle::SetBinding(const String& AIP, uint16_t APort, TIdIPVersion AIPVersion) {
  FIP = AIP;
  FPort = APort;
  FIPVersion = AIPVersion;
}

void TIdSocketHandle::Reset(bool AResetLocal) {
  // Forgetting an open socket would leak its descriptor.
  CloseSocket();
  SetHandle(Id_INVALID_SOCKET);
  if (AResetLocal) {
    FIP.clear();
    FPort = 0;
  }
  FPeerIP.clear();
  FPeerPort = 0;
  FIPVersion = ID_DEFAULT_IP_VERSION;
}

void TIdSocketHandle::UpdateBindingLocal() { Stack().GetSocketName(FHandle, FIP, FPort, FIPVersion); }

void TIdSocketHandle::UpdateBindingPeer() { Stack().GetPeerName(FHandle, FPeerIP, FPeerPort, FIPVersion); }

int32_t TIdSocketHandle::GetSockOpt(int32_t ALevel, int32_t AOptName) {
  return Stack().GetSocketOption(FHandle, ALevel, AOptName);
}

void TIdSocketHandle::SetSockOpt(int32_t ALevel, int32_t AOptName, int32_t AOptVal) {
  Stack().SetSocketOption(FHandle, ALevel, AOptName, AOptVal);
}

void TIdSocketHandle::SetKeepAliveValues(bool AEnabled, int32_t ATimeMS, int32_t AInterval) {
  Stack().SetKeepAliveValues(FHandle, AEnabled, ATimeMS, AInterval);
}

void TIdSocketHandle::SetTTL(int32_t AValue) {
  if (FIPVersion == Id_IPv6) {
    SetSockOpt(Id_IPPROTO_IPV6, Id_IPV6_UNICAST_HOPS, AValue);
  } else {
    SetSockOpt(Id_IPPROTO_IP, Id_IP_TTL, AValue);
  }
}

void TIdSocketHandle::SetMulticastTTL(uint8_t AValue) { Stack().SetMulticastTTL(FHandle, AValue, FIPVersion); }

void TIdSocketHandle::SetLoopBack(bool AValue) { Stack().SetLoopBack(FHandle, AValue, FIPVersion); }

void TIdSocketHandle::AddMulticastMembership(const String& AGroupIP) {
  Stack().AddMulticastMembership(FHandle, AGroupIP, FIP, FIPVersion);
}

void TIdSocketHandle::DropMulticastMembership(const String& AGroupIP) {
  Stack().DropMulticastMembership(FHandle, AGroupIP, FIP, FIPVersion);
}

void TIdSocketHandle::Shutdown(int32_t AHow) {
  std::lock_guard<std::mutex> lock(FConnectionHandle);
  if (FHandleAllocated) Stack().WSShutdown(FHandle, AHow);
}

void TIdSocketHandle::Listen(int32_t AQueueCount) { Stack().Listen(FHandle, AQueueCount); }

void TIdSocketHandle::Accept(TIdStackSocketHandle AListener) {
  CloseSocket();
  String ip;
  uint16_t port = 0;
  TIdIPVersion version = FIPVersion;
  TIdStackSocketHandle h = Stack().Accept(AListener, ip, port, version);
  FIPVersion = version;
  try {
    SetHandle(h);
  } catch (...) {
    CloseSocket();
    throw;
  }
  FPeerIP = ip;
  FPeerPort = port;
  UpdateBindingLocal();
}

int32_t TIdSocketHandle::SendTo(const String& AIP, uint16_t APort, const TIdBytes& ABuffer, int32_t AOffset,
                                int32_t ASize) {
  return Stack().SendTo(FHandle, ABuffer, AOffset, ASize, AIP, APort, FIPVersion);
}

int32_t TIdSocketHandle::RecvFrom(TIdBytes& ABuffer, String& VIP, uint16_t& VPort, TIdIPVersion& VIPVersion) {
  return Stack().ReceiveFrom(FHandle, ABuffer, VIP, VPort, VIPVersion);
}

void TIdSocketHandle::Broadcast(const String& AData, uint16_t APort, const String& AIP,
                                const IIdTextEncoding& AByteEncoding) {
  SetBroadcastEnabled(true);
  SendTo(AIP, APort, BytesFromText(AData, AByteEncoding));
}

void TIdSocketHandle::SetIPVersion(TIdIPVersion AValue) {
  if (AValue == FIPVersion) return;
  if (FHandleAllocated) EIdCannotSetIPVersionWhenConnected::Toss(RSCannotSetIPVersionWhenConnected);
  FIPVersion = AValue;
}

void TIdSocketHandle::SetBroadcastEnabled(bool AValue) {
  if (AValue == FBroadcastEnabled) return;
  FBroadcastEnabled = AValue;
  if (FHandleAllocated) SetSockOpt(Id_SOL_SOCKET, Id_SO_BROADCAST, AValue ? 1 : 0);
}

void TIdSocketHandle::SetUseNagle(bool AValue) {
  if (AValue == FUseNagle) return;
  FUseNagle = AValue;
  if (FHandleAllocated && FSocketType == Id_SOCK_STREAM) SetSockOpt(Id_IPPROTO_TCP, Id_TCP_NODELAY, AValue ? 0 : 1);
}

}  // namespace vyn
