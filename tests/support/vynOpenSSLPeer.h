// TLS test peers made with the openssl command (Debian package "openssl"): a set of
// test certificates in a temporary folder, and `openssl s_server` on 127.0.0.1 with a
// free port. A missing openssl command fails the test with the package name.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vynChildProcess.h"

namespace vyn::test {

// Made once per test process. A test CA; a server certificate for localhost,
// 127.0.0.1 and ::1 signed by it (also as PKCS#12 with the password "secret"); a client
// certificate signed by it with its key plain, encrypted with "secret", and as PKCS#12
// with "secret"; a second CA that signed nothing used here.
struct TTestCertificates {
  bool Ok = false;
  std::string Dir;
  std::string CACert, CAKey, CACertDer;
  std::string ServerCert, ServerKey, ServerChain, ServerP12;
  std::string ClientCert, ClientKey, ClientKeyEncrypted, ClientP12;
  std::string OtherCACert;
  std::string TwoRoots;  // the test CA and the other CA in one PEM file
  static const TTestCertificates& Get();
};

// openssl s_server with the test server certificate and key plus AExtraArgs, listening
// on 127.0.0.1. Its standard input goes to the connected client; what it receives and
// reports is in Process().Output().
class TOpenSSLServer {
public:
  explicit TOpenSSLServer(const std::vector<std::string>& AExtraArgs = {});
  ~TOpenSSLServer();
  bool Ready() const { return FReady; }
  uint16_t Port() const { return FPort; }
  TChildProcess& Process() { return *FProcess; }

private:
  bool FReady = false;
  uint16_t FPort = 0;
  std::unique_ptr<TChildProcess> FProcess;
};

// A port that was free on 127.0.0.1 when asked.
uint16_t FreeLoopbackPort();

}  // namespace vyn::test
