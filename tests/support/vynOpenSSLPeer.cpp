#include "vynOpenSSLPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace vyn::test {

namespace {

constexpr char kMissing[] = "the openssl command is missing: install the Debian package \"openssl\"";

bool Run(const std::vector<std::string>& AArgs) {
  std::string out;
  const int status = RunProgram(AArgs, &out);
  if (status != 0) {
    std::string line;
    for (const auto& a : AArgs) line += a + " ";
    ADD_FAILURE() << "failed (" << status << "): " << line << "\n" << out;
  }
  return status == 0;
}

bool MakeCertificates(TTestCertificates& C) {
  if (!ProgramInPath("openssl")) {
    ADD_FAILURE() << kMissing;
    return false;
  }
  char dirTemplate[] = "/tmp/vyn-tls-XXXXXX";
  if (!mkdtemp(dirTemplate)) return false;
  C.Dir = dirTemplate;
  const auto path = [&](const char* AName) { return C.Dir + "/" + AName; };
  C.CACert = path("ca.pem");
  C.CAKey = path("ca.key");
  C.CACertDer = path("ca.der");
  C.ServerCert = path("server.pem");
  C.ServerKey = path("server.key");
  C.ServerChain = path("server-chain.pem");
  C.ServerP12 = path("server.p12");
  C.ClientCert = path("client.pem");
  C.ClientKey = path("client.key");
  C.ClientKeyEncrypted = path("client-encrypted.key");
  C.ClientP12 = path("client.P12");  // the extension in capitals on purpose
  C.OtherCACert = path("other-ca.pem");
  C.TwoRoots = path("two-roots.pem");
  std::ofstream(path("server.ext"))
      << "subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1\nbasicConstraints=CA:FALSE\n"
         "keyUsage=digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n";
  std::ofstream(path("client.ext")) << "basicConstraints=CA:FALSE\nkeyUsage=digitalSignature\n"
                                       "extendedKeyUsage=clientAuth\n";
  const std::vector<std::string> ec = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
  auto req = [&](std::vector<std::string> AArgs) {
    std::vector<std::string> args = {"openssl", "req"};
    args.insert(args.end(), ec.begin(), ec.end());
    args.insert(args.end(), AArgs.begin(), AArgs.end());
    return Run(args);
  };
  auto sign = [&](const std::string& ACsr, const std::string& AOut, const std::string& AExt) {
    return Run({"openssl", "x509", "-req", "-in", ACsr, "-CA", C.CACert, "-CAkey", C.CAKey, "-CAcreateserial",
                "-out", AOut, "-days", "30", "-extfile", AExt});
  };
  const bool ok =
      req({"-x509", "-keyout", C.CAKey, "-out", C.CACert, "-days", "30", "-subj", "/CN=vyn test CA", "-addext",
           "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"}) &&
      Run({"openssl", "x509", "-in", C.CACert, "-outform", "DER", "-out", C.CACertDer}) &&
      req({"-x509", "-keyout", path("other-ca.key"), "-out", C.OtherCACert, "-days", "30", "-subj",
           "/CN=vyn other CA", "-addext", "basicConstraints=critical,CA:TRUE"}) &&
      req({"-keyout", C.ServerKey, "-out", path("server.csr"), "-subj", "/O=vyn/CN=localhost"}) &&
      sign(path("server.csr"), C.ServerCert, path("server.ext")) &&
      req({"-keyout", C.ClientKey, "-out", path("client.csr"), "-subj", "/CN=vyn test client"}) &&
      sign(path("client.csr"), C.ClientCert, path("client.ext")) &&
      Run({"openssl", "pkey", "-in", C.ClientKey, "-aes256", "-passout", "pass:secret", "-out",
           C.ClientKeyEncrypted}) &&
      Run({"openssl", "pkcs12", "-export", "-in", C.ClientCert, "-inkey", C.ClientKey, "-out", C.ClientP12,
           "-passout", "pass:secret"}) &&
      Run({"openssl", "pkcs12", "-export", "-in", C.ServerCert, "-inkey", C.ServerKey, "-out", C.ServerP12,
           "-passout", "pass:secret"});
  if (!ok) return false;
  auto concat = [](const std::vector<std::string>& AFiles, const std::string& AOut) {
    std::ofstream out(AOut, std::ios::binary);
    for (const auto& f : AFiles) out << std::ifstream(f, std::ios::binary).rdbuf();
  };
  concat({C.ServerCert, C.CACert}, C.ServerChain);
  concat({C.CACert, C.OtherCACert}, C.TwoRoots);
  return true;
}

}  // namespace

const TTestCertificates& TTestCertificates::Get() {
  static TTestCertificates certificates = [] {
    TTestCertificates c;
    c.Ok = MakeCertificates(c);
    return c;
  }();
  // Removed when the process ends.
  static struct TCleanup {
    ~TCleanup() {
      std::error_code ec;
      if (!certificates.Dir.empty()) std::filesystem::remove_all(certificates.Dir, ec);
    }
  } cleanup;
  if (!certificates.Ok) ADD_FAILURE() << "no test certificates";
  return certificates;
}

uint16_t FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  uint16_t port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  close(fd);
  return port;
}

TOpenSSLServer::TOpenSSLServer(const std::vector<std::string>& AExtraArgs) {
  const TTestCertificates& c = TTestCertificates::Get();
  if (!c.Ok) return;
  // The port is free when chosen; another program may take it before s_server binds,
  // so a failed start is tried again on a new port.
  for (int attempt = 0; attempt < 5 && !FReady; ++attempt) {
    FPort = FreeLoopbackPort();
    std::vector<std::string> args = {"openssl", "s_server", "-accept", "127.0.0.1:" + std::to_string(FPort),
                                     "-cert", c.ServerCert, "-key", c.ServerKey};
    args.insert(args.end(), AExtraArgs.begin(), AExtraArgs.end());
    FProcess = std::make_unique<TChildProcess>(args);
    if (!FProcess->Started()) {
      ADD_FAILURE() << kMissing;
      return;
    }
    FReady = FProcess->WaitForOutput("ACCEPT", 5000);
  }
  if (!FReady) ADD_FAILURE() << "openssl s_server did not start:\n" << (FProcess ? FProcess->Output() : "");
}

TOpenSSLServer::~TOpenSSLServer() = default;

}  // namespace vyn::test
