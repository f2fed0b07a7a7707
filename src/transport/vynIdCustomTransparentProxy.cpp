#include "vynIdCustomTransparentProxy.h"

#include "vynIdResourceStrings.h"

namespace vyn {

TIdCustomTransparentProxy::TIdCustomTransparentProxy(TComponent* AOwner) : TIdComponent(AOwner) {}

TIdCustomTransparentProxy::~TIdCustomTransparentProxy() { SetChainedProxy(nullptr); }

void TIdCustomTransparentProxy::Assign(const TPersistent* ASource) {
  if (auto source = dynamic_cast<const TIdCustomTransparentProxy*>(ASource)) {
    FHost = source->FHost;
    FPassword = source->FPassword;
    FPort = source->FPort;
    FIPVersion = source->FIPVersion;
    FUsername = source->FUsername;
    return;
  }
  TIdComponent::Assign(ASource);
}

void TIdCustomTransparentProxy::Connect(TIdIOHandler* AIOHandler, const String& AHost, uint16_t APort,
                                        TIdIPVersion AIPVersion) {
  if (FChainedProxy && FChainedProxy->Enabled()) {
    OpenTunnel(AIOHandler, FChainedProxy->Host(), FChainedProxy->Port(), Id_IPv4);
    FChainedProxy->Connect(AIOHandler, AHost, APort, AIPVersion);
  } else {
    OpenTunnel(AIOHandler, AHost, APort, AIPVersion);
  }
}

void TIdCustomTransparentProxy::OpenUDP(TIdSocketHandle*, const String&, uint16_t, TIdIPVersion) {
  EIdTransparentProxyUDPNotSupported::Toss(RSTransparentProxyUDPNotSupported);
}

void TIdCustomTransparentProxy::CloseUDP(TIdSocketHandle*) {
  EIdTransparentProxyUDPNotSupported::Toss(RSTransparentProxyUDPNotSupported);
}

int TIdCustomTransparentProxy::RecvFromUDP(TIdSocketHandle*, TIdBytes&, String&, uint16_t&, TIdIPVersion&, int) {
  EIdTransparentProxyUDPNotSupported::Toss(RSTransparentProxyUDPNotSupported);
}

void TIdCustomTransparentProxy::SendToUDP(TIdSocketHandle*, const String&, uint16_t, TIdIPVersion,
                                          const TIdBytes&) {
  EIdTransparentProxyUDPNotSupported::Toss(RSTransparentProxyUDPNotSupported);
}

void TIdCustomTransparentProxy::Bind(TIdIOHandler* AIOHandler, uint16_t APort) {
  Bind(AIOHandler, u"0.0.0.0", APort, Id_IPv4);
}

void TIdCustomTransparentProxy::Bind(TIdIOHandler*, const String&, uint16_t, TIdIPVersion) {
  EIdTransparentProxyCantBind::Toss(RSTransparentProxyCannotBind);
}

bool TIdCustomTransparentProxy::Listen(TIdIOHandler*, int) {
  EIdTransparentProxyCantBind::Toss(RSTransparentProxyCannotBind);
}

void TIdCustomTransparentProxy::SetChainedProxy(TIdCustomTransparentProxy* AValue) {
  if (AValue == FChainedProxy) return;
  for (TIdCustomTransparentProxy* link = AValue; link; link = link->FChainedProxy)
    if (link == this) EIdTransparentProxyCircularLink::Toss(FormatInvariant(RSCircularLink, {ClassName()}));
  if (FChainedProxy) RemoveFreeNotification(FChainedProxy);
  FChainedProxy = AValue;
  if (FChainedProxy) FreeNotification(FChainedProxy);
}

void TIdCustomTransparentProxy::Notification(TComponent* AComponent, TOperation AOperation) {
  if (AOperation == opRemove && AComponent == FChainedProxy) FChainedProxy = nullptr;
  TIdComponent::Notification(AComponent, AOperation);
}

}  // namespace vyn
