// The socket stack: the one process-wide object through which the library reaches the
// operating system's sockets, and the readiness set of socket handles.
//
// Lifecycle: every networking object holds a usage on the stack (TIdStack::IncUsage
// when created, DecUsage when destroyed). The first usage creates the instance of the
// registered class, the last one destroys it; GStack() gives the current instance.
// The platform class (TIdStackLinux) is registered by default.
//
// Errors: every failure is raised as EIdSocketError (EIdNotASocket for 10038) whose
// LastError is the code in the Windows Sockets numbering below, whatever the
// platform's own numbers are; the rest of the library tests these numbers.
#pragma once

#include <initializer_list>
#include <memory>
#include <mutex>

#include "vynClasses.h"
#include "vynIdGlobal.h"

namespace vyn {

// A native socket handle; Id_INVALID_SOCKET means none.
using TIdStackSocketHandle = uintptr_t;
inline constexpr TIdStackSocketHandle Id_INVALID_SOCKET = ~TIdStackSocketHandle(0);
// The failure result of the platform's socket calls.
inline constexpr int32_t Id_SOCKET_ERROR = -1;

// Socket types, protocols, option levels and option names as the platform numbers
// them: GetSocketOption/SetSocketOption pass them through unchanged. The platform
// class checks every value against the system headers when it is built.
inline constexpr int32_t Id_SOCK_STREAM = 1;
inline constexpr int32_t Id_SOCK_DGRAM = 2;
inline constexpr int32_t Id_SOCK_RAW = 3;
inline constexpr int32_t Id_IPPROTO_IP = 0;
inline constexpr int32_t Id_IPPROTO_TCP = 6;
inline constexpr int32_t Id_IPPROTO_UDP = 17;
inline constexpr int32_t Id_IPPROTO_IPV6 = 41;
inline constexpr int32_t Id_SOL_SOCKET = 1;
inline constexpr int32_t Id_SO_REUSEADDR = 2;
inline constexpr int32_t Id_SO_TYPE = 3;
inline constexpr int32_t Id_SO_ERROR = 4;
inline constexpr int32_t Id_SO_BROADCAST = 6;
inline constexpr int32_t Id_SO_SNDBUF = 7;
inline constexpr int32_t Id_SO_RCVBUF = 8;
inline constexpr int32_t Id_SO_KEEPALIVE = 9;
// Receive and send time-outs, given in milliseconds (0: none), as Windows Sockets takes
// them; the platform class converts.
inline constexpr int32_t Id_SO_RCVTIMEO = 20;
inline constexpr int32_t Id_SO_SNDTIMEO = 21;
inline constexpr int32_t Id_TCP_NODELAY = 1;
inline constexpr int32_t Id_IP_TTL = 2;
inline constexpr int32_t Id_IPV6_UNICAST_HOPS = 16;
// Directions of WSShutdown.
inline constexpr int32_t Id_SD_Recv = 0;
inline constexpr int32_t Id_SD_Send = 1;
inline constexpr int32_t Id_SD_Both = 2;
// Control codes of IOControl.
inline constexpr uint32_t Id_FIONREAD = 0x541B;
inline constexpr uint32_t Id_FIONBIO = 0x5421;

// Error codes (Windows Sockets numbering).
inline constexpr int32_t Id_WSA_NOT_ENOUGH_MEMORY = 8;
inline constexpr int32_t Id_WSAEINTR = 10004;
inline constexpr int32_t Id_WSAEBADF = 10009;
inline constexpr int32_t Id_WSAEACCES = 10013;
inline constexpr int32_t Id_WSAEFAULT = 10014;
inline constexpr int32_t Id_WSAEINVAL = 10022;
inline constexpr int32_t Id_WSAEMFILE = 10024;
inline constexpr int32_t Id_WSAEWOULDBLOCK = 10035;
inline constexpr int32_t Id_WSAEINPROGRESS = 10036;
inline constexpr int32_t Id_WSAEALREADY = 10037;
inline constexpr int32_t Id_WSAENOTSOCK = 10038;
inline constexpr int32_t Id_WSAEDESTADDRREQ = 10039;
inline constexpr int32_t Id_WSAEMSGSIZE = 10040;
inline constexpr int32_t Id_WSAEPROTOTYPE = 10041;
inline constexpr int32_t Id_WSAENOPROTOOPT = 10042;
inline constexpr int32_t Id_WSAEPROTONOSUPPORT = 10043;
inline constexpr int32_t Id_WSAESOCKTNOSUPPORT = 10044;
inline constexpr int32_t Id_WSAEOPNOTSUPP = 10045;
inline constexpr int32_t Id_WSAEPFNOSUPPORT = 10046;
inline constexpr int32_t Id_WSAEAFNOSUPPORT = 10047;
inline constexpr int32_t Id_WSAEADDRINUSE = 10048;
inline constexpr int32_t Id_WSAEADDRNOTAVAIL = 10049;
inline constexpr int32_t Id_WSAENETDOWN = 10050;
inline constexpr int32_t Id_WSAENETUNREACH = 10051;
inline constexpr int32_t Id_WSAENETRESET = 10052;
inline constexpr int32_t Id_WSAECONNABORTED = 10053;
inline constexpr int32_t Id_WSAECONNRESET = 10054;
inline constexpr int32_t Id_WSAENOBUFS = 10055;
inline constexpr int32_t Id_WSAEISCONN = 10056;
inline constexpr int32_t Id_WSAENOTCONN = 10057;
inline constexpr int32_t Id_WSAESHUTDOWN = 10058;
inline constexpr int32_t Id_WSAETOOMANYREFS = 10059;
inline constexpr int32_t Id_WSAETIMEDOUT = 10060;
inline constexpr int32_t Id_WSAECONNREFUSED = 10061;
inline constexpr int32_t Id_WSAELOOP = 10062;
inline constexpr int32_t Id_WSAENAMETOOLONG = 10063;
inline constexpr int32_t Id_WSAEHOSTDOWN = 10064;
inline constexpr int32_t Id_WSAEHOSTUNREACH = 10065;
inline constexpr int32_t Id_WSAENOTEMPTY = 10066;
inline constexpr int32_t Id_WSAEUSERS = 10068;
inline constexpr int32_t Id_WSAEDQUOT = 10069;
inline constexpr int32_t Id_WSAESTALE = 10070;
inline constexpr int32_t Id_WSAEREMOTE = 10071;
inline constexpr int32_t Id_WSATYPE_NOT_FOUND = 10109;
inline constexpr int32_t Id_WSAHOST_NOT_FOUND = 11001;
inline constexpr int32_t Id_WSATRY_AGAIN = 11002;
inline constexpr int32_t Id_WSANO_RECOVERY = 11003;
inline constexpr int32_t Id_WSANO_DATA = 11004;

class TIdStack;
// The registered stack class: makes a new instance of it.
using TIdStackClass = std::unique_ptr<TIdStack> (*)();

// A lock-protected set of socket handles, used for readiness waits.
class TIdSocketList : public TObject {
public:
  // A new, empty list of the platform's class.
  static std::unique_ptr<TIdSocketList> CreateSocketList();

