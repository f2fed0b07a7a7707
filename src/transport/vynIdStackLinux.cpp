#include "vynIdStackLinux.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <idn2.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "vynIdResourceStrings.h"

namespace vyn {

// The library's platform constants are this platform's own numbers.
static_assert(Id_SOCK_STREAM == SOCK_STREAM && Id_SOCK_DGRAM == SOCK_DGRAM && Id_SOCK_RAW == SOCK_RAW);
static_assert(Id_IPPROTO_IP == IPPROTO_IP && Id_IPPROTO_TCP == IPPROTO_TCP && Id_IPPROTO_UDP == IPPROTO_UDP &&
              Id_IPPROTO_IPV6 == IPPROTO_IPV6);
static_assert(Id_SOL_SOCKET == SOL_SOCKET && Id_SO_REUSEADDR == SO_REUSEADDR && Id_SO_TYPE == SO_TYPE &&
              Id_SO_ERROR == SO_ERROR && Id_SO_BROADCAST == SO_BROADCAST && Id_SO_SNDBUF == SO_SNDBUF &&
              Id_SO_RCVBUF == SO_RCVBUF && Id_SO_KEEPALIVE == SO_KEEPALIVE);
static_assert(Id_SO_RCVTIMEO == SO_RCVTIMEO && Id_SO_SNDTIMEO == SO_SNDTIMEO);
static_assert(Id_TCP_NODELAY == TCP_NODELAY && Id_IP_TTL == IP_TTL && Id_IPV6_UNICAST_HOPS == IPV6_UNICAST_HOPS);
static_assert(Id_SD_Recv == SHUT_RD && Id_SD_Send == SHUT_WR && Id_SD_Both == SHUT_RDWR);
static_assert(Id_FIONREAD == FIONREAD && Id_FIONBIO == FIONBIO);

namespace {

// The calling thread's last socket error, in the Windows Sockets numbering. Captured
// right at each failing call, so that nothing run afterwards (a destructor, an
// allocation) can change it before it is reported.
thread_local int32_t GLastSocketError = 0;

int Fd(TIdStackSocketHandle AHandle) {
  return AHandle > static_cast<TIdStackSocketHandle>(INT_MAX) ? -1 : static_cast<int>(AHandle);
}

[[noreturn]] void RaiseCode(TIdStack& AStack, int32_t ACode) {
  GLastSocketError = ACode;
  AStack.RaiseSocketError(ACode);
  throw EIdSocketError(ACode, AStack.WSTranslateSocketErrorMsg(ACode));  // only for an override that returns
}

[[noreturn]] void RaiseErrno(TIdStack& AStack) { RaiseCode(AStack, TIdStackLinux::TranslateErrno(errno)); }

[[noreturn]] void RaiseCodeNoStack(int32_t ACode) {
  if (TIdStack* stack = GStack()) RaiseCode(*stack, ACode);
  GLastSocketError = ACode;
  throw EIdSocketError(ACode, FormatInvariant(RSStackError, {ACode, u""}));
}

int Family(TIdIPVersion AIPVersion) {
  switch (AIPVersion) {
    case Id_IPv4: return AF_INET;
    case Id_IPv6: return AF_INET6;
  }
  EIdIPVersionUnsupported::Toss(RSIPVersionUnsupported);
}

struct TSockAddr {
  sockaddr_storage Storage{};
  socklen_t Length = sizeof(sockaddr_storage);
  sockaddr* Addr() { return reinterpret_cast<sockaddr*>(&Storage); }
};

// AIP (any address when empty) and APort as a socket address of the version's family.
TSockAddr MakeSockAddr(TIdStackBSDBase& AStack, const String& AIP, uint16_t APort, TIdIPVersion AIPVersion) {
  TSockAddr a;
  if (Family(AIPVersion) == AF_INET) {
    auto* in = reinterpret_cast<sockaddr_in*>(&a.Storage);
    in->sin_family = AF_INET;
    in->sin_port = htons(APort);
    in->sin_addr.s_addr = htonl(INADDR_ANY);
    if (!AIP.empty()) AStack.TranslateStringToTInAddr(AIP, &in->sin_addr, Id_IPv4);
    a.Length = sizeof(sockaddr_in);
  } else {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&a.Storage);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(APort);
    in6->sin6_addr = in6addr_any;
    if (!AIP.empty()) AStack.TranslateStringToTInAddr(AIP, &in6->sin6_addr, Id_IPv6);
    a.Length = sizeof(sockaddr_in6);
  }
  return a;
}

void ReadSockAddr(TIdStackBSDBase& AStack, const sockaddr_storage& AStorage, String& VIP, uint16_t& VPort,
                  TIdIPVersion& VIPVersion) {
  if (AStorage.ss_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(&AStorage);
    VIP = AStack.TranslateTInAddrToString(&in->sin_addr, Id_IPv4);
    VPort = ntohs(in->sin_port);
    VIPVersion = Id_IPv4;
  } else if (AStorage.ss_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&AStorage);
    VIP = AStack.TranslateTInAddrToString(&in6->sin6_addr, Id_IPv6);
    VPort = ntohs(in6->sin6_port);
    VIPVersion = Id_IPv6;
  } else {
    EIdIPVersionUnsupported::Toss(RSIPVersionUnsupported);
  }
}

