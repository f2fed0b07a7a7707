// The OpenSSL handler against openssl s_server, and against itself in the server role,
// on 127.0.0.1.
#include "vynIdSSLOpenSSL.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/time.h>

#include <atomic>
#include <thread>

#include "vynIdSocketHandle.h"
#include "vynOpenSSLPeer.h"

namespace vyn {
namespace {

using test::TOpenSSLServer;
using test::TTestCertificates;

const TIdSSLVersions kTLSVersions{sslvTLSv1, sslvTLSv1_1, sslvTLSv1_2, sslvTLSv1_3};

// A client handler set up as the HTTP client component sets it: any TLS version, the
// client role, TLS on.
std::unique_ptr<TIdSSLIOHandlerSocketOpenSSL> Client(uint16_t APort) {
  auto h = std::make_unique<TIdSSLIOHandlerSocketOpenSSL>();
  h->SetHost(u"127.0.0.1");
  h->SetPort(APort);
  h->SSLOptions()->SetSSLVersions(kTLSVersions);
  h->SSLOptions()->SetMode(sslmClient);
  h->SetPassThrough(false);
  h->SetReadTimeout(5000);
  return h;
}

String Localhost(uint16_t APort) { return u"https://localhost:" + IntToStr(APort) + u"/"; }

TEST(OpenSSLClient, HandshakeVerifiedAndDataBothWays) {
  const TTestCertificates& c = TTestCertificates::Get();
  TOpenSSLServer server({"-servername", "localhost", "-cert2", c.ServerCert, "-key2", c.ServerKey});
  ASSERT_TRUE(server.Ready());
  auto h = Client(server.Port());
  h->SSLOptions()->SetRootCertFile(FromUtf8(c.CACert));
  h->SSLOptions()->SetVerifyMode({sslvrfPeer});
  h->SetURIToCheck(Localhost(server.Port()));
  std::vector<String> status, types;
  h->OnStatusInfo = [&](const String& AMsg) { status.push_back(AMsg); };
  h->OnStatusInfoEx = [&](TObject* ASender, const SSL*, int32_t, int32_t, const String& AType, const String&) {
    EXPECT_EQ(ASender, h.get());
    if (std::find(types.begin(), types.end(), AType) == types.end()) types.push_back(AType);
  };
  h->Open();
  for (const char16_t* t : {u"Handshake Start", u"Connect Loop", u"Handshake Done", u"Connect Exit"})
    EXPECT_NE(std::find(types.begin(), types.end(), String(t)), types.end()) << ToUtf8(t);
  // A blocked TLS read ends after the read time-out.
  timeval t{};
  socklen_t len = sizeof t;
  ASSERT_EQ(getsockopt(static_cast<int>(h->Binding()->Handle()), SOL_SOCKET, SO_RCVTIMEO, &t, &len), 0);
  EXPECT_EQ(t.tv_sec, 5);

  // SNI: the host of URIToCheck, without the port.
  EXPECT_TRUE(server.Process().WaitForOutput("Hostname in TLS extension: \"localhost\""));
  // Any version lets the two agree on the newest.
  EXPECT_EQ(h->GetSSLVersion(), u"TLSv1.3");
  ASSERT_NE(h->SSLSocket()->PeerCert(), nullptr);
  EXPECT_EQ(h->SSLSocket()->PeerCert()->Subject()->OneLine(), u"/O=vyn/CN=localhost");
  EXPECT_EQ(h->SSLSocket()->GetSessionIDAsString().size() % 2, 0u);
  ASSERT_FALSE(status.empty());
  EXPECT_EQ(status.back().rfind(u"Cipher: name = TLS_", 0), 0u) << ToUtf8(status.back());
  EXPECT_NE(std::find(status.begin(), status.end(), u"SSL status: \"SSL negotiation finished successfully\""),
            status.end());

  h->WriteLn(u"hello from vyn");
  EXPECT_TRUE(server.Process().WaitForOutput("hello from vyn\r\n"));
  ASSERT_TRUE(server.Process().Write("hello from s_server\n"));
  EXPECT_EQ(h->ReadLn(), u"hello from s_server");

  // What one record brings is handed out at once, without waiting for more.
  ASSERT_TRUE(server.Process().Write("data: 1\n\n"));
  TIdBytes got;
  h->ReadBytes(got, -1);
  EXPECT_EQ(std::string(got.begin(), got.end()), "data: 1\n\n");
  h->Close();
}

TEST(OpenSSLClient, ProtocolVersionBounds) {
  const struct {
    const char* Name;
    std::vector<std::string> ServerArgs;
    TIdSSLVersion Method;  // sslvSSLv23: every TLS version
    const char16_t* Version;  // nullptr: the handshake fails
  } cases[] = {
      {"any against 1.2", {"-tls1_2"}, sslvSSLv23, u"TLSv1.2"},
      {"1.3 against 1.2", {"-tls1_2"}, sslvTLSv1_3, nullptr},
      {"1.2 against 1.3", {"-tls1_3"}, sslvTLSv1_2, nullptr},
      {"1.2 against any", {}, sslvTLSv1_2, u"TLSv1.2"},
      {"1.3 against any", {}, sslvTLSv1_3, u"TLSv1.3"},
      {"1.1 against any", {}, sslvTLSv1_1, nullptr},  // below the library's security level
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TOpenSSLServer server(c.ServerArgs);
    ASSERT_TRUE(server.Ready());
    auto h = Client(server.Port());
    if (c.Method != sslvSSLv23) h->SSLOptions()->SetMethod(c.Method);
    if (c.Version) {
      ASSERT_NO_THROW(h->Open());
      EXPECT_EQ(h->GetSSLVersion(), c.Version);
    } else {
      EXPECT_THROW(h->Open(), EIdOSSLConnectError);
    }
  }
}

TEST(OpenSSLClient, VerificationFailuresAndTheHostCheck) {
  const TTestCertificates& c = TTestCertificates::Get();
  TOpenSSLServer server({"-naccept", "5"});
  ASSERT_TRUE(server.Ready());
  const String port = IntToStr(server.Port());
  const struct {
    const char* Name;
    bool Root;
    String URI;
    bool Verified;
  } cases[] = {
      {"untrusted CA", false, u"https://localhost:" + port + u"/", false},
      {"trusted, right host", true, u"https://localhost:" + port + u"/", true},
      {"trusted, address in the certificate", true, u"https://127.0.0.1:" + port + u"/", true},
      {"trusted, another host", true, u"https://wrong.example:" + port + u"/", false},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.Name);
    auto h = Client(server.Port());
    h->SSLOptions()->SetVerifyMode({sslvrfPeer});
    if (k.Root) h->SSLOptions()->SetRootCertFile(FromUtf8(c.CACert));
    h->SetURIToCheck(k.URI);
    try {
      h->Open();
      EXPECT_TRUE(k.Verified);
    } catch (const EIdOSSLConnectError& e) {
      EXPECT_FALSE(k.Verified);
      EXPECT_EQ(e.Message(), u"Error connecting with SSL.\r\nerror:0A000086:SSL routines::certificate verify failed");
    }
  }
  // The application's verification decides when it is given.
  auto h = Client(server.Port());
  h->SSLOptions()->SetVerifyMode({sslvrfPeer});
  std::vector<std::pair<int, int>> asked;  // depth, error
  String subject;
  h->OnVerifyPeer = [&](TIdX509* ACert, bool AOk, int32_t ADepth, int32_t AError) {
    if (asked.empty()) {
      EXPECT_FALSE(AOk);
      subject = ACert->Subject()->OneLine();
    }
    asked.emplace_back(ADepth, AError);
    return true;
  };
  ASSERT_NO_THROW(h->Open());
  ASSERT_FALSE(asked.empty());
  EXPECT_EQ(asked.front(), std::make_pair(0, 20));  // unable to get the local issuer
  EXPECT_EQ(subject, u"/O=vyn/CN=localhost");
}

TEST(OpenSSLClient, VerificationHandlersOfTwoConnectionsNeverOverlap) {
  TOpenSSLServer first, second;
  ASSERT_TRUE(first.Ready() && second.Ready());
  std::atomic<int> inside{0}, most{0}, calls{0};
  auto connect = [&](uint16_t APort) {
    auto h = Client(APort);
    h->SSLOptions()->SetVerifyMode({sslvrfPeer});
    h->OnVerifyPeer = [&](TIdX509*, bool, int32_t, int32_t) {
      const int now = ++inside;
      most = std::max(most.load(), now);
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      --inside;
      ++calls;
      return true;
    };
    EXPECT_NO_THROW(h->Open());
  };
  std::thread a(connect, first.Port());
  std::thread b(connect, second.Port());
  a.join();
  b.join();
  EXPECT_GE(calls.load(), 2);
  EXPECT_EQ(most.load(), 1);
}

TEST(OpenSSLClient, ALPN) {
  TOpenSSLServer server({"-alpn", "http/1.1"});
  ASSERT_TRUE(server.Ready());
  auto h = Client(server.Port());
  h->ALPNProtocols()->Add(u"h2");
  h->ALPNProtocols()->Add(u"http/1.1");
  h->Open();
  EXPECT_EQ(h->GetALPNProtocol(), u"http/1.1");
  h->Close();

  // Without an offer nothing is chosen.
  TOpenSSLServer plain;
  ASSERT_TRUE(plain.Ready());
  auto p = Client(plain.Port());
  p->Open();
  EXPECT_EQ(p->GetALPNProtocol(), u"");
}

TEST(OpenSSLClient, ClientCertificates) {
  const TTestCertificates& c = TTestCertificates::Get();
  const struct {
    const char* Name;
    std::string Cert, Key, Password;
  } cases[] = {
      {"PEM", c.ClientCert, c.ClientKey, ""},
      {"encrypted key", c.ClientCert, c.ClientKeyEncrypted, "secret"},
      {"PKCS#12", c.ClientP12, c.ClientP12, "secret"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.Name);
    TOpenSSLServer server({"-Verify", "1", "-CAfile", c.CACert, "-verify_return_error"});
    ASSERT_TRUE(server.Ready());
    auto h = Client(server.Port());
    h->SSLOptions()->SetCertFile(FromUtf8(k.Cert));
    h->SSLOptions()->SetKeyFile(FromUtf8(k.Key));
    const String password = FromUtf8(k.Password);
    h->OnGetPassword = [password](String& APassword) { APassword = password; };
    h->Open();
    h->WriteLn(u"with certificate");
    EXPECT_TRUE(server.Process().WaitForOutput("with certificate\r\n"));
    EXPECT_NE(server.Process().Output().find("vyn test client"), std::string::npos);
  }
  // Without one the server refuses the handshake.
  TOpenSSLServer server({"-tls1_2", "-Verify", "1", "-CAfile", c.CACert, "-verify_return_error"});
  ASSERT_TRUE(server.Ready());
  auto h = Client(server.Port());
  EXPECT_THROW(h->Open(), EIdOSSLConnectError);
}

TEST(OpenSSLClient, ThePeersCloseEndsReading) {
  TOpenSSLServer server;
  ASSERT_TRUE(server.Ready());
  auto h = Client(server.Port());
  h->Open();
  ASSERT_TRUE(server.Process().Write("last line\n"));
  EXPECT_EQ(h->ReadLn(), u"last line");
  ASSERT_TRUE(server.Process().Write("Q\n"));  // s_server closes TLS and ends
  EXPECT_THROW(h->ReadLn(), EIdConnClosedGracefully);
}

// ---- Both roles -------------------------------------------------------------------------------

// A listening socket on 127.0.0.1 with a free port, through the library's own socket
// handle, as a server of the library listens.
struct TListener {
  TIdSocketHandle Socket;
  TListener() {
    Socket.AllocateSocket();
    Socket.SetBinding(u"127.0.0.1", 0);
    Socket.Bind();
    Socket.Listen(4);
  }
  uint16_t Port() const { return Socket.Port(); }
};

TEST(OpenSSLServer, AcceptsWithCertificateFilesALPNAndClientCertificates) {
  const TTestCertificates& c = TTestCertificates::Get();
  TListener listener;
  std::atomic<bool> done{false};
  String serverSaw, peerSubject, chosenOffers;
  std::string serverError;
  std::thread server([&] {
    try {
      TIdSSLIOHandlerSocketOpenSSL s;
      s.SSLOptions()->SetMode(sslmServer);
      s.SSLOptions()->SetSSLVersions(kTLSVersions);
      s.SSLOptions()->SetCertFile(FromUtf8(c.ServerP12));
      s.SSLOptions()->SetKeyFile(FromUtf8(c.ServerP12));
      s.SSLOptions()->SetRootCertFile(FromUtf8(c.CACert));
      s.SSLOptions()->SetVerifyMode({sslvrfPeer, sslvrfFailIfNoPeerCert});
      s.OnGetPassword = [](String& APassword) { APassword = u"secret"; };
      s.OnALPNSelect = [&](TObject*, TStrings* AOffers, String& VProtocol) {
        for (int i = 0; i < AOffers->Count(); ++i) chosenOffers += AOffers->Get(i) + u";";
        VProtocol = u"http/1.1";
      };
      s.SetPassThrough(false);
      s.SetReadTimeout(5000);
      s.AcceptConnection(listener.Socket.Handle());
      EXPECT_TRUE(s.IsPeer());
      peerSubject = s.SSLSocket()->PeerCert() ? s.SSLSocket()->PeerCert()->Subject()->OneLine() : u"none";
      serverSaw = s.ReadLn();
      s.WriteLn(u"echo " + serverSaw);
      s.Close();
    } catch (const std::exception& e) {
      serverError = e.what();
    }
    done = true;
  });
  auto h = Client(listener.Port());
  h->SSLOptions()->SetRootCertFile(FromUtf8(c.CACert));
  h->SSLOptions()->SetVerifyMode({sslvrfPeer});
  h->SSLOptions()->SetCertFile(FromUtf8(c.ClientCert));
  h->SSLOptions()->SetKeyFile(FromUtf8(c.ClientKey));
  h->SetURIToCheck(u"https://localhost/");
  h->ALPNProtocols()->Add(u"h2");
  h->ALPNProtocols()->Add(u"http/1.1");
  try {
    h->Open();
    EXPECT_EQ(h->GetALPNProtocol(), u"http/1.1");
    h->WriteLn(u"ping");
    EXPECT_EQ(h->ReadLn(), u"echo ping");
    EXPECT_THROW(h->ReadLn(), EIdConnClosedGracefully);
  } catch (const std::exception& e) {
    ADD_FAILURE() << e.what();
  }
  server.join();
  EXPECT_EQ(serverError, "");
  EXPECT_EQ(serverSaw, u"ping");
  EXPECT_EQ(peerSubject, u"/CN=vyn test client");
  EXPECT_EQ(chosenOffers, u"h2;http/1.1;");
}

TEST(OpenSSLServer, AFailedHandshakeClosesTheAcceptingHandler) {
  const TTestCertificates& c = TTestCertificates::Get();
  TListener listener;
  std::string serverError;
  bool closed = false;
  std::thread server([&] {
    TIdSSLIOHandlerSocketOpenSSL s;
    s.SSLOptions()->SetMode(sslmServer);
    s.SSLOptions()->SetCertFile(FromUtf8(c.ServerCert));
    s.SSLOptions()->SetKeyFile(FromUtf8(c.ServerKey));
    s.SSLOptions()->SetSSLVersions(kTLSVersions);
    s.SetPassThrough(false);
    try {
      s.AcceptConnection(listener.Socket.Handle());
    } catch (const EIdOSSLAcceptError& e) {
      serverError = e.what();
    } catch (const std::exception& e) {
      serverError = std::string("other: ") + e.what();
    }
    closed = !s.BindingAllocated();
  });
  // A client that speaks no TLS at all.
  auto h = Client(listener.Port());
  h->SetPassThrough(true);
  h->Open();
  h->WriteLn(u"GET / HTTP/1.0");
  h->WriteLn();
  server.join();
  EXPECT_EQ(serverError.rfind("Error accepting connection with SSL.\r\n", 0), 0u) << serverError;
  EXPECT_TRUE(closed);
}

TEST(OpenSSLServer, WritingToAPeerThatHasGoneIsAnErrorNotASignal) {
  const TTestCertificates& c = TTestCertificates::Get();
  TListener listener;
  std::thread server([&] {
    TIdSSLIOHandlerSocketOpenSSL s;
    s.SSLOptions()->SetMode(sslmServer);
    s.SSLOptions()->SetSSLVersions(kTLSVersions);
    s.SSLOptions()->SetCertFile(FromUtf8(c.ServerCert));
    s.SSLOptions()->SetKeyFile(FromUtf8(c.ServerKey));
    s.SetPassThrough(false);
    s.SetLingerState(0);  // the close resets the connection
    EXPECT_NO_THROW(s.AcceptConnection(listener.Socket.Handle()));
    s.Close();
  });
  auto h = Client(listener.Port());
  h->Open();
  server.join();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const TIdBytes block(65536, 'x');
  bool failed = false;
  for (int i = 0; i < 100 && !failed; ++i) {
    try {
      h->Write(block);
    } catch (const Exception&) {
      failed = true;
    }
  }
  EXPECT_TRUE(failed);
}

TEST(OpenSSLServer, TLSStartsOnAnOpenPlainConnection) {
  const TTestCertificates& c = TTestCertificates::Get();
  TListener listener;
  String afterTLS;
  std::string serverError;
  std::thread server([&] {
    try {
      TIdSSLIOHandlerSocketOpenSSL s;
      s.SSLOptions()->SetMode(sslmServer);
      s.SSLOptions()->SetSSLVersions(kTLSVersions);
      s.SSLOptions()->SetCertFile(FromUtf8(c.ServerChain));
      s.SSLOptions()->SetKeyFile(FromUtf8(c.ServerKey));
      s.SetReadTimeout(5000);
      s.AcceptConnection(listener.Socket.Handle());  // plain: PassThrough stays on
      if (s.ReadLn() == u"STARTTLS") {
        s.WriteLn(u"GO");
        s.SetPassThrough(false);
        afterTLS = s.ReadLn();
        s.WriteLn(u"secret reply");
        s.SetPassThrough(true);  // both ends close TLS and go on in clear text
        if (s.ReadLn() == u"plain again") s.WriteLn(u"plain reply");
      }
    } catch (const std::exception& e) {
      serverError = e.what();
    }
  });
  auto h = Client(listener.Port());
  h->SSLOptions()->SetRootCertFile(FromUtf8(c.CACert));
  h->SSLOptions()->SetVerifyMode({sslvrfPeer});
  h->SetURIToCheck(u"https://localhost/");
  h->SetPassThrough(true);
  try {
    h->Open();
    h->WriteLn(u"STARTTLS");
    EXPECT_EQ(h->ReadLn(), u"GO");
    h->SetPassThrough(false);
    EXPECT_FALSE(h->GetSSLVersion().empty());
    h->WriteLn(u"secret request");
    EXPECT_EQ(h->ReadLn(), u"secret reply");
    h->SetPassThrough(true);
    h->WriteLn(u"plain again");
    EXPECT_EQ(h->ReadLn(), u"plain reply");
  } catch (const std::exception& e) {
    ADD_FAILURE() << e.what();
  }
  server.join();
  EXPECT_EQ(serverError, "");
  EXPECT_EQ(afterTLS, u"secret request");
}

}  // namespace
}  // namespace vyn
