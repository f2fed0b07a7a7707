// The HTTP client component against scripted loopback servers: the event-stream
// request, block delivery, cancelling, error answers and the token step.
#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <thread>

#include "vynHTTP.h"
#include "vynHTTP_JWT_Client.h"
#include "vynHTTP_OAuth2_Client.h"
#include "vynIdSSLOpenSSL.h"
#include "vynOpenSSLPeer.h"
#include "vynScriptedPeer.h"
#include "vynWSHTTPServer.h"

namespace vyn {
namespace {

using test::TScriptedPeer;

const char* const ChunkedHead =
    "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n";

String URLOf(const TScriptedPeer& APeer, const char* APath = "/sse") {
  return FromUtf8("http://127.0.0.1:" + std::to_string(APeer.Port()) + APath);
}

// Records every block the component hands out; cancels on block CancelAt (1-based).
struct TMessages {
  std::vector<String> Blocks;
  size_t CancelAt = 0;
  void Attach(TvynIdHTTP& AClient) {
    AClient.OnSSEMessage = [this](TObject*, const String& aMessage, bool& Cancel) {
      Blocks.push_back(aMessage);
      Cancel = Blocks.size() == CancelAt;
    };
  }
};

std::string Lower(std::string AText) {
  for (char& c : AText) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return AText;
}

// The value of header AName (any case) in the raw request text, or "(none)".
std::string HeaderOf(const std::string& ARequest, const std::string& AName) {
  const std::string key = "\r\n" + Lower(AName) + ": ";
  const size_t at = Lower(ARequest).find(key);
  if (at == std::string::npos) return "(none)";
  const size_t start = at + key.size();
  return ARequest.substr(start, ARequest.find("\r\n", start) - start);
}

TEST(HTTPComponent, EventStreamRequestHeaders) {
  const struct {
    const char16_t* Charset;
    const char* Accept;
  } cases[] = {
      {u"UTF-8", "text/event-stream;charset=UTF-8"},
      {u"", "text/event-stream"},
      {u"ISO-8859-1", "text/event-stream;charset=UTF-8"},
  };
  for (const auto& c : cases) {
    TScriptedPeer peer;
    peer.ReadUntil("\r\n\r\n").Write("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n").Close();
    peer.Start();
    TvynHTTP1Client client;
    client.GetSSE(URLOf(peer), c.Charset);
    ASSERT_TRUE(peer.Join());
    EXPECT_TRUE(peer.Errors().empty());
    const std::string request = peer.Received();
    EXPECT_EQ(request.substr(0, 17), "GET /sse HTTP/1.1");
    EXPECT_EQ(HeaderOf(request, "Accept"), c.Accept) << ToUtf8(c.Charset);
    EXPECT_EQ(HeaderOf(request, "Cache-Control"), "no-store");
    EXPECT_EQ(HeaderOf(request, "User-Agent"), "Mozilla/5.0 (vynWebSockets 2023.2.0)");
  }
}

TEST(HTTPComponent, ChunksInSeparateReceivesAreSeparateMessagesDecodedBytePerCharacter) {
  TScriptedPeer peer;
  peer.ReadUntil("\r\n\r\n")
      .Write(ChunkedHead)
      .Pause(30)
      .Write("6\r\ndata: \r\n")
      .Pause(30)
      .Write("2\r\n\xC3\xA9\r\n")
      .Pause(30)
      .Write("2\r\n\n\n\r\n")
      .Pause(30)
      .Write("0\r\n\r\n")
      .Close();
  peer.Start();
  TvynHTTP1Client client;
  TMessages messages;
  messages.Attach(client);
  client.GetSSE(URLOf(peer), u"UTF-8");
  EXPECT_TRUE(peer.Join());
  EXPECT_EQ(messages.Blocks, (std::vector<String>{u"data: ", u"\u00C3\u00A9", u"\n\n"}));
}

TEST(HTTPComponent, CancelClosesAtOnceButDeliversWhatCameInTheSameReceive) {
  // Cancel on the second of three chunks: separate receives end the stream there; when
  // the third came with the second it is still delivered.
  for (const bool together : {false, true}) {
    TScriptedPeer peer;
    peer.ReadUntil("\r\n\r\n").Write(ChunkedHead).Pause(30).Write("1\r\nA\r\n").Pause(30);
    if (together) {
      peer.Write("1\r\nB\r\n1\r\nC\r\n");
    } else {
      peer.Write("1\r\nB\r\n").Pause(100).Write("1\r\nC\r\n");
    }
    peer.Pause(100).Write("0\r\n\r\n").StepTimeout(2000).Close();
    peer.Start();
    TvynHTTP1Client client;
    TMessages messages;
    messages.CancelAt = 2;
    messages.Attach(client);
    EXPECT_NO_THROW(client.GetSSE(URLOf(peer), u"UTF-8"));
    EXPECT_FALSE(client.Connected());
    peer.Stop();
    const std::vector<String> expected =
        together ? std::vector<String>{u"A", u"B", u"C"} : std::vector<String>{u"A", u"B"};
    EXPECT_EQ(messages.Blocks, expected) << (together ? "together" : "apart");
  }
}

TEST(HTTPComponent, StreamUntilCloseEndsQuietlyAndUnassignedHandlerDiscards) {
  for (const bool assigned : {true, false}) {
    TScriptedPeer peer;
    peer.ReadUntil("\r\n\r\n")
        .Write("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nConnection: close\r\n\r\nfirst")
        .Pause(30)
        .Write("second")
        .Pause(30)
        .Close();
    peer.Start();
    TvynHTTP1Client client;
    TMessages messages;
    if (assigned) messages.Attach(client);
    EXPECT_NO_THROW(client.GetSSE(URLOf(peer), u"UTF-8"));
    EXPECT_TRUE(peer.Join());
    EXPECT_EQ(messages.Blocks, assigned ? (std::vector<String>{u"first", u"second"}) : std::vector<String>{});
  }
}

TEST(HTTPComponent, ErrorStatusRaisesWithStatusLineAndBodyAndNoMessage) {
  TScriptedPeer peer;
  peer.ReadUntil("\r\n\r\n")
      .Write("HTTP/1.1 404 Not Here\r\nContent-Type: text/plain\r\nContent-Length: 7\r\n\r\nmissing")
      .Close();
  peer.Start();
  TvynHTTP1Client client;
  TMessages messages;
  messages.Attach(client);
  try {
    client.GetSSE(URLOf(peer), u"UTF-8");
    ADD_FAILURE() << "no error";
  } catch (const EIdHTTPProtocolException& e) {
    EXPECT_EQ(e.Message(), u"HTTP/1.1 404 Not Here");
    EXPECT_EQ(e.ErrorCode(), 404);
    EXPECT_EQ(e.ErrorMessage(), u"missing");
  }
  EXPECT_TRUE(messages.Blocks.empty());
}

TEST(HTTPComponent, FailuresOtherThanAClosedStreamReachTheCaller) {
  TvynHTTP1Client client;
  try {
    client.GetSSE(u"", u"UTF-8");
    ADD_FAILURE() << "no error";
  } catch (const EIdException& e) {
    EXPECT_EQ(e.Message(), u"Unknown Protocol");
  }
  TScriptedPeer peer;
  peer.ReadUntil("\r\n\r\n").Write(ChunkedHead).Pause(1000).Close();
  peer.Start();
  client.SetReadTimeout(100);
  EXPECT_THROW(client.GetSSE(URLOf(peer), u"UTF-8"), EIdReadTimeout);
  peer.Stop();
}

// A token source of the test's own: reports Token (numbered by how often it was asked)
// at once, from another thread after DelayMs, or an error.
class TTestJWTSource : public TvynHTTPComponentClient_JWT {
public:
  using TvynHTTPComponentClient_JWT::TvynHTTPComponentClient_JWT;
  void Start() override {
    ++Starts;
    if (!Error.empty()) return FireAuthTokenError(Error, u"no key", {});
    FireAuthToken(u"Bearer", u"token" + IntToStr(Starts), {});
  }
  int Starts = 0;
  String Error;
};

class TTestOAuthSource : public TvynHTTPComponentClient_OAuth {
public:
  using TvynHTTPComponentClient_OAuth::TvynHTTPComponentClient_OAuth;
  ~TTestOAuthSource() override {
    if (FThread.joinable()) FThread.join();
  }
  void Start() override {
    ++Starts;
    if (FThread.joinable()) FThread.join();
    FThread = std::thread([this] {
      std::this_thread::sleep_for(std::chrono::milliseconds(DelayMs));
      FireAuthToken(u"Bearer", u"late", {});
    });
  }
  int Starts = 0;
  int DelayMs = 50;

private:
  std::thread FThread;
};

// Runs one request of AClient against a peer that answers 200 and returns the request.
std::string OneRequest(TvynIdHTTP& AClient) {
  TScriptedPeer peer;
  peer.ReadUntil("\r\n\r\n").Write("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n").Close();
  peer.Start();
  AClient.Get(URLOf(peer, "/"), static_cast<TStream*>(nullptr));
  EXPECT_TRUE(peer.Join());
  return peer.Received();
}

int CountOf(const std::string& AText, const std::string& APiece) {
  int n = 0;
  for (size_t at = AText.find(APiece); at != std::string::npos; at = AText.find(APiece, at + 1)) ++n;
  return n;
}

TEST(HTTPComponent, JWTTokenIsReusedUntilItsTimeAndReplacesTheApplicationsAuthorization) {
  TTestJWTSource jwt;
  TvynHTTP1Client client;
  client.Authentication()->Token()->SetJWT(&jwt);
  client.Request().CustomHeaders().Add(u"Authorization: Basic abc");
  client.Request().CustomHeaders().Add(u"authorizationX: other");

  jwt.JWTOptions()->SetRefreshTokenAfter(600);
  std::string first = OneRequest(client);
  std::string second = OneRequest(client);
  EXPECT_EQ(jwt.Starts, 1);
  for (const std::string& request : {first, second}) {
    EXPECT_EQ(CountOf(request, "uthorization"), 1) << request;
    EXPECT_EQ(HeaderOf(request, "Authorization"), "Bearer token1");
  }
  // With no time to live every request signs anew.
  jwt.JWTOptions()->SetRefreshTokenAfter(0);
  client.SetAuthToken(u"", u"", 0);
  OneRequest(client);
  EXPECT_EQ(HeaderOf(OneRequest(client), "Authorization"), "Bearer token3");
}

TEST(HTTPComponent, OAuthTokenFromAnotherThreadIsAwaitedAndKept) {
  TvynHTTP1Client client;
  TTestOAuthSource oauth;
  TTestJWTSource jwt;
  client.Authentication()->Token()->SetOAuth(&oauth);
  client.Authentication()->Token()->SetJWT(&jwt);  // OAuth wins
  EXPECT_EQ(HeaderOf(OneRequest(client), "Authorization"), "Bearer late");
  client.Authentication()->Token()->SetJWT(nullptr);
  EXPECT_EQ(HeaderOf(OneRequest(client), "Authorization"), "Bearer late");
  EXPECT_EQ(oauth.Starts, 1);
  EXPECT_EQ(jwt.Starts, 0);
}

TEST(HTTPComponent, TokenThatNeverComesSendsWithoutOneAfterTheWait) {
  TvynHTTP1Client client;  // outlives the source, whose late report still reaches it
  TTestOAuthSource oauth;
  oauth.DelayMs = 400;
  client.Authentication()->Token()->SetOAuth(&oauth);
  client.Authentication()->Token()->SetReadTimeout(50);
  client.Request().CustomHeaders().Add(u"Authorization: Basic abc");
  const uint64_t start = TickCount64();
  const std::string request = OneRequest(client);
  EXPECT_LT(TicksSince(start), 350u);
  EXPECT_EQ(HeaderOf(request, "Authorization"), "Basic abc");
}

TEST(HTTPComponent, TokenErrorEndsTheRequestBeforeAnythingIsSent) {
  TTestJWTSource jwt;
  jwt.Error = u"invalid_key";
  TvynHTTP1Client client;
  client.Authentication()->Token()->SetJWT(&jwt);
  TScriptedPeer peer;
  peer.Start();
  try {
    client.Get(URLOf(peer, "/"), static_cast<TStream*>(nullptr));
    ADD_FAILURE() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), u"Error invalid_key. no key");
  }
  peer.Stop();
  EXPECT_FALSE(peer.Accepted());
}