bool CanCreate(int AFamily) {
  int fd = ::socket(AFamily, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

// Milliseconds to whole seconds for the keep-alive options: rounded up, within the
// range the kernel accepts.
int KeepAliveSeconds(int32_t AMilliseconds) {
  int64_t s = (static_cast<int64_t>(AMilliseconds) + 999) / 1000;
  return static_cast<int>(std::clamp<int64_t>(s, 1, 32767));
}

}  // namespace

// ---- Error codes ------------------------------------------------------------------------

int32_t TIdStackLinux::TranslateErrno(int AErrno) {
  switch (AErrno) {
    case 0: return 0;
    case EINTR: return Id_WSAEINTR;
    // A handle that is not an open descriptor is what the platform the codes come from
    // reports as "not a socket".
    case EBADF: return Id_WSAENOTSOCK;
    case EACCES:
    case EPERM: return Id_WSAEACCES;
    case EFAULT: return Id_WSAEFAULT;
    case EINVAL: return Id_WSAEINVAL;
    case EMFILE:
    case ENFILE: return Id_WSAEMFILE;
    case EAGAIN: return Id_WSAEWOULDBLOCK;  // also EWOULDBLOCK
    case EINPROGRESS: return Id_WSAEINPROGRESS;
    case EALREADY: return Id_WSAEALREADY;
    case ENOTSOCK: return Id_WSAENOTSOCK;
    case EDESTADDRREQ: return Id_WSAEDESTADDRREQ;
    case EMSGSIZE: return Id_WSAEMSGSIZE;
    case EPROTOTYPE: return Id_WSAEPROTOTYPE;
    case ENOPROTOOPT: return Id_WSAENOPROTOOPT;
    case EPROTONOSUPPORT: return Id_WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT: return Id_WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP: return Id_WSAEOPNOTSUPP;  // also ENOTSUP
    case EPFNOSUPPORT: return Id_WSAEPFNOSUPPORT;
    case EAFNOSUPPORT: return Id_WSAEAFNOSUPPORT;
    case EADDRINUSE: return Id_WSAEADDRINUSE;
    case EADDRNOTAVAIL: return Id_WSAEADDRNOTAVAIL;
    case ENETDOWN: return Id_WSAENETDOWN;
    case ENETUNREACH: return Id_WSAENETUNREACH;
    case ENETRESET: return Id_WSAENETRESET;
    case ECONNABORTED:
    case EPROTO: return Id_WSAECONNABORTED;
    case ECONNRESET: return Id_WSAECONNRESET;
    case ENOBUFS:
    case ENOSR: return Id_WSAENOBUFS;
    case EISCONN: return Id_WSAEISCONN;
    case ENOTCONN: return Id_WSAENOTCONN;
    // Sending after this end shut down, or after the peer reset the connection and
    // the reset was already reported once.
    case EPIPE:
    case ESHUTDOWN: return Id_WSAESHUTDOWN;
    case ETOOMANYREFS: return Id_WSAETOOMANYREFS;
    case ETIMEDOUT: return Id_WSAETIMEDOUT;
    case ECONNREFUSED: return Id_WSAECONNREFUSED;
    case ELOOP: return Id_WSAELOOP;
    case ENAMETOOLONG: return Id_WSAENAMETOOLONG;
    case EHOSTDOWN: return Id_WSAEHOSTDOWN;
    case EHOSTUNREACH: return Id_WSAEHOSTUNREACH;
    case ENOTEMPTY: return Id_WSAENOTEMPTY;
    case EUSERS: return Id_WSAEUSERS;
    case EDQUOT: return Id_WSAEDQUOT;
    case ESTALE: return Id_WSAESTALE;
    case EREMOTE: return Id_WSAEREMOTE;
    case ENOMEM: return Id_WSA_NOT_ENOUGH_MEMORY;
    default: return AErrno;
  }
}

int32_t TIdStackLinux::TranslateResolverError(int AGaiError, int AErrno) {
  switch (AGaiError) {
    case 0: return 0;
    case EAI_NONAME: return Id_WSAHOST_NOT_FOUND;
    case EAI_AGAIN: return Id_WSATRY_AGAIN;
    case EAI_FAIL: return Id_WSANO_RECOVERY;
    case EAI_NODATA:
    case EAI_ADDRFAMILY: return Id_WSANO_DATA;  // the name exists, but not for this family
    case EAI_BADFLAGS: return Id_WSAEINVAL;
    case EAI_FAMILY: return Id_WSAEAFNOSUPPORT;
    case EAI_MEMORY: return Id_WSA_NOT_ENOUGH_MEMORY;
    case EAI_SERVICE: return Id_WSATYPE_NOT_FOUND;
    case EAI_SOCKTYPE: return Id_WSAESOCKTNOSUPPORT;
    case EAI_OVERFLOW: return Id_WSAEFAULT;
    case EAI_SYSTEM: return TranslateErrno(AErrno);
    default: return Id_WSANO_RECOVERY;
  }
}

int32_t TIdStackLinux::WSGetLastError() { return GLastSocketError; }
void TIdStackLinux::WSSetLastError(int32_t AErr) { GLastSocketError = AErr; }

// ---- Lifecycle --------------------------------------------------------------------------

// Nothing to load or start here: the socket calls are part of the C library and the
// IDN converter is linked.
TIdStackLinux::TIdStackLinux() = default;
TIdStackLinux::~TIdStackLinux() = default;

// ---- Sockets ----------------------------------------------------------------------------

TIdStackSocketHandle TIdStackLinux::NewSocketHandle(int32_t ASocketType, int32_t AProtocol,
                                                    TIdIPVersion AIPVersion, bool ANonBlocking) {
  const int type = ASocketType | SOCK_CLOEXEC | (ANonBlocking ? SOCK_NONBLOCK : 0);
  int fd = ::socket(Family(AIPVersion), type, AProtocol);
  if (fd < 0) RaiseErrno(*this);
  return static_cast<TIdStackSocketHandle>(fd);
}

int32_t TIdStackLinux::WSCloseSocket(TIdStackSocketHandle ASocket) {
  // close() is never repeated: the descriptor is released even when it reports EINTR.
  if (::close(Fd(ASocket)) < 0 && errno != EINTR) {
    GLastSocketError = TranslateErrno(errno);
    return Id_SOCKET_ERROR;
  }
  return 0;
}

int32_t TIdStackLinux::WSShutdown(TIdStackSocketHandle ASocket, int32_t AHow) {
  if (::shutdown(Fd(ASocket), AHow) < 0) {
    GLastSocketError = TranslateErrno(errno);
    return Id_SOCKET_ERROR;
  }
  return 0;
}

void TIdStackLinux::Disconnect(TIdStackSocketHandle ASocket) { Disconnect(ASocket, LingerState()); }

void TIdStackLinux::Disconnect(TIdStackSocketHandle ASocket, int32_t ALingerState) {
  const int fd = Fd(ASocket);
  int32_t failure = 0;
  if (ALingerState < 0) {
    // Orderly end: the peer reads the end of stream. A socket that never connected
    // has nothing to shut down, which is no fault.
    ::shutdown(fd, SHUT_WR);
  } else {
    linger l{1, ALingerState};
    if (::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l) < 0) failure = TranslateErrno(errno);
  }
  // The handle is closed whatever happened before, so that it never leaks.
  if (WSCloseSocket(ASocket) == Id_SOCKET_ERROR && failure == 0) failure = GLastSocketError;
  if (failure != 0) RaiseCode(*this, failure);
}

