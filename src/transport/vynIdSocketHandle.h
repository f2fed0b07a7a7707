// One socket: its handle, local and peer addresses, IP version and options, and the
// bind and connect sequences.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>

#include "vynIdStack.h"

namespace vyn {

enum TIdReuseSocket { rsOSDependent, rsTrue, rsFalse };

// Threads: a handle is used by one thread at a time, except that CloseSocket may run
// on another thread while Connect is in progress; the close then aborts the connect,
// which fails with a socket error.
//
// The handle holds a usage on the socket stack for its lifetime.
class TIdSocketHandle : public TObject {
public:
  TIdSocketHandle();
  ~TIdSocketHandle() override;  // closes the socket
  TIdSocketHandle(const TIdSocketHandle&) = delete;
  TIdSocketHandle& operator=(const TIdSocketHandle&) = delete;

  // Closes any current socket, then creates one of the handle's IP version.
  void AllocateSocket(int32_t ASocketType = Id_SOCK_STREAM, int32_t AProtocol = Id_IPPROTO_IP);
  // Binds to IP and Port, or to the first free port from ClientPortMax down to
  // ClientPortMin when Port is 0 and both are set; then reads the actual local address.
  void Bind();
  // Connects to PeerIP:PeerPort, then reads both addresses back from the socket. A
  // close from another thread during the connect makes it fail with a socket error.
  void Connect();
  // Closes the socket (with this handle's LingerState) when there is one.
  virtual void CloseSocket();
  // Shuts down one or both directions (Id_SD_...) of the socket when there is one;
  // never raises. Safe from another thread while the owning thread is blocked in a
  // receive, send or accept on it, which then wakes with the end of stream or an
  // error: the lock that CloseSocket takes keeps the descriptor from being closed and
  // its number reused in between.
  void Shutdown(int32_t AHow);

  int32_t Receive(TIdBytesSpan VBuffer);
  int32_t Send(const TIdBytes& ABuffer, int32_t AOffset = 0, int32_t ASize = -1);
  int32_t Send(const String& AData, const IIdTextEncoding& AByteEncoding = nullptr);

  // Whether the socket becomes readable within AMSec (-1 or TimeoutInfinite: no limit);
  // no socket raises EIdConnClosedGracefully.
  bool Readable(int32_t AMSec = TimeoutInfinite);
  // Waits until the socket is readable or ATimeout ms pass (TimeoutInfinite: no limit,
  // 0 polls); whether it is readable.
  bool Select(int32_t ATimeout = TimeoutInfinite);

  void SetPeer(const String& AIP, uint16_t APort, TIdIPVersion AIPVersion = ID_DEFAULT_IP_VERSION);
  void SetBinding(const String& AIP, uint16_t APort, TIdIPVersion AIPVersion = ID_DEFAULT_IP_VERSION);
  // Forgets the socket (closing it when one is still open), clears the peer address
  // and, with AResetLocal, the local one; the version becomes IPv4.
  void Reset(bool AResetLocal = true);
  void UpdateBindingLocal();
  void UpdateBindingPeer();

  int32_t GetSockOpt(int32_t ALevel, int32_t AOptName);
  void SetSockOpt(int32_t ALevel, int32_t AOptName, int32_t AOptVal);
  void SetKeepAliveValues(bool AEnabled, int32_t ATimeMS, int32_t AInterval);
  void SetTTL(int32_t AValue);
  void SetMulticastTTL(uint8_t AValue);
  void SetLoopBack(bool AValue);
  void AddMulticastMembership(const String& AGroupIP);
  void DropMulticastMembership(const String& AGroupIP);
  void Listen(int32_t AQueueCount = 5);
  // Takes over the next connection accepted on the listening socket AListener.
  void Accept(TIdStackSocketHandle AListener);
  int32_t SendTo(const String& AIP, uint16_t APort, const TIdBytes& ABuffer, int32_t AOffset = 0,
                 int32_t ASize = -1);
  int32_t RecvFrom(TIdBytes& ABuffer, String& VIP, uint16_t& VPort, TIdIPVersion& VIPVersion);
  void Broadcast(const String& AData, uint16_t APort, const String& AIP = u"255.255.255.255",
                 const IIdTextEncoding& AByteEncoding = nullptr);

