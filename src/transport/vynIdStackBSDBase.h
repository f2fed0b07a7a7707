// The part of the stack shared by platforms with Berkeley-style sockets: the
// process-wide linger value, address text conversion, service names and blocking mode.
#pragma once

#include <atomic>

#include "vynIdStack.h"

namespace vyn {

class TIdStackBSDBase : public TIdStack {
public:
  void SetLingerState(int32_t AValue) override { FLingerState.store(AValue); }
  int32_t LingerState() const { return FLingerState.load(); }

  // AIP to a packed address in network byte order at AInAddr, which must hold 4 bytes
  // (IPv4) or 16 bytes (IPv6). IPv4: four decimal pieces, a piece that is not a number
  // raises EConvertError; a missing, extra or out-of-range piece raises the socket
  // error 10022. IPv6: an invalid text raises EIdInvalidIPv6Address.
  void TranslateStringToTInAddr(const String& AIP, void* AInAddr, TIdIPVersion AIPVersion);
  // The packed address at AInAddr as text: dotted decimal, or eight upper-case
  // hexadecimal groups without leading zeros and without "::" ('0:0:0:0:0:0:0:1').
  String TranslateTInAddrToString(const void* AInAddr, TIdIPVersion AIPVersion);

  // The port of a named service (a number is taken as it is); an unknown name raises
  // EIdInvalidServiceName "%s is not a valid service.".
  virtual uint16_t WSGetServByName(const String& AServiceName) = 0;
  // Whether a stream socket of that family can be created (the test socket is closed).
  bool CheckIPVersionSupport(TIdIPVersion AIPVersion);
  virtual void SetBlocking(TIdStackSocketHandle ASocket, bool ABlocking) = 0;
  // Whether the error code AResult means "would block".
  bool WouldBlock(int32_t AResult) const { return AResult == Id_WSAEWOULDBLOCK; }
  // Closes the handle and nothing else; Id_SOCKET_ERROR with the last error set on failure.
  virtual int32_t WSCloseSocket(TIdStackSocketHandle ASocket) = 0;

private:
  std::atomic<int32_t> FLingerState{-1};
};

}  // namespace vyn