void TIdStackLinux::Bind(TIdStackSocketHandle ASocket, const String& AIP, uint16_t APort,
                         TIdIPVersion AIPVersion) {
  TSockAddr a = MakeSockAddr(*this, AIP, APort, AIPVersion);
  if (::bind(Fd(ASocket), a.Addr(), a.Length) < 0) RaiseErrno(*this);
}

void TIdStackLinux::Connect(TIdStackSocketHandle ASocket, const String& AIP, uint16_t APort,
                            TIdIPVersion AIPVersion) {
  const int fd = Fd(ASocket);
  TSockAddr a = MakeSockAddr(*this, AIP, APort, AIPVersion);
  if (::connect(fd, a.Addr(), a.Length) == 0) return;
  const int err = errno;
  // A non-blocking connect that has started reports "would block", as callers of
  // WouldBlock expect.
  if (err == EINPROGRESS) RaiseCode(*this, Id_WSAEWOULDBLOCK);
  if (err != EINTR) RaiseCode(*this, TranslateErrno(err));
  // Interrupted by a signal: the attempt goes on in the kernel; wait for its outcome.
  for (;;) {
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, -1) >= 0) break;
    if (errno != EINTR) RaiseErrno(*this);
  }
  int soError = 0;
  socklen_t len = sizeof soError;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) < 0) RaiseErrno(*this);
  if (soError != 0) RaiseCode(*this, TranslateErrno(soError));
}

