#include "vynSocket_Classes.h"

namespace vyn {

void TvynSocketOpenSSL_Options::Assign(const TPersistent* ASource) {
  if (auto source = dynamic_cast<const TvynSocketOpenSSL_Options*>(ASource)) {
    FAPIVersion = source->FAPIVersion;
    FLibPath = source->FLibPath;
    FLibPathCustom = source->FLibPathCustom;
    return;
  }
  TPersistent::Assign(ASource);
}

void TvynSocketSChannel_Options::Assign(const TPersistent* ASource) {
  if (auto source = dynamic_cast<const TvynSocketSChannel_Options*>(ASource)) {
    FCertHash = source->FCertHash;
    FCertStoreName = source->FCertStoreName;
    FCertStorePath = source->FCertStorePath;
    FCipherList = source->FCipherList;
    return;
  }
  TPersistent::Assign(ASource);
}

void TvynSocketTLS_Options_Base::Assign(const TPersistent* ASource) {
  if (auto source = dynamic_cast<const TvynSocketTLS_Options_Base*>(ASource)) {
    FCertFile = source->FCertFile;
    FKeyFile = source->FKeyFile;
    FPassword = source->FPassword;
    FRootCertFile = source->FRootCertFile;
    FVersion = source->FVersion;
    FVerifyCertificate = source->FVerifyCertificate;
    FVerifyDepth = source->FVerifyDepth;
    return;
  }
  TPersistent::Assign(ASource);
}

TvynSocketTLS_Options::TvynSocketTLS_Options()
    : FALPNProtocols(std::make_unique<TStringList>()),
      FOpenSSL_Options(std::make_unique<TvynOpenSSLClient_Options>()),
      FSChannel_Options(std::make_unique<TvynSChannelClient_Options>()) {}

void TvynSocketTLS_Options::Assign(const TPersistent* ASource) {
  if (auto source = dynamic_cast<const TvynSocketTLS_Options*>(ASource)) {
    FIOHandler = source->FIOHandler;
    FALPNProtocols->Assign(source->FALPNProtocols.get());
    FOpenSSL_Options->Assign(source->FOpenSSL_Options.get());
    return;
  }
  TvynSocketTLS_Options_Base::Assign(ASource);
}

void TvynSocketProxy_Options::Assign(const TPersistent* ASource) {
  if (auto source = dynamic_cast<const TvynSocketProxy_Options*>(ASource)) {
    FEnabled = source->FEnabled;
    FHost = source->FHost;
    FPort = source->FPort;
    FUsername = source->FUsername;
    FPassword = source->FPassword;
    FProxyType = source->FProxyType;
    return;
  }
  TPersistent::Assign(ASource);
}

}  // namespace vyn
