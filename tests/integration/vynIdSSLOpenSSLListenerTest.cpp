// The small HTTP listener serving https through the OpenSSL handler, as its default TLS
// handler factory makes it, to curl and to the handler's client role.
#include <gtest/gtest.h>

#include "vynChildProcess.h"
#include "vynIdSSLOpenSSL.h"
#include "vynOpenSSLPeer.h"
#include "vynWSHTTPServer.h"

namespace vyn {
namespace {

using test::TTestCertificates;

TEST(OpenSSLListener, ServesHttpsToCurlAndToTheClientRole) {
  const TTestCertificates& c = TTestCertificates::Get();
  ASSERT_TRUE(c.Ok);
  TvynWSHTTPServer server;
  server.OnCommandGet = [](TIdContext*, TIdHTTPRequestInfo*, TIdHTTPResponseInfo* AResponse) {
    AResponse->SetContentText(u"over TLS");
  };
  server.SetSSL(true);
  server.SSLOptions()->SetCertFile(FromUtf8(c.ServerP12));
  server.SSLOptions()->SetKeyFile(FromUtf8(c.ServerP12));
  server.SSLOptions()->SetPassword(u"secret");
  server.SSLOptions()->SetPort(0);  // a binding without a port takes this one: any free port
  server.Bindings().Add(u"127.0.0.1", 0);
  server.SetActive(true);
  const uint16_t port = server.Bindings().Items(0)->Port();
  const std::string p = std::to_string(port);

  if (test::RequireProgram("curl", "curl")) {
    std::string out;
    EXPECT_EQ(test::RunProgram({"curl", "-sS", "--max-time", "10", "--cacert", c.CACert, "--resolve",
                                "localhost:" + p + ":127.0.0.1", "https://localhost:" + p + "/"},
                               &out),
              0)
        << out;
    EXPECT_EQ(out, "over TLS");
  }

  TIdSSLIOHandlerSocketOpenSSL h;
  h.SetHost(u"127.0.0.1");
  h.SetPort(port);
  h.SSLOptions()->SetMode(sslmClient);
  h.SSLOptions()->SetSSLVersions({sslvTLSv1, sslvTLSv1_1, sslvTLSv1_2, sslvTLSv1_3});
  h.SSLOptions()->SetRootCertFile(FromUtf8(c.CACert));
  h.SSLOptions()->SetVerifyMode({sslvrfPeer});
  h.SetURIToCheck(u"https://localhost:" + IntToStr(port) + u"/");
  h.SetPassThrough(false);
  h.SetReadTimeout(5000);
  h.Open();
  h.Write(u"GET / HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(h.ReadLn(), u"HTTP/1.1 200 OK");
  String line;
  while (!(line = h.ReadLn()).empty()) {
  }
  EXPECT_EQ(h.ReadString(8), u"over TLS");
  h.Close();
  server.SetActive(false);
}

}  // namespace
}  // namespace vyn