void TIdStackLinux::Listen(TIdStackSocketHandle ASocket, int32_t ABackLog) {
  if (::listen(Fd(ASocket), ABackLog) < 0) RaiseErrno(*this);
}

TIdStackSocketHandle TIdStackLinux::Accept(TIdStackSocketHandle ASocket, String& VIP, uint16_t& VPort,
                                           TIdIPVersion& VIPVersion) {
  TSockAddr a;
  int fd;
  for (;;) {
    a.Length = sizeof a.Storage;
    fd = ::accept4(Fd(ASocket), a.Addr(), &a.Length, SOCK_CLOEXEC);
    if (fd >= 0) break;
    if (errno != EINTR) RaiseErrno(*this);
  }
  try {
    ReadSockAddr(*this, a.Storage, VIP, VPort, VIPVersion);
  } catch (...) {
    ::close(fd);
    throw;
  }
  return static_cast<TIdStackSocketHandle>(fd);
}

int32_t TIdStackLinux::Receive(TIdStackSocketHandle ASocket, TIdBytesSpan VBuffer) {
  const size_t want = std::min<size_t>(VBuffer.size(), INT32_MAX);
  for (;;) {
    ssize_t n = ::recv(Fd(ASocket), VBuffer.data(), want, 0);
    if (n >= 0) return static_cast<int32_t>(n);
    if (errno != EINTR) RaiseErrno(*this);
  }
}

int32_t TIdStackLinux::Send(TIdStackSocketHandle ASocket, const TIdBytes& ABuffer, int32_t AOffset,
                            int32_t ASize) {
  const size_t size = std::min<size_t>(ABuffer.size(), INT32_MAX);
  const size_t offset = std::clamp<int64_t>(AOffset, 0, static_cast<int64_t>(size));
  const size_t count = ASize < 0 ? size - offset : std::min<size_t>(ASize, size - offset);
  for (;;) {
    ssize_t n = ::send(Fd(ASocket), ABuffer.data() + offset, count, MSG_NOSIGNAL);
    if (n >= 0) return static_cast<int32_t>(n);
    if (errno != EINTR) RaiseErrno(*this);
  }
}