TEST(HTTPComponent, MissingTransportPiecesFailClearly) {
  TvynHTTP1Client client;
  client.TLSOptions()->SetIOHandler(iohSChannel);
  try {
    client.GetSSE(u"https://127.0.0.1:1/", u"UTF-8");
    ADD_FAILURE() << "no error";
  } catch (const EIdException& e) {
    EXPECT_NE(e.Message().find(u"Schannel"), String::npos);
  }
}

TEST(HTTPComponent, SocksProxyWithoutUserNeedsNoAuthentication) {
  TvynHTTP1Client client;
  client.Proxy()->SetEnabled(true);
  client.Proxy()->SetProxyType(pxySocks5);
  client.Proxy()->SetHost(u"127.0.0.1");
  client.Proxy()->SetPort(0x10000 + 1080);  // only the low 16 bits count
  EXPECT_ANY_THROW(client.Get(u"http://127.0.0.1:1/", static_cast<TStream*>(nullptr)));
  auto* socks = dynamic_cast<TIdSocksInfo*>(client.Socket()->TransparentProxy());
  ASSERT_NE(socks, nullptr);
  EXPECT_EQ(socks->Authentication(), saNoAuthentication);
  EXPECT_EQ(socks->Version(), svSocks5);
  EXPECT_EQ(socks->Port(), 1080);
}

