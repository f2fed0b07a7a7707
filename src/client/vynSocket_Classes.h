// Option records of the socket layer: TLS settings with their OpenSSL and Schannel
// parts, and proxy settings. Plain persistent objects copied with Assign; each is
// owned by one parent. Nested records are owned too, and their setters copy into
// the existing object, so a pointer to a nested record stays valid for the
// parent's lifetime.
#pragma once

#include <cstdint>
#include <memory>

#include "vynClasses.h"
#include "vynWebSocket_Types.h"

namespace vyn {

// Which OpenSSL generation to load and where its files are.
class TvynSocketOpenSSL_Options : public TPersistent {
public:
  // Copies APIVersion, LibPath and LibPathCustom from any TvynSocketOpenSSL_Options;
  // UnixSymLinks stays.
  void Assign(const TPersistent* ASource) override;

  TwsOpenSSLAPI APIVersion() const { return FAPIVersion; }
  void SetAPIVersion(TwsOpenSSLAPI AValue) { FAPIVersion = AValue; }
  // The folder used when LibPath is oslpCustomPath.
  const String& LibPathCustom() const { return FLibPathCustom; }
  void SetLibPathCustom(const String& AValue) { FLibPathCustom = AValue; }
  TwsOpenSSLLibPath LibPath() const { return FLibPath; }
  void SetLibPath(TwsOpenSSLLibPath AValue) { FLibPath = AValue; }
  // Carried for other platforms; nothing here reads it.
  TwsOpenSSLSymLinks UnixSymLinks() const { return FUnixSymLinks; }
  void SetUnixSymLinks(TwsOpenSSLSymLinks AValue) { FUnixSymLinks = AValue; }

private:
  // The generation this platform ships (libcrypto.so.3 / libssl.so.3).
  TwsOpenSSLAPI FAPIVersion = oslAPI_3_0;
  String FLibPathCustom;
  TwsOpenSSLLibPath FLibPath = oslpNone;
  TwsOpenSSLSymLinks FUnixSymLinks = oslsSymLinksDefault;
};

class TvynOpenSSLClient_Options : public TvynSocketOpenSSL_Options {};

// A client certificate in a certificate store, and the cipher selection.
class TvynSocketSChannel_Options : public TPersistent {
public:
  // Copies every field from any TvynSocketSChannel_Options.
  void Assign(const TPersistent* ASource) override;

  // Thumbprint of the client certificate.
  const String& CertHash() const { return FCertHash; }
  void SetCertHash(const String& AValue) { FCertHash = AValue; }
  TvynSChannelCertStoreName CertStoreName() const { return FCertStoreName; }
  void SetCertStoreName(TvynSChannelCertStoreName AValue) { FCertStoreName = AValue; }
  TvynSChannelCertStorePath CertStorePath() const { return FCertStorePath; }
  void SetCertStorePath(TvynSChannelCertStorePath AValue) { FCertStorePath = AValue; }
  const String& CipherList() const { return FCipherList; }
  void SetCipherList(const String& AValue) { FCipherList = AValue; }

private:
  String FCertHash;
  TvynSChannelCertStoreName FCertStoreName = scsnMY;
  TvynSChannelCertStorePath FCertStorePath = scspStoreCurrentUser;
  String FCipherList;
};

class TvynSChannelClient_Options : public TvynSocketSChannel_Options {};

// Certificate files, verification and protocol version.
class TvynSocketTLS_Options_Base : public TPersistent {
public:
  // Copies every field from any TvynSocketTLS_Options_Base.
  void Assign(const TPersistent* ASource) override;

