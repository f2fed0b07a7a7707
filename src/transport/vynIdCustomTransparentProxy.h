// The base of the transparent proxies: a connection to a proxy server that is turned
// into a tunnel to the real target before any protocol bytes flow. A socket I/O
// handler with an enabled proxy connects to the proxy's Host and Port and then calls
// Connect with the real target.
#pragma once

#include "vynIdComponent.h"
#include "vynIdGlobal.h"

namespace vyn {

class TIdIOHandler;
class TIdSocketHandle;

class TIdCustomTransparentProxy : public TIdComponent {
public:
  explicit TIdCustomTransparentProxy(TComponent* AOwner = nullptr);
  ~TIdCustomTransparentProxy() override;

  // Copies Host, Password, Port, IPVersion and Username (not the chain).
  void Assign(const TPersistent* ASource) override;
  // A new proxy of this object's class, owned by AOwner (the owner frees it).
  virtual TIdCustomTransparentProxy* CreateOfSameClass(TComponent* AOwner) const = 0;

  virtual bool Enabled() const = 0;
  virtual void SetEnabled(bool) {}

  // Runs the handshake over AIOHandler's fresh connection to this proxy, through the
  // chained proxies, so that the connection ends at AHost:APort.
  void Connect(TIdIOHandler* AIOHandler, const String& AHost, uint16_t APort,
               TIdIPVersion AIPVersion = ID_DEFAULT_IP_VERSION);

  // Datagrams: "UDP Not supported by this proxy." in the base.
  virtual void OpenUDP(TIdSocketHandle* AHandle, const String& AHost = String(), uint16_t APort = 0,
                       TIdIPVersion AIPVersion = ID_DEFAULT_IP_VERSION);
  virtual void CloseUDP(TIdSocketHandle* AHandle);
  virtual int RecvFromUDP(TIdSocketHandle* AHandle, TIdBytes& ABuffer, String& VPeerIP, uint16_t& VPeerPort,
                          TIdIPVersion& VIPVersion, int ATimeOut = TimeoutInfinite);
  virtual void SendToUDP(TIdSocketHandle* AHandle, const String& AHost, uint16_t APort, TIdIPVersion AIPVersion,
                         const TIdBytes& ABuffer);
  // Listening through the proxy: "Transparent proxy cannot bind." in the base.
  void Bind(TIdIOHandler* AIOHandler, uint16_t APort);
  virtual void Bind(TIdIOHandler* AIOHandler, const String& AHost, uint16_t APort,
                    TIdIPVersion AIPVersion = ID_DEFAULT_IP_VERSION);
  virtual bool Listen(TIdIOHandler* AIOHandler, int ATimeOut);

  const String& Host() const { return FHost; }
  void SetHost(const String& AValue) { FHost = AValue; }
  const String& Password() const { return FPassword; }
  void SetPassword(const String& AValue) { FPassword = AValue; }
  uint16_t Port() const { return FPort; }
  void SetPort(uint16_t AValue) { FPort = AValue; }
  TIdIPVersion IPVersion() const { return FIPVersion; }
  void SetIPVersion(TIdIPVersion AValue) { FIPVersion = AValue; }
  const String& Username() const { return FUsername; }
  void SetUsername(const String& AValue) { FUsername = AValue; }
  // The next proxy of a chain; not owned, forgotten when destroyed. A link that leads
  // back to this proxy raises EIdTransparentProxyCircularLink.
  TIdCustomTransparentProxy* ChainedProxy() const { return FChainedProxy; }
  void SetChainedProxy(TIdCustomTransparentProxy* AValue);

protected:
  // The tunnel of this one hop.
  virtual void OpenTunnel(TIdIOHandler* AIOHandler, const String& AHost, uint16_t APort,
                          TIdIPVersion AIPVersion) = 0;
  void Notification(TComponent* AComponent, TOperation AOperation) override;

  String FHost;
  String FPassword;
  uint16_t FPort = 0;
  TIdIPVersion FIPVersion = ID_DEFAULT_IP_VERSION;
  String FUsername;
  TIdCustomTransparentProxy* FChainedProxy = nullptr;
};

}  // namespace vyn
