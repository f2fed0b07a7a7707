#include "vynIdStack.h"

#include <atomic>
#include <bit>

#include "vynIdResourceStrings.h"
#include "vynIdIPAddress.h"
#include "vynIdStackLinux.h"

namespace vyn {

namespace {

std::unique_ptr<TIdStack> MakeLinuxStack() { return std::make_unique<TIdStackLinux>(); }

// The registry and the instance. All are constant-initialized, so usages taken during
// other units' static initialization find them ready; the default class is set here
// because a static library drops object files nothing refers to.
std::mutex GStackLock;
TIdStackClass GStackClass = &MakeLinuxStack;  // guarded by GStackLock
int GStackUsage = 0;                          // guarded by GStackLock
std::atomic<TIdStack*> GStackInstance{nullptr};

}  // namespace

TIdStack* GStack() { return GStackInstance.load(std::memory_order_acquire); }

TIdStack::TIdStack() = default;
TIdStack::~TIdStack() = default;

void TIdStack::IncUsage() {
  std::lock_guard<std::mutex> lock(GStackLock);
  if (GStackUsage == 0) {
    if (GStackInstance.load()) EIdStackError::Toss(RSStackAlreadyCreated);
    if (!GStackClass) EIdStackError::Toss(RSStackClassUndefined);
    std::unique_ptr<TIdStack> stack;
    try {
      stack = GStackClass();
    } catch (const EIdStackInitializationFailed&) {
      throw;
    } catch (const Exception& e) {
      throw EIdStackInitializationFailed(e.Message(), std::current_exception());
    } catch (const std::exception& e) {
      throw EIdStackInitializationFailed(FromUtf8(e.what()), std::current_exception());
    }
    if (!stack) EIdStackError::Toss(RSStackClassUndefined);
    GStackInstance.store(stack.release(), std::memory_order_release);
  }
  ++GStackUsage;
}

void TIdStack::DecUsage() {
  std::lock_guard<std::mutex> lock(GStackLock);
  if (GStackUsage == 0) return;
  if (--GStackUsage == 0) {
    std::unique_ptr<TIdStack> gone(GStackInstance.exchange(nullptr, std::memory_order_acq_rel));
  }
}

void TIdStack::SetStackClass(TIdStackClass AClass) {
  std::lock_guard<std::mutex> lock(GStackLock);
  GStackClass = AClass;
}

TIdStackClass TIdStack::StackClass() {
  std::lock_guard<std::mutex> lock(GStackLock);
  return GStackClass;
}

// ---- Byte order -------------------------------------------------------------------------

namespace {
template <class T>
T ToBigEndian(T AValue) {
  if constexpr (std::endian::native == std::endian::big) {
    return AValue;
  } else if constexpr (sizeof(T) == 2) {
    return __builtin_bswap16(AValue);
  } else if constexpr (sizeof(T) == 4) {
    return __builtin_bswap32(AValue);
  } else {
    return __builtin_bswap64(AValue);
  }
}
}  // namespace

uint16_t TIdStack::HostToNetwork(uint16_t AValue) { return ToBigEndian(AValue); }
uint32_t TIdStack::HostToNetwork(uint32_t AValue) { return ToBigEndian(AValue); }
uint64_t TIdStack::HostToNetwork(uint64_t AValue) { return ToBigEndian(AValue); }
TIdIPv6Address TIdStack::HostToNetwork(const TIdIPv6Address& AValue) {
  TIdIPv6Address out;
  for (size_t i = 0; i < out.size(); ++i) out[i] = HostToNetwork(AValue[i]);
  return out;
}
uint16_t TIdStack::NetworkToHost(uint16_t AValue) { return ToBigEndian(AValue); }
uint32_t TIdStack::NetworkToHost(uint32_t AValue) { return ToBigEndian(AValue); }
uint64_t TIdStack::NetworkToHost(uint64_t AValue) { return ToBigEndian(AValue); }
TIdIPv6Address TIdStack::NetworkToHost(const TIdIPv6Address& AValue) {
  TIdIPv6Address out;
  for (size_t i = 0; i < out.size(); ++i) out[i] = NetworkToHost(AValue[i]);
  return out;
}

// ---- Errors -----------------------------------------------------------------------------

namespace {
const char16_t* SocketErrorText(int32_t AErr) {
  switch (AErr) {
    case Id_WSAEINTR: return u"Interrupted system call.";
    case Id_WSAEBADF: return u"Bad file number.";
    case Id_WSAEACCES: return u"Access denied.";
    case Id_WSAEFAULT: return u"Buffer fault.";
    case Id_WSAEINVAL: return u"Invalid argument.";
    case Id_WSAEMFILE: return u"Too many open files.";
    case Id_WSAEWOULDBLOCK: return u"Operation would block.";
    case Id_WSAEINPROGRESS: return u"Operation now in progress.";
    case Id_WSAEALREADY: return u"Operation already in progress.";
    case Id_WSAENOTSOCK: return u"Socket operation on non-socket.";
    case Id_WSAEDESTADDRREQ: return u"Destination address required.";
    case Id_WSAEMSGSIZE: return u"Message too long.";
    case Id_WSAEPROTOTYPE: return u"Protocol wrong type for socket.";
    case Id_WSAENOPROTOOPT: return u"Bad protocol option.";
    case Id_WSAEPROTONOSUPPORT: return u"Protocol not supported.";
    case Id_WSAESOCKTNOSUPPORT: return u"Socket type not supported.";
    case Id_WSAEOPNOTSUPP: return u"Operation not supported on socket.";
    case Id_WSAEPFNOSUPPORT: return u"Protocol family not supported.";
    case Id_WSAEAFNOSUPPORT: return u"Address family not supported by protocol family.";
    case Id_WSAEADDRINUSE: return u"Address already in use.";
    case Id_WSAEADDRNOTAVAIL: return u"Cannot assign requested address.";
    case Id_WSAENETDOWN: return u"Network is down.";
    case Id_WSAENETUNREACH: return u"Network is unreachable.";
    case Id_WSAENETRESET: return u"Net dropped connection or reset.";
    case Id_WSAECONNABORTED: return u"Software caused connection abort.";
    case Id_WSAECONNRESET: return u"Connection reset by peer.";
    case Id_WSAENOBUFS: return u"No buffer space available.";
    case Id_WSAEISCONN: return u"Socket is already connected.";
    case Id_WSAENOTCONN: return u"Socket is not connected.";
    case Id_WSAESHUTDOWN: return u"Cannot send or receive after socket is closed.";
    case Id_WSAETOOMANYREFS: return u"Too many references, cannot splice.";
    case Id_WSAETIMEDOUT: return u"Connection timed out.";
    case Id_WSAECONNREFUSED: return u"Connection refused.";
    case Id_WSAELOOP: return u"Too many levels of symbolic links.";
    case Id_WSAENAMETOOLONG: return u"File name too long.";
    case Id_WSAEHOSTDOWN: return u"Host is down.";
    case Id_WSAEHOSTUNREACH: return u"No route to host.";
    case Id_WSAENOTEMPTY: return u"Directory not empty";
    case Id_WSAHOST_NOT_FOUND: return u"Host not found.";
    default: return u"";
  }
}
}  // namespace

String TIdStack::WSTranslateSocketErrorMsg(int32_t AErr) {
  return FormatInvariant(RSStackError, {AErr, SocketErrorText(AErr)});
}

void TIdStack::RaiseSocketError(int32_t AErr) {
  if (AErr == Id_WSAENOTSOCK) throw EIdNotASocket(AErr, WSTranslateSocketErrorMsg(AErr));
  throw EIdSocketError(AErr, WSTranslateSocketErrorMsg(AErr));
}

void TIdStack::RaiseLastSocketError() {
  const int32_t err = WSGetLastError();
  RaiseSocketError(err);
  throw EIdSocketError(err, WSTranslateSocketErrorMsg(err));  // only for an override that returns
}

int32_t TIdStack::CheckForSocketError(int32_t AResult) {
  if (AResult == Id_SOCKET_ERROR) RaiseLastSocketError();
  return AResult;
}

int32_t TIdStack::CheckForSocketError(int32_t AResult, std::initializer_list<int32_t> AIgnore) {
  if (AResult != Id_SOCKET_ERROR) return 0;
  const int32_t err = WSGetLastError();
  for (int32_t ignored : AIgnore) {
    if (err == ignored) return err;
  }
  RaiseSocketError(err);
  throw EIdSocketError(err, WSTranslateSocketErrorMsg(err));  // only for an override that returns
}

// ---- Addresses and names ---------------------------------------------------------------

bool TIdStack::IsIP(const String& AIP) {
  String rest = AIP;
  for (int i = 0; i < 4; ++i) {
    const int32_t n = TrimmedStrToInt(SplitOffToken(rest, u"."), -1);
    if (n < 0 || n > 255) return false;
  }
  return rest.empty();
}

String TIdStack::ResolveHost(const String& AHost, TIdIPVersion AIPVersion) {
  switch (AIPVersion) {
    case Id_IPv4:
      if (SameText(AHost, u"LOCALHOST")) return u"127.0.0.1";
      if (IsIP(AHost)) return AHost;
      return HostByName(AHost, Id_IPv4);
    case Id_IPv6: {
      if (SameText(AHost, u"LOCALHOST")) return u"::1";
      String canonical = CanonicalIPv6Text(AHost);
      if (!canonical.empty()) return canonical;
      return HostByName(AHost, Id_IPv6);
    }
  }
  EIdIPVersionUnsupported::Toss(RSIPVersionUnsupported);
}

uint16_t TIdStack::CalcCheckSum(const TIdBytes& AData) {
  uint32_t sum = 0;
  size_t i = 0;
  for (; i + 1 < AData.size(); i += 2) sum += uint32_t(AData[i]) << 8 | AData[i + 1];
  if (i < AData.size()) sum += uint32_t(AData[i]) << 8;
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint16_t>(~sum);
}

String TIdStack::HostName() { return ReadHostName(); }

TStrings& TIdStack::LocalAddresses() {
  std::lock_guard<std::mutex> lock(FLocalAddressesLock);
  if (!FLocalAddresses) {
    auto list = std::make_unique<TStringList>();
    AddLocalAddressesToList(*list);
    FLocalAddresses = std::move(list);
  }
  return *FLocalAddresses;
}

String TIdStack::LocalAddress() {
  TStrings& list = LocalAddresses();
  return list.Count() > 0 ? list.Get(0) : String();
}

std::unique_ptr<TIdSocketList> TIdSocketList::CreateSocketList() {
  return std::make_unique<TIdSocketListLinux>();
}

}  // namespace vyn