  const String& CertFile() const { return FCertFile; }
  void SetCertFile(const String& AValue) { FCertFile = AValue; }
  const String& KeyFile() const { return FKeyFile; }
  void SetKeyFile(const String& AValue) { FKeyFile = AValue; }
  // Password of the key or certificate file.
  const String& Password() const { return FPassword; }
  void SetPassword(const String& AValue) { FPassword = AValue; }
  const String& RootCertFile() const { return FRootCertFile; }
  void SetRootCertFile(const String& AValue) { FRootCertFile = AValue; }
  bool VerifyCertificate() const { return FVerifyCertificate; }
  void SetVerifyCertificate(bool AValue) { FVerifyCertificate = AValue; }
  // Maximum chain depth; the HTTP component does not use it.
  int32_t VerifyDepth() const { return FVerifyDepth; }
  void SetVerifyDepth(int32_t AValue) { FVerifyDepth = AValue; }
  TwsTLSVersions Version() const { return FVersion; }
  void SetVersion(TwsTLSVersions AValue) { FVersion = AValue; }

private:
  String FCertFile;
  String FKeyFile;
  String FPassword;
  String FRootCertFile;
  bool FVerifyCertificate = false;
  int32_t FVerifyDepth = 0;
  TwsTLSVersions FVersion = tlsUndefined;
};

// Adds the ALPN list, the choice of implementation and the nested OpenSSL and
// Schannel records, all owned.
class TvynSocketTLS_Options : public TvynSocketTLS_Options_Base {
public:
  TvynSocketTLS_Options();
  // The nested records are never replaced, so the object is not copied as a whole.
  TvynSocketTLS_Options(const TvynSocketTLS_Options&) = delete;
  TvynSocketTLS_Options& operator=(const TvynSocketTLS_Options&) = delete;

  // From any TvynSocketTLS_Options: IOHandler, the ALPN lines and OpenSSL_Options
  // (into the owned record) only; the base fields and SChannel_Options stay.
  // From another TvynSocketTLS_Options_Base: as the base.
  void Assign(const TPersistent* ASource) override;

  // Protocol names offered through ALPN, in order.
  TStrings* ALPNProtocols() const { return FALPNProtocols.get(); }
  void SetALPNProtocols(const TStrings* AValue) { FALPNProtocols->Assign(AValue); }
  TwsTLSIOHandler IOHandler() const { return FIOHandler; }
  void SetIOHandler(TwsTLSIOHandler AValue) { FIOHandler = AValue; }
  TvynOpenSSLClient_Options* OpenSSL_Options() const { return FOpenSSL_Options.get(); }
  void SetOpenSSL_Options(const TvynOpenSSLClient_Options* AValue) { FOpenSSL_Options->Assign(AValue); }
  TvynSChannelClient_Options* SChannel_Options() const { return FSChannel_Options.get(); }
  void SetSChannel_Options(const TvynSChannelClient_Options* AValue) { FSChannel_Options->Assign(AValue); }

private:
  // Declared in this order so that destruction frees the Schannel record, the
  // OpenSSL record and then the list.
  std::unique_ptr<TStringList> FALPNProtocols;
  TwsTLSIOHandler FIOHandler = iohOpenSSL;
  std::unique_ptr<TvynOpenSSLClient_Options> FOpenSSL_Options;
  std::unique_ptr<TvynSChannelClient_Options> FSChannel_Options;
};

// Where and how to reach a proxy. No field is checked here; the proxy handshake
// reports what it cannot use.
class TvynSocketProxy_Options : public TPersistent {
public:
  // Copies every field from any TvynSocketProxy_Options.
  void Assign(const TPersistent* ASource) override;

  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool AValue) { FEnabled = AValue; }
  const String& Host() const { return FHost; }
  void SetHost(const String& AValue) { FHost = AValue; }
  const String& Password() const { return FPassword; }
  void SetPassword(const String& AValue) { FPassword = AValue; }
  // A 32-bit number; the proxy objects take its low 16 bits.
  int32_t Port() const { return FPort; }
  void SetPort(int32_t AValue) { FPort = AValue; }
  TwsProxy ProxyType() const { return FProxyType; }
  void SetProxyType(TwsProxy AValue) { FProxyType = AValue; }
  // For SOCKS a non-empty name also asks for user-name authentication.
  const String& Username() const { return FUsername; }
  void SetUsername(const String& AValue) { FUsername = AValue; }

private:
  bool FEnabled = false;
  String FHost;
  String FPassword;
  int32_t FPort = 0;
  TwsProxy FProxyType = pxyHTTP;
  String FUsername;
};

}  // namespace vyn