int32_t TIdStackLinux::ReceiveFrom(TIdStackSocketHandle ASocket, TIdBytes& VBuffer, String& VIP,
                                   uint16_t& VPort, TIdIPVersion& VIPVersion) {
  const size_t want = std::min<size_t>(VBuffer.size(), INT32_MAX);
  TSockAddr a;
  ssize_t n;
  for (;;) {
    a.Length = sizeof a.Storage;
    n = ::recvfrom(Fd(ASocket), VBuffer.data(), want, 0, a.Addr(), &a.Length);
    if (n >= 0) break;
    if (errno != EINTR) RaiseErrno(*this);
  }
  ReadSockAddr(*this, a.Storage, VIP, VPort, VIPVersion);
  return static_cast<int32_t>(n);
}

int32_t TIdStackLinux::SendTo(TIdStackSocketHandle ASocket, const TIdBytes& ABuffer, int32_t AOffset,
                              int32_t ASize, const String& AIP, uint16_t APort, TIdIPVersion AIPVersion) {
  TSockAddr a = MakeSockAddr(*this, AIP, APort, AIPVersion);
  const size_t size = std::min<size_t>(ABuffer.size(), INT32_MAX);
  const size_t offset = std::clamp<int64_t>(AOffset, 0, static_cast<int64_t>(size));
  const size_t count = ASize < 0 ? size - offset : std::min<size_t>(ASize, size - offset);
  for (;;) {
    ssize_t n = ::sendto(Fd(ASocket), ABuffer.data() + offset, count, MSG_NOSIGNAL, a.Addr(), a.Length);
    if (n >= 0) return static_cast<int32_t>(n);
    if (errno != EINTR) RaiseErrno(*this);
  }
}

int32_t TIdStackLinux::IOControl(TIdStackSocketHandle ASocket, uint32_t ACmd, uint32_t& VArg) {
  int arg = static_cast<int>(VArg);
  int r = ::ioctl(Fd(ASocket), ACmd, &arg);
  if (r < 0) {
    GLastSocketError = TranslateErrno(errno);
    return Id_SOCKET_ERROR;
  }
  VArg = static_cast<uint32_t>(arg);
  return r;
}

void TIdStackLinux::GetPeerName(TIdStackSocketHandle ASocket, String& VIP, uint16_t& VPort,
                                TIdIPVersion& VIPVersion) {
  TSockAddr a;
  if (::getpeername(Fd(ASocket), a.Addr(), &a.Length) < 0) {
    int error = errno;
    // A peer that reset the connection leaves the socket unconnected: the reset, still
    // pending on the socket, is the reason to report.
    int pending = 0;
    socklen_t length = sizeof pending;
    if (error == ENOTCONN && ::getsockopt(Fd(ASocket), SOL_SOCKET, SO_ERROR, &pending, &length) == 0 && pending != 0)
      error = pending;
    RaiseCode(*this, TranslateErrno(error));
  }
  ReadSockAddr(*this, a.Storage, VIP, VPort, VIPVersion);
}

void TIdStackLinux::GetSocketName(TIdStackSocketHandle ASocket, String& VIP, uint16_t& VPort,
                                  TIdIPVersion& VIPVersion) {
  TSockAddr a;
  if (::getsockname(Fd(ASocket), a.Addr(), &a.Length) < 0) RaiseErrno(*this);
  ReadSockAddr(*this, a.Storage, VIP, VPort, VIPVersion);
}

int32_t TIdStackLinux::GetSocketOption(TIdStackSocketHandle ASocket, int32_t ALevel, int32_t AOptName) {
  int value = 0;
  socklen_t len = sizeof value;
  if (::getsockopt(Fd(ASocket), ALevel, AOptName, &value, &len) < 0) RaiseErrno(*this);
  return value;
}