  // Adding beyond the platform's capacity raises EIdStackSetSizeExceeded; adding a
  // handle that is already there changes nothing.
  virtual void Add(TIdStackSocketHandle AHandle) = 0;
  virtual void Remove(TIdStackSocketHandle AHandle) = 0;
  virtual void Clear() = 0;
  virtual int Count() const = 0;
  virtual TIdStackSocketHandle Item(int AIndex) const = 0;  // 0-based; out of range: EListError
  virtual bool ContainsSocket(TIdStackSocketHandle AHandle) const = 0;
  virtual std::unique_ptr<TIdSocketList> Clone() const = 0;

  // Waits until one of the handles is readable (a closed or failed socket counts as
  // readable, so that the next receive reports it) or ATimeout milliseconds pass;
  // TimeoutInfinite (or any negative value) waits without limit, 0 polls. A failure of
  // the wait raises the socket error. Whether any handle is readable.
  virtual bool SelectRead(int32_t ATimeout = TimeoutInfinite) = 0;
  // The same, giving the readable handles in VSocketList (a new list, nullptr when none).
  virtual bool SelectReadList(std::unique_ptr<TIdSocketList>& VSocketList,
                              int32_t ATimeout = TimeoutInfinite) = 0;
};

class TIdStack : public TObject {
public:
  ~TIdStack() override;
  TIdStack(const TIdStack&) = delete;
  TIdStack& operator=(const TIdStack&) = delete;

