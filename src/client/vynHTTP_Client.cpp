#include "vynHTTP_Client.h"

namespace vyn {

void TvynIdHTTPTLS_Options::Assign(const TPersistent* ASource) {
  if (auto source = dynamic_cast<const TvynTCPTLS_Options*>(ASource)) {
    SetCertFile(source->CertFile());
    SetKeyFile(source->KeyFile());
    SetPassword(source->Password());
    SetRootCertFile(source->RootCertFile());
    SetVersion(source->Version());
    SetVerifyCertificate(source->VerifyCertificate());
    SetIOHandler(source->IOHandler());
    SetALPNProtocols(source->ALPNProtocols());
    SetOpenSSL_Options(source->OpenSSL_Options());
    SetSChannel_Options(source->SChannel_Options());
    return;
  }
  TvynTCPTLS_Options::Assign(ASource);
}

void TvynHttpLogFile::Assign(const TPersistent* ASource) {
  if (auto source = dynamic_cast<const TvynHttpLogFile*>(ASource)) {
    FFileName = source->FFileName;
    return;
  }
  TPersistent::Assign(ASource);
}

void TvynHTTPAuthentication_Token::Assign(const TPersistent* ASource) {
  if (auto source = dynamic_cast<const TvynHTTPAuthentication_Token*>(ASource)) {
    FOAuth = source->FOAuth;
    FJWT = source->FJWT;
    FReadTimeout = source->FReadTimeout;
    return;
  }
  TPersistent::Assign(ASource);
}

TvynIdHTTPAuthentication_Options::TvynIdHTTPAuthentication_Options()
    : FToken(std::make_unique<TvynHTTPAuthentication_Token>()) {}

void TvynIdHTTPAuthentication_Options::Assign(const TPersistent* ASource) {
  if (auto source = dynamic_cast<const TvynIdHTTPAuthentication_Options*>(ASource)) {
    FToken->Assign(source->FToken.get());
    return;
  }
  TPersistent::Assign(ASource);
}

}  // namespace vyn