void TIdStackLinux::SetSocketOption(TIdStackSocketHandle ASocket, int32_t ALevel, int32_t AOptName,
                                    int32_t AOptVal) {
  if (ALevel == SOL_SOCKET && (AOptName == SO_RCVTIMEO || AOptName == SO_SNDTIMEO)) {
    const int32_t ms = AOptVal < 0 ? 0 : AOptVal;
    timeval t{ms / 1000, (ms % 1000) * 1000};
    if (::setsockopt(Fd(ASocket), ALevel, AOptName, &t, sizeof t) < 0) RaiseErrno(*this);
    return;
  }
  int value = AOptVal;
  if (::setsockopt(Fd(ASocket), ALevel, AOptName, &value, sizeof value) < 0) RaiseErrno(*this);
}

void TIdStackLinux::SetKeepAliveValues(TIdStackSocketHandle ASocket, bool AEnabled, int32_t ATimeMS,
                                       int32_t AInterval) {
  if (AEnabled) {
    SetSocketOption(ASocket, SOL_SOCKET, SO_KEEPALIVE, 1);
    SetSocketOption(ASocket, IPPROTO_TCP, TCP_KEEPIDLE, KeepAliveSeconds(ATimeMS));
    SetSocketOption(ASocket, IPPROTO_TCP, TCP_KEEPINTVL, KeepAliveSeconds(AInterval));
  } else {
    SetSocketOption(ASocket, SOL_SOCKET, SO_KEEPALIVE, 0);
  }
}

void TIdStackLinux::SetBlocking(TIdStackSocketHandle ASocket, bool ABlocking) {
  const int fd = Fd(ASocket);
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) RaiseErrno(*this);
  flags = ABlocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
  if (::fcntl(fd, F_SETFL, flags) < 0) RaiseErrno(*this);
}

bool TIdStackLinux::SupportsIPv4() { return CanCreate(AF_INET); }
bool TIdStackLinux::SupportsIPv6() { return CanCreate(AF_INET6); }

void TIdStackLinux::Membership(TIdStackSocketHandle ASocket, const String& AGroupIP, const String& ALocalIP,
                               TIdIPVersion AIPVersion, bool AJoin) {
  int r;
  if (Family(AIPVersion) == AF_INET) {
    ip_mreq m{};
    TranslateStringToTInAddr(AGroupIP, &m.imr_multiaddr, Id_IPv4);
    m.imr_interface.s_addr = htonl(INADDR_ANY);
    if (!ALocalIP.empty()) TranslateStringToTInAddr(ALocalIP, &m.imr_interface, Id_IPv4);
    r = ::setsockopt(Fd(ASocket), IPPROTO_IP, AJoin ? IP_ADD_MEMBERSHIP : IP_DROP_MEMBERSHIP, &m, sizeof m);
  } else {
    ipv6_mreq m{};
    TranslateStringToTInAddr(AGroupIP, &m.ipv6mr_multiaddr, Id_IPv6);
    m.ipv6mr_interface = 0;  // the system's choice, as the local address names no interface here
    r = ::setsockopt(Fd(ASocket), IPPROTO_IPV6, AJoin ? IPV6_ADD_MEMBERSHIP : IPV6_DROP_MEMBERSHIP, &m,
                     sizeof m);
  }
  if (r < 0) RaiseErrno(*this);
}

void TIdStackLinux::AddMulticastMembership(TIdStackSocketHandle ASocket, const String& AGroupIP,
                                           const String& ALocalIP, TIdIPVersion AIPVersion) {
  Membership(ASocket, AGroupIP, ALocalIP, AIPVersion, true);
}

void TIdStackLinux::DropMulticastMembership(TIdStackSocketHandle ASocket, const String& AGroupIP,
                                            const String& ALocalIP, TIdIPVersion AIPVersion) {
  Membership(ASocket, AGroupIP, ALocalIP, AIPVersion, false);
}

void TIdStackLinux::SetMulticastTTL(TIdStackSocketHandle ASocket, uint8_t AValue, TIdIPVersion AIPVersion) {
  if (Family(AIPVersion) == AF_INET) {
    SetSocketOption(ASocket, IPPROTO_IP, IP_MULTICAST_TTL, AValue);
  } else {
    SetSocketOption(ASocket, IPPROTO_IPV6, IPV6_MULTICAST_HOPS, AValue);
  }
}