  // ---- Lifecycle (process-wide, serialized by one lock) ------------------------------
  // The first usage creates the instance of the registered class; a failure leaves no
  // instance behind and is raised as EIdStackInitializationFailed wrapping it.
  static void IncUsage();
  // The last usage destroys the instance. Unbalanced calls are ignored.
  static void DecUsage();
  // The class the next first usage creates; nullptr makes IncUsage raise
  // "Stack Class is undefined.". The platform class is registered from the start.
  static void SetStackClass(TIdStackClass AClass);
  static TIdStackClass StackClass();

  // ---- Operations -----------------------------------------------------------------------
  // The process-wide linger value that Disconnect(ASocket) applies (default -1).
  virtual void SetLingerState(int32_t AValue) = 0;
  virtual TIdStackSocketHandle Accept(TIdStackSocketHandle ASocket, String& VIP, uint16_t& VPort,
                                      TIdIPVersion& VIPVersion) = 0;
  // Binds to AIP (any address when empty) and APort (any when 0).
  virtual void Bind(TIdStackSocketHandle ASocket, const String& AIP, uint16_t APort,
                    TIdIPVersion AIPVersion = ID_DEFAULT_IP_VERSION) = 0;
  // Connects to the numeric address AIP; blocks until connected or failed.
  virtual void Connect(TIdStackSocketHandle ASocket, const String& AIP, uint16_t APort,
                       TIdIPVersion AIPVersion = ID_DEFAULT_IP_VERSION) = 0;
  // Closes the socket. A linger value of -1 or lower first shuts down the sending
  // direction (the peer sees an orderly end of stream); 0 or more turns the linger
  // option on with that many seconds (0: the connection is reset). The first form uses
  // the process-wide value, the second the one given.
  virtual void Disconnect(TIdStackSocketHandle ASocket) = 0;
  virtual void Disconnect(TIdStackSocketHandle ASocket, int32_t ALingerState) = 0;
  // Shuts down one or both directions (Id_SD_...). Returns 0 or Id_SOCKET_ERROR with
  // the last error set; never raises, as a socket that is not connected is no fault here.
  virtual int32_t WSShutdown(TIdStackSocketHandle ASocket, int32_t AHow) = 0;
  // Raw control call; returns the platform's result (Id_SOCKET_ERROR with the last
  // error set on failure).
  virtual int32_t IOControl(TIdStackSocketHandle ASocket, uint32_t ACmd, uint32_t& VArg) = 0;
  virtual void GetPeerName(TIdStackSocketHandle ASocket, String& VIP, uint16_t& VPort,
                           TIdIPVersion& VIPVersion) = 0;
  virtual void GetSocketName(TIdStackSocketHandle ASocket, String& VIP, uint16_t& VPort,
                             TIdIPVersion& VIPVersion) = 0;
  // Reverse lookup of a numeric address.
  virtual String HostByAddress(const String& AAddress, TIdIPVersion AIPVersion = ID_DEFAULT_IP_VERSION) = 0;

  virtual uint16_t HostToNetwork(uint16_t AValue);
  virtual uint32_t HostToNetwork(uint32_t AValue);
  virtual uint64_t HostToNetwork(uint64_t AValue);
  virtual TIdIPv6Address HostToNetwork(const TIdIPv6Address& AValue);
  virtual uint16_t NetworkToHost(uint16_t AValue);
  virtual uint32_t NetworkToHost(uint32_t AValue);
  virtual uint64_t NetworkToHost(uint64_t AValue);
  virtual TIdIPv6Address NetworkToHost(const TIdIPv6Address& AValue);

