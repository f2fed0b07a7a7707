#include "vynIdSocks.h"

namespace vyn {

TIdSocksInfo::TIdSocksInfo(TComponent* AOwner) : TIdCustomTransparentProxy(AOwner) { FPort = 1080; }

void TIdSocksInfo::Assign(const TPersistent* ASource) {
  if (auto source = dynamic_cast<const TIdSocksInfo*>(ASource)) {
    FAuthentication = source->FAuthentication;
    FVersion = source->FVersion;
  }
  TIdCustomTransparentProxy::Assign(ASource);
}

TIdCustomTransparentProxy* TIdSocksInfo::CreateOfSameClass(TComponent* AOwner) const {
  return CreateOwned<TIdSocksInfo>(AOwner);
}

void TIdSocksInfo::OpenTunnel(TIdIOHandler*, const String&, uint16_t, TIdIPVersion) {
  if (FVersion == svNoSocks) return;
  // The SOCKS exchanges are not part of this library yet: refuse rather than hand the
  // caller a connection to the proxy that it would take for one to the target.
  EIdSocksError::Toss(u"SOCKS proxy handshakes are not supported yet.");
}

}  // namespace vyn