void TIdStackLinux::SetLoopBack(TIdStackSocketHandle ASocket, bool AValue, TIdIPVersion AIPVersion) {
  if (Family(AIPVersion) == AF_INET) {
    SetSocketOption(ASocket, IPPROTO_IP, IP_MULTICAST_LOOP, AValue ? 1 : 0);
  } else {
    SetSocketOption(ASocket, IPPROTO_IPV6, IPV6_MULTICAST_LOOP, AValue ? 1 : 0);
  }
}

void TIdStackLinux::AddLocalAddressesToList(TStrings& AAddresses) {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) < 0) RaiseErrno(*this);
  for (ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
    const auto* in = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
    if ((ntohl(in->sin_addr.s_addr) >> 24) == 127) continue;  // loopback is no address of the machine's
    String ip = TranslateTInAddrToString(&in->sin_addr, Id_IPv4);
    if (AAddresses.IndexOf(ip) < 0) AAddresses.Add(ip);
  }
  ::freeifaddrs(list);
}

// ---- Names ------------------------------------------------------------------------------

bool TIdStackLinux::HostNameToAscii(const String& AHostName, std::string& VAscii) {
  std::string utf8 = ToUtf8(AHostName);
  if (utf8.find('\0') != std::string::npos) return false;  // would cut the name short
  if (std::all_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    VAscii = std::move(utf8);
    return true;
  }
  char* out = nullptr;
  int rc = ::idn2_to_ascii_8z(utf8.c_str(), &out, IDN2_NFC_INPUT | IDN2_NONTRANSITIONAL);
  if (rc != IDN2_OK) {
    // Names valid only under the older rules still have an ASCII form there.
    rc = ::idn2_to_ascii_8z(utf8.c_str(), &out, IDN2_NFC_INPUT | IDN2_TRANSITIONAL);
  }
  if (rc != IDN2_OK) return false;
  VAscii = out;
  ::idn2_free(out);
  return true;
}

String TIdStackLinux::HostByName(const String& AHostName, TIdIPVersion AIPVersion) {
  const int family = Family(AIPVersion);
  std::string name;
  if (!HostNameToAscii(AHostName, name)) RaiseCode(*this, Id_WSAHOST_NOT_FOUND);
  addrinfo hints{};
  hints.ai_family = family;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &result);
  if (rc != 0) RaiseCode(*this, TranslateResolverError(rc, errno));
  std::unique_ptr<addrinfo, void (*)(addrinfo*)> owner(result, ::freeaddrinfo);
  for (addrinfo* ai = result; ai; ai = ai->ai_next) {
    if (ai->ai_family != family || !ai->ai_addr) continue;
    if (family == AF_INET) {
      return TranslateTInAddrToString(&reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr, Id_IPv4);
    }
    return TranslateTInAddrToString(&reinterpret_cast<const sockaddr_in6*>(ai->ai_addr)->sin6_addr, Id_IPv6);
  }
  RaiseCode(*this, Id_WSANO_DATA);
}

String TIdStackLinux::HostByAddress(const String& AAddress, TIdIPVersion AIPVersion) {
  TSockAddr a = MakeSockAddr(*this, AAddress, 0, AIPVersion);
  char host[NI_MAXHOST];
  int rc = ::getnameinfo(a.Addr(), a.Length, host, sizeof host, nullptr, 0, NI_NAMEREQD);
  if (rc != 0) RaiseCode(*this, TranslateResolverError(rc, errno));
  return FromUtf8(host);
}

String TIdStackLinux::ReadHostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) < 0) RaiseErrno(*this);
  return FromUtf8(name);
}

uint16_t TIdStackLinux::WSGetServByName(const String& AServiceName) {
  const int32_t numeric = TrimmedStrToInt(AServiceName, -1);
  if (numeric >= 0 && numeric <= 0xFFFF) return static_cast<uint16_t>(numeric);
  std::string name = ToUtf8(AServiceName);
  servent entry{};
  servent* found = nullptr;
  char buffer[1024];
  if (name.find('\0') == std::string::npos &&
      ::getservbyname_r(name.c_str(), nullptr, &entry, buffer, sizeof buffer, &found) == 0 && found) {
    return ntohs(static_cast<uint16_t>(found->s_port));
  }
  EIdInvalidServiceName::Toss(FormatInvariant(RSInvalidServiceName, {AServiceName}));
}