// A listener on 127.0.0.1 answering every GET with its document; over TLS with the
// test server certificate when ATLS.
class TEchoServer {
public:
  explicit TEchoServer(bool ATLS) {
    const test::TTestCertificates& certs = test::TTestCertificates::Get();
    FServer.SetSSL(ATLS);
    FServer.SSLOptions()->SetCertFile(FromUtf8(certs.ServerCert));
    FServer.SSLOptions()->SetKeyFile(FromUtf8(certs.ServerKey));
    FServer.SSLOptions()->SetPort(0);  // the binding's port 0 stands for this one: any free port
    FServer.OnCommandGet = [](TIdContext*, TIdHTTPRequestInfo* ARequest, TIdHTTPResponseInfo* AResponse) {
      AResponse->SetContentText(ARequest->Document());
    };
    FServer.Bindings().Add(u"127.0.0.1", 0);
    FServer.SetActive(true);
  }
  String URL(const char* AScheme, const char* AHost = "127.0.0.1") {
    return FromUtf8(std::string(AScheme) + "://" + AHost + ":" + std::to_string(FServer.Bindings().Items(0)->Port()));
  }

private:
  TvynWSHTTPServer FServer;
};

TEST(HTTPComponent, TLSHandlerIsKeptForHttpsFreedByHttpAndMadeAgainFromTheCurrentOptions) {
  ASSERT_TRUE(test::TTestCertificates::Get().Ok);
  TEchoServer tls(true), plain(false);
  TvynHTTP1Client client;
  EXPECT_EQ(client.Get(tls.URL("https") + u"/one"), u"/one");
  TIdIOHandler* first = client.IOHandler();
  ASSERT_NE(dynamic_cast<TIdSSLIOHandlerSocketOpenSSL*>(first), nullptr);
  EXPECT_EQ(client.Get(tls.URL("HTTPS") + u"/two"), u"/two");  // any case takes the TLS path
  EXPECT_EQ(client.IOHandler(), first);

  EXPECT_EQ(client.Get(plain.URL("http") + u"/three"), u"/three");
  EXPECT_EQ(dynamic_cast<TIdSSLIOHandlerSocketBase*>(client.IOHandler()), nullptr);

  // The next TLS handler is made from the options as they are now: verification
  // against the test CA passes for localhost, and against another CA fails.
  client.TLSOptions()->SetVerifyCertificate(true);
  client.TLSOptions()->SetRootCertFile(FromUtf8(test::TTestCertificates::Get().CACert));
  EXPECT_EQ(client.Get(tls.URL("https", "localhost") + u"/four"), u"/four");
  auto* second = dynamic_cast<TIdSSLIOHandlerSocketOpenSSL*>(client.IOHandler());
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->SSLOptions()->VerifyMode(), TIdSSLVerifyModeSet{sslvrfPeer});

  TvynHTTP1Client strict;
  strict.TLSOptions()->SetVerifyCertificate(true);
  strict.TLSOptions()->SetRootCertFile(FromUtf8(test::TTestCertificates::Get().OtherCACert));
  EXPECT_THROW(strict.Get(tls.URL("https", "localhost") + u"/five"), EIdOSSLConnectError);
}

}  // namespace
}  // namespace vyn