  // ---- Properties ------------------------------------------------------------------------
  TIdStackSocketHandle Handle() const { return FHandle; }
  bool HandleAllocated() const { return FHandleAllocated; }
  const String& Name() const { return FName; }
  void SetName(const String& AValue) { FName = AValue; }
  // The socket is driven by another mechanism and stays out of the readiness set.
  bool IO() const { return FIO; }
  void SetIO(bool AValue) { FIO = AValue; }
  uint16_t ClientPortMin() const { return FClientPortMin; }
  void SetClientPortMin(uint16_t AValue) { FClientPortMin = AValue; }
  uint16_t ClientPortMax() const { return FClientPortMax; }
  void SetClientPortMax(uint16_t AValue) { FClientPortMax = AValue; }
  const String& IP() const { return FIP; }
  void SetIP(const String& AValue) { FIP = AValue; }
  const String& PeerIP() const { return FPeerIP; }
  void SetPeerIP(const String& AValue) { FPeerIP = AValue; }
  uint16_t Port() const { return FPort; }
  void SetPort(uint16_t AValue) { FPort = AValue; }
  uint16_t PeerPort() const { return FPeerPort; }
  void SetPeerPort(uint16_t AValue) { FPeerPort = AValue; }
  int32_t SocketType() const { return FSocketType; }
  bool OverLapped() const { return FOverLapped; }
  void SetOverLapped(bool AValue) { FOverLapped = AValue; }
  TIdIPVersion IPVersion() const { return FIPVersion; }
  // A change while a socket is open raises EIdCannotSetIPVersionWhenConnected.
  void SetIPVersion(TIdIPVersion AValue);
  bool BroadcastEnabled() const { return FBroadcastEnabled; }
  void SetBroadcastEnabled(bool AValue);
  bool UseNagle() const { return FUseNagle; }
  void SetUseNagle(bool AValue);
  TIdReuseSocket ReuseSocket() const { return FReuseSocket; }
  void SetReuseSocket(TIdReuseSocket AValue) { FReuseSocket = AValue; }
  // The linger value this handle's socket is closed with: -1 or lower shuts down the
  // sending direction first (orderly end of stream), 0 or more closes with the linger
  // option on for that many seconds (0 resets the connection). Default -1. It applies
  // to this handle only: one connection's choice must not reset another's.
  int32_t LingerState() const { return FLingerState; }
  void SetLingerState(int32_t AValue) { FLingerState = AValue; }

protected:
  // Adopts AHandle (Id_INVALID_SOCKET: none) as the handle's socket.
  void SetHandle(TIdStackSocketHandle AHandle);

private:
  int32_t FLingerState = -1;
  String FName;
  bool FIO = false;
  uint16_t FClientPortMin = 0;
  uint16_t FClientPortMax = 0;
  TIdStackSocketHandle FHandle = Id_INVALID_SOCKET;
  bool FHandleAllocated = false;  // written under FConnectionHandle
  String FIP;
  String FPeerIP;
  uint16_t FPort = 0;
  uint16_t FPeerPort = 0;
  std::unique_ptr<TIdSocketList> FReadSocketList;
  int32_t FSocketType = 0;
  bool FOverLapped = false;
  TIdIPVersion FIPVersion = ID_DEFAULT_IP_VERSION;
  // Serializes connect completion against close. While FConnecting, the connecting
  // thread uses the descriptor without holding the lock; CloseSocket then aborts the
  // connect and waits on FConnectDone before it closes the descriptor, so that its
  // number cannot be reused under the connecting thread.
  std::mutex FConnectionHandle;
  std::condition_variable FConnectDone;
  bool FConnecting = false;
  bool FBroadcastEnabled = false;
  bool FUseNagle = true;
  TIdReuseSocket FReuseSocket = rsOSDependent;
};

}  // namespace vyn