// ---- Readiness set ----------------------------------------------------------------------

void TIdSocketListLinux::Add(TIdStackSocketHandle AHandle) {
  std::lock_guard<std::mutex> lock(FLock);
  if (std::find(FHandles.begin(), FHandles.end(), AHandle) != FHandles.end()) return;
  if (static_cast<int>(FHandles.size()) >= MaxHandles) EIdStackSetSizeExceeded::Toss(RSStackSetSizeExceeded);
  FHandles.push_back(AHandle);
}

void TIdSocketListLinux::Remove(TIdStackSocketHandle AHandle) {
  std::lock_guard<std::mutex> lock(FLock);
  FHandles.erase(std::remove(FHandles.begin(), FHandles.end(), AHandle), FHandles.end());
}

void TIdSocketListLinux::Clear() {
  std::lock_guard<std::mutex> lock(FLock);
  FHandles.clear();
}

int TIdSocketListLinux::Count() const {
  std::lock_guard<std::mutex> lock(FLock);
  return static_cast<int>(FHandles.size());
}

TIdStackSocketHandle TIdSocketListLinux::Item(int AIndex) const {
  std::lock_guard<std::mutex> lock(FLock);
  if (AIndex < 0 || AIndex >= static_cast<int>(FHandles.size())) {
    EListError::Toss(FormatInvariant(u"List index out of bounds (%d)", {AIndex}));
  }
  return FHandles[AIndex];
}

bool TIdSocketListLinux::ContainsSocket(TIdStackSocketHandle AHandle) const {
  std::lock_guard<std::mutex> lock(FLock);
  return std::find(FHandles.begin(), FHandles.end(), AHandle) != FHandles.end();
}

std::unique_ptr<TIdSocketList> TIdSocketListLinux::Clone() const {
  auto copy = std::make_unique<TIdSocketListLinux>();
  std::lock_guard<std::mutex> lock(FLock);
  copy->FHandles = FHandles;
  return copy;
}

std::vector<TIdStackSocketHandle> TIdSocketListLinux::WaitReadable(int32_t ATimeout) {
  std::vector<pollfd> fds;
  {
    std::lock_guard<std::mutex> lock(FLock);
    for (TIdStackSocketHandle h : FHandles) fds.push_back(pollfd{Fd(h), POLLIN, 0});
  }
  const uint64_t start = TickCount64();
  for (;;) {
    int wait = -1;
    if (ATimeout >= 0) {
      const uint64_t elapsed = TicksSince(start);
      wait = elapsed >= static_cast<uint64_t>(ATimeout) ? 0 : static_cast<int>(ATimeout - elapsed);
    }
    int r = ::poll(fds.data(), fds.size(), wait);
    if (r >= 0) break;
    if (errno != EINTR) RaiseCodeNoStack(TIdStackLinux::TranslateErrno(errno));
  }
  std::vector<TIdStackSocketHandle> readable;
  for (const pollfd& p : fds) {
    if (p.revents & POLLNVAL) RaiseCodeNoStack(Id_WSAENOTSOCK);
    if (p.revents & (POLLIN | POLLHUP | POLLERR)) readable.push_back(static_cast<TIdStackSocketHandle>(p.fd));
  }
  return readable;
}

bool TIdSocketListLinux::SelectRead(int32_t ATimeout) { return !WaitReadable(ATimeout).empty(); }

bool TIdSocketListLinux::SelectReadList(std::unique_ptr<TIdSocketList>& VSocketList, int32_t ATimeout) {
  std::vector<TIdStackSocketHandle> readable = WaitReadable(ATimeout);
  if (readable.empty()) {
    VSocketList.reset();
    return false;
  }
  auto list = std::make_unique<TIdSocketListLinux>();
  list->FHandles = std::move(readable);
  VSocketList = std::move(list);
  return true;
}

}  // namespace vyn
