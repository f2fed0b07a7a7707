// The TCP client: the client settings (host, port, bound address, time-outs, IP
// version, Nagle, linger) and Connect. Every setting is kept here and copied into the
// handler at once when one is assigned, and again at each Connect.
#pragma once

#include "vynIdTCPConnection.h"

namespace vyn {

class TIdTCPClientCustom : public TIdTCPConnection {
public:
  explicit TIdTCPClientCustom(TComponent* AOwner = nullptr);

  // EIdAlreadyConnected "Already connected." when connected; EIdHostRequired and
  // EIdPortRequired without host or port. Without a handler an implicit one (the
  // default class) is made. A failure closes the handler and lets an implicit one go.
  virtual void Connect();
  void Connect(const String& AHost);
  void Connect(const String& AHost, uint16_t APort);
  // Connect, everything until the peer closes, Disconnect (also on error).
  virtual String ConnectAndGetAll();

  const String& BoundIP() const { return FBoundIP; }
  void SetBoundIP(const String& AValue);
  uint16_t BoundPort() const { return FBoundPort; }
  void SetBoundPort(uint16_t AValue);
  uint16_t BoundPortMax() const { return FBoundPortMax; }
  void SetBoundPortMax(uint16_t AValue);
  uint16_t BoundPortMin() const { return FBoundPortMin; }
  void SetBoundPortMin(uint16_t AValue);
  int32_t ConnectTimeout() const { return FConnectTimeout; }
  void SetConnectTimeout(int32_t AValue);
  const String& Destination() const { return FDestination; }
  void SetDestination(const String& AValue) { FDestination = AValue; }
  const String& Host() const { return FHost; }
  virtual void SetHost(const String& AValue);
  TIdIPVersion IPVersion() const { return FIPVersion; }
  virtual void SetIPVersion(TIdIPVersion AValue);
  const String& Password() const { return FPassword; }
  void SetPassword(const String& AValue) { FPassword = AValue; }
  uint16_t Port() const { return FPort; }
  virtual void SetPort(uint16_t AValue);
  // ReadTimeout, ReuseSocket and UseNagle read from the handler when there is one.
  int32_t ReadTimeout() const;
  void SetReadTimeout(int32_t AValue);
  const String& Username() const { return FUsername; }
  void SetUsername(const String& AValue) { FUsername = AValue; }
  TIdReuseSocket ReuseSocket() const;
  void SetReuseSocket(TIdReuseSocket AValue);
  bool UseNagle() const;
  void SetUseNagle(bool AValue);
  int32_t LingerState() const { return FLingerState; }
  void SetLingerState(int32_t AValue);

  TNotifyEvent OnConnected;
  // Handed to the socket handler.
  TNotifyEvent OnBeforeBind;
  TNotifyEvent OnAfterBind;
  TNotifyEvent OnSocketAllocated;

protected:
  void AssignIOHandler(TIdIOHandler* AValue, std::unique_ptr<TIdIOHandler> AOwned) override;
  virtual void FireConnected();
  // An instance of the default handler class.
  virtual std::unique_ptr<TIdIOHandler> MakeImplicitHandler();
  // Copies every client setting into the handler.
  void CopySettingsToIOHandler();

  String FBoundIP;
  uint16_t FBoundPort = 0;
  uint16_t FBoundPortMax = 0;
  uint16_t FBoundPortMin = 0;
  int32_t FConnectTimeout = 0;
  String FDestination;
  String FHost;
  TIdIPVersion FIPVersion = ID_DEFAULT_IP_VERSION;
  String FPassword;
  uint16_t FPort = 0;
  int32_t FReadTimeout = -1;
  String FUsername;
  TIdReuseSocket FReuseSocket = rsOSDependent;
  bool FUseNagle = true;
  int32_t FLingerState = -1;
};

class TIdTCPClient : public TIdTCPClientCustom {
public:
  using TIdTCPClientCustom::TIdTCPClientCustom;
};

}  // namespace vyn
