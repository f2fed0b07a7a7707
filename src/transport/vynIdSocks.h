// SOCKS 4, 4a and 5 as a transparent proxy. The object is enabled exactly when a
// SOCKS version is chosen; a new one (svNoSocks) is disabled, which is what a socket
// I/O handler hands out when no proxy was set.
#pragma once

#include "vynIdCustomTransparentProxy.h"

namespace vyn {

enum TSocksAuthentication { saNoAuthentication, saUsernamePassword };
enum TSocksVersion { svNoSocks, svSocks4, svSocks4A, svSocks5 };

class TIdSocksInfo : public TIdCustomTransparentProxy {
public:
  explicit TIdSocksInfo(TComponent* AOwner = nullptr);

  // Also copies Authentication and Version.
  void Assign(const TPersistent* ASource) override;
  TIdCustomTransparentProxy* CreateOfSameClass(TComponent* AOwner) const override;

  bool Enabled() const override { return FVersion == svSocks4 || FVersion == svSocks4A || FVersion == svSocks5; }
  // Enabled follows Version alone.
  void SetEnabled(bool) override {}

  TSocksAuthentication Authentication() const { return FAuthentication; }
  void SetAuthentication(TSocksAuthentication AValue) { FAuthentication = AValue; }
  TSocksVersion Version() const { return FVersion; }
  void SetVersion(TSocksVersion AValue) { FVersion = AValue; }

protected:
  void OpenTunnel(TIdIOHandler* AIOHandler, const String& AHost, uint16_t APort, TIdIPVersion AIPVersion) override;

private:
  TSocksAuthentication FAuthentication = saNoAuthentication;
  TSocksVersion FVersion = svNoSocks;
};

}  // namespace vyn