  virtual void Listen(TIdStackSocketHandle ASocket, int32_t ABackLog) = 0;
  // The calling thread's last socket error (Windows Sockets numbering).
  virtual int32_t WSGetLastError() = 0;
  virtual void WSSetLastError(int32_t AErr) = 0;
  // "Socket Error # %d" + CR LF + the text of the code (empty for unknown codes).
  virtual String WSTranslateSocketErrorMsg(int32_t AErr);
  // EIdNotASocket for 10038, EIdSocketError otherwise; LastError is AErr.
  [[noreturn]] virtual void RaiseSocketError(int32_t AErr);
  // A new socket of the version's family.
  virtual TIdStackSocketHandle NewSocketHandle(int32_t ASocketType, int32_t AProtocol,
                                               TIdIPVersion AIPVersion = ID_DEFAULT_IP_VERSION,
                                               bool ANonBlocking = false) = 0;
  virtual int32_t GetSocketOption(TIdStackSocketHandle ASocket, int32_t ALevel, int32_t AOptName) = 0;
  virtual void SetSocketOption(TIdStackSocketHandle ASocket, int32_t ALevel, int32_t AOptName,
                               int32_t AOptVal) = 0;
  // One receive of at most VBuffer.size() bytes into VBuffer; the count (0 when the
  // peer closed).
  virtual int32_t Receive(TIdStackSocketHandle ASocket, TIdBytesSpan VBuffer) = 0;
  // One send of ASize bytes from AOffset, clamped to the array (ASize < 0: the rest);
  // the count sent.
  virtual int32_t Send(TIdStackSocketHandle ASocket, const TIdBytes& ABuffer, int32_t AOffset = 0,
                       int32_t ASize = -1) = 0;
  virtual int32_t ReceiveFrom(TIdStackSocketHandle ASocket, TIdBytes& VBuffer, String& VIP,
                              uint16_t& VPort, TIdIPVersion& VIPVersion) = 0;
  virtual int32_t SendTo(TIdStackSocketHandle ASocket, const TIdBytes& ABuffer, int32_t AOffset,
                         int32_t ASize, const String& AIP, uint16_t APort,
                         TIdIPVersion AIPVersion = ID_DEFAULT_IP_VERSION) = 0;
  virtual bool SupportsIPv4() = 0;
  virtual bool SupportsIPv6() = 0;
  // Enabled: keep-alive on, first probe after ATimeMS idle, then every AInterval ms.
  // Disabled: keep-alive off.
  virtual void SetKeepAliveValues(TIdStackSocketHandle ASocket, bool AEnabled, int32_t ATimeMS,
                                  int32_t AInterval) = 0;
  virtual void AddMulticastMembership(TIdStackSocketHandle ASocket, const String& AGroupIP,
                                      const String& ALocalIP, TIdIPVersion AIPVersion) = 0;
  virtual void DropMulticastMembership(TIdStackSocketHandle ASocket, const String& AGroupIP,
                                       const String& ALocalIP, TIdIPVersion AIPVersion) = 0;
  virtual void SetMulticastTTL(TIdStackSocketHandle ASocket, uint8_t AValue, TIdIPVersion AIPVersion) = 0;
  virtual void SetLoopBack(TIdStackSocketHandle ASocket, bool AValue, TIdIPVersion AIPVersion) = 0;
  // The machine's IPv4 addresses.
  virtual void AddLocalAddressesToList(TStrings& AAddresses) = 0;

  // ---- Non-virtual ------------------------------------------------------------------------
  // Raises the last socket error when AResult is Id_SOCKET_ERROR, else returns AResult.
  int32_t CheckForSocketError(int32_t AResult);
  // The same, except that a last error in AIgnore is returned instead of raised; 0 when
  // AResult is no failure.
  int32_t CheckForSocketError(int32_t AResult, std::initializer_list<int32_t> AIgnore);
  [[noreturn]] void RaiseLastSocketError();
  // Four dot-separated whole numbers from 0 to 255 (blanks around each allowed).
  static bool IsIP(const String& AIP);
  // A numeric address for AHost: 'localhost' and numeric texts without a lookup,
  // anything else through the resolver for that one family. IPv6 results are fully
  // written ('0:0:0:0:0:0:0:1'); an unknown host raises the socket error 11001.
  String ResolveHost(const String& AHost, TIdIPVersion AIPVersion = ID_DEFAULT_IP_VERSION);
  // The Internet checksum of the bytes.
  static uint16_t CalcCheckSum(const TIdBytes& AData);
  // The machine's host name.
  String HostName();
  // The machine's IPv4 addresses, read once; LocalAddress is the first or empty.
  TStrings& LocalAddresses();
  String LocalAddress();

protected:
  TIdStack();
  // The first address of the resolver's answer for AHostName in the one family.
  virtual String HostByName(const String& AHostName, TIdIPVersion AIPVersion) = 0;
  virtual String ReadHostName() = 0;

private:
  std::mutex FLocalAddressesLock;
  std::unique_ptr<TStringList> FLocalAddresses;
};

// The current stack instance; nullptr when no usage is held.
TIdStack* GStack();

}  // namespace vyn
