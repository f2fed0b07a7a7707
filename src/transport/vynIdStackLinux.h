// The platform binding of the socket stack on Linux. It stands in for the library's
// Windows Sockets class (TIdStackWindows): POSIX sockets and getaddrinfo behind
// the same operations, with errno and resolver (EAI_*) codes mapped into the Windows
// Sockets numbering that the library and its callers test (ECONNRESET 10054,
// ETIMEDOUT 10060, ECONNREFUSED 10061, EAI_NONAME 11001, ...).
//
// This class and its source are the only place in the library that calls the
// operating system's socket API or includes a system networking header.
//
// Platform notes:
// - Sends use MSG_NOSIGNAL: a send to a closed peer raises the socket error instead of
//   ending the process with SIGPIPE.
// - Calls interrupted by a signal (EINTR) are resumed; an interrupted connect goes on
//   by waiting for its completion.
// - Sockets are created close-on-exec; "overlapped" has no meaning here.
// - Host names with non-ASCII characters are converted to their IDNA ASCII form with
//   libidn2 before the lookup; a name that cannot be converted is not found (11001).
#pragma once

#include <mutex>
#include <vector>

#include "vynIdStackBSDBase.h"

namespace vyn {

class TIdStackLinux : public TIdStackBSDBase {
public:
  TIdStackLinux();
  ~TIdStackLinux() override;

  TIdStackSocketHandle Accept(TIdStackSocketHandle ASocket, String& VIP, uint16_t& VPort,
                              TIdIPVersion& VIPVersion) override;
  void Bind(TIdStackSocketHandle ASocket, const String& AIP, uint16_t APort,
            TIdIPVersion AIPVersion = ID_DEFAULT_IP_VERSION) override;
  void Connect(TIdStackSocketHandle ASocket, const String& AIP, uint16_t APort,
               TIdIPVersion AIPVersion = ID_DEFAULT_IP_VERSION) override;
  void Disconnect(TIdStackSocketHandle ASocket) override;
  void Disconnect(TIdStackSocketHandle ASocket, int32_t ALingerState) override;
  int32_t WSShutdown(TIdStackSocketHandle ASocket, int32_t AHow) override;
  int32_t IOControl(TIdStackSocketHandle ASocket, uint32_t ACmd, uint32_t& VArg) override;
  void GetPeerName(TIdStackSocketHandle ASocket, String& VIP, uint16_t& VPort,
                   TIdIPVersion& VIPVersion) override;
  void GetSocketName(TIdStackSocketHandle ASocket, String& VIP, uint16_t& VPort,
                     TIdIPVersion& VIPVersion) override;
  String HostByAddress(const String& AAddress, TIdIPVersion AIPVersion = ID_DEFAULT_IP_VERSION) override;
  void Listen(TIdStackSocketHandle ASocket, int32_t ABackLog) override;
  int32_t WSGetLastError() override;
  void WSSetLastError(int32_t AErr) override;
  TIdStackSocketHandle NewSocketHandle(int32_t ASocketType, int32_t AProtocol,
                                       TIdIPVersion AIPVersion = ID_DEFAULT_IP_VERSION,
                                       bool ANonBlocking = false) override;
  int32_t GetSocketOption(TIdStackSocketHandle ASocket, int32_t ALevel, int32_t AOptName) override;
  void SetSocketOption(TIdStackSocketHandle ASocket, int32_t ALevel, int32_t AOptName,
                       int32_t AOptVal) override;
  int32_t Receive(TIdStackSocketHandle ASocket, TIdBytesSpan VBuffer) override;
  int32_t Send(TIdStackSocketHandle ASocket, const TIdBytes& ABuffer, int32_t AOffset = 0,
               int32_t ASize = -1) override;
  int32_t ReceiveFrom(TIdStackSocketHandle ASocket, TIdBytes& VBuffer, String& VIP, uint16_t& VPort,
                      TIdIPVersion& VIPVersion) override;
  int32_t SendTo(TIdStackSocketHandle ASocket, const TIdBytes& ABuffer, int32_t AOffset, int32_t ASize,
                 const String& AIP, uint16_t APort,
                 TIdIPVersion AIPVersion = ID_DEFAULT_IP_VERSION) override;
  bool SupportsIPv4() override;
  bool SupportsIPv6() override;
  void SetKeepAliveValues(TIdStackSocketHandle ASocket, bool AEnabled, int32_t ATimeMS,
                          int32_t AInterval) override;
  void AddMulticastMembership(TIdStackSocketHandle ASocket, const String& AGroupIP,
                              const String& ALocalIP, TIdIPVersion AIPVersion) override;
  void DropMulticastMembership(TIdStackSocketHandle ASocket, const String& AGroupIP,
                               const String& ALocalIP, TIdIPVersion AIPVersion) override;
  void SetMulticastTTL(TIdStackSocketHandle ASocket, uint8_t AValue, TIdIPVersion AIPVersion) override;
  void SetLoopBack(TIdStackSocketHandle ASocket, bool AValue, TIdIPVersion AIPVersion) override;
  void AddLocalAddressesToList(TStrings& AAddresses) override;

  uint16_t WSGetServByName(const String& AServiceName) override;
  void SetBlocking(TIdStackSocketHandle ASocket, bool ABlocking) override;
  int32_t WSCloseSocket(TIdStackSocketHandle ASocket) override;

  // The Windows Sockets code for an errno value, and for a getaddrinfo result (with
  // the errno of the moment for EAI_SYSTEM). Codes without a counterpart keep their
  // errno value.
  static int32_t TranslateErrno(int AErrno);
  static int32_t TranslateResolverError(int AGaiError, int AErrno);
  // The ASCII form a host name is looked up with: unchanged when it is ASCII, else its
  // IDNA form; false when it cannot be converted.
  static bool HostNameToAscii(const String& AHostName, std::string& VAscii);

protected:
  String HostByName(const String& AHostName, TIdIPVersion AIPVersion) override;
  String ReadHostName() override;

private:
  void Membership(TIdStackSocketHandle ASocket, const String& AGroupIP, const String& ALocalIP,
                  TIdIPVersion AIPVersion, bool AJoin);
};

// The readiness set of this platform: at most 64 handles, the limit of the Windows
// Sockets set it stands in for; the wait is a poll().
class TIdSocketListLinux : public TIdSocketList {
public:
  static constexpr int MaxHandles = 64;

  void Add(TIdStackSocketHandle AHandle) override;
  void Remove(TIdStackSocketHandle AHandle) override;
  void Clear() override;
  int Count() const override;
  TIdStackSocketHandle Item(int AIndex) const override;
  bool ContainsSocket(TIdStackSocketHandle AHandle) const override;
  std::unique_ptr<TIdSocketList> Clone() const override;
  bool SelectRead(int32_t ATimeout = TimeoutInfinite) override;
  bool SelectReadList(std::unique_ptr<TIdSocketList>& VSocketList,
                      int32_t ATimeout = TimeoutInfinite) override;

private:
  // The readable handles of this list after a wait of ATimeout.
  std::vector<TIdStackSocketHandle> WaitReadable(int32_t ATimeout);

  mutable std::mutex FLock;
  std::vector<TIdStackSocketHandle> FHandles;
};

}  // namespace vyn
