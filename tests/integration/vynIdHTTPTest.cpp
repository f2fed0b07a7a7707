// The HTTP engine against a real nginx and against scripted loopback peers that send
// exactly the pieces a test names.
#include "vynIdHTTP.h"

#include <gtest/gtest.h>

#include "vynIdSSL.h"
#include "vynNginx.h"
#include "vynRecordingStream.h"
#include "vynScriptedPeer.h"

namespace vyn {
namespace {

using test::TNginx;
using test::TRecordingStream;
using test::TScriptedPeer;

constexpr std::string_view kDefaultHeaders =
    "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8\r\n"
    "User-Agent: Mozilla/3.0 (compatible; Orva Library)\r\n";

std::string Text(const String& AText) { return ToUtf8(AText); }

String Url(uint16_t APort, const std::string& APath, const char* AScheme = "http") {
  return FromUtf8(std::string(AScheme) + "://127.0.0.1:" + std::to_string(APort) + APath);
}

// A TLS handler whose "encryption" is the identity: it takes the TLS road through the
// engine (registry, pass-through switch, host to check, session start) over plain TCP.
class TPassThroughTLS : public TIdSSLIOHandlerSocketBase {
public:
  explicit TPassThroughTLS(TComponent* AOwner = nullptr) : TIdSSLIOHandlerSocketBase(AOwner) {}
  int RecvEncrypted(TIdBytesSpan VBuffer) override {
    ++Receives;
    return TIdIOHandlerStack::ReadDataFromSource(VBuffer);
  }
  int SendEncrypted(const TIdBytes& ABuffer, int AOffset, int ALength) override {
    ++Sends;
    return TIdIOHandlerStack::WriteDataToTarget(ABuffer, AOffset, ALength);
  }
  std::unique_ptr<TIdSSLIOHandlerSocketBase> Clone() override { return std::make_unique<TPassThroughTLS>(); }
  void StartSSL() override {
    ++Starts;
    StartedFor = URIToCheck();
  }
  void ConnectClientSocket() override {
    TIdSSLIOHandlerSocketBase::ConnectClientSocket();
    if (!PassThrough()) StartSSL();
  }
  void SetPassThrough(bool AValue) override {
    const bool start = PassThrough() && !AValue && Opened();
    TIdSSLIOHandlerSocketBase::SetPassThrough(AValue);
    if (start) StartSSL();
  }
  int Receives = 0;
  int Sends = 0;
  int Starts = 0;
  String StartedFor;
};

void RegisterPassThroughTLS() { TIdIOHandler::RegisterIOHandler(TIdIOHandlerClass::Of<TPassThroughTLS>()); }

std::string Pattern(size_t ASize) {
  std::string s(ASize, '\0');
  for (size_t i = 0; i < ASize; ++i) s[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
  return s;
}

// ---- nginx -------------------------------------------------------------------------------------

struct HTTPNginx : ::testing::Test {
  TNginx nginx;
  TIdHTTP http;
  const std::string big = Pattern(200000);
  void SetUp() override {
    nginx.WriteFile("a.txt", "hello");
    nginx.WriteFile("big.bin", big);
    ASSERT_TRUE(nginx.Start());
  }
  String Connection() { return http.Response().RawHeaders().GetValue(u"X-Connection"); }
};

TEST_F(HTTPNginx, StaticFilesOverOneKeptConnection) {
  EXPECT_EQ(Text(http.Get(Url(nginx.Port(), "/a.txt"))), "hello");
  EXPECT_EQ(http.Response().ContentLength(), 5);
  const String first = Connection();
  EXPECT_FALSE(first.empty());

  TRecordingStream body;
  http.Get(Url(nginx.Port(), "/big.bin"), &body);
  EXPECT_TRUE(body.Text() == big);
  EXPECT_GT(body.Writes.size(), 1u);
  for (int64_t w : body.Writes) {
    EXPECT_GT(w, 0);
    EXPECT_LE(w, 32768);
  }
  EXPECT_EQ(Connection(), first);

  http.Head(Url(nginx.Port(), "/big.bin"));
  EXPECT_EQ(http.Response().ContentLength(), 200000);
  EXPECT_EQ(Text(http.Get(Url(nginx.Port(), "/a.txt"))), "hello");
  EXPECT_EQ(Connection(), first);
}

TEST_F(HTTPNginx, ChunkedAnswerArrivesWhole) {
  TRecordingStream body;
  http.Get(Url(nginx.Port(), "/chunked/big.bin"), &body);
  EXPECT_EQ(LowerCase(http.Response().TransferEncoding()), u"chunked");
  EXPECT_FALSE(http.Response().HasContentLength());
  EXPECT_TRUE(body.Text() == big);
  EXPECT_TRUE(http.Connected());
  const String first = Connection();
  EXPECT_EQ(Text(http.Get(Url(nginx.Port(), "/chunked/a.txt"))), "hello");
  EXPECT_EQ(Connection(), first);
}

TEST_F(HTTPNginx, AnswerWithoutLengthIsReadUntilTheServerCloses) {
  // An HTTP/1.0 client cannot be sent chunks: nginx ends the body by closing.
  http.SetProtocolVersion(pv1_0);
  TRecordingStream body;
  http.Get(Url(nginx.Port(), "/chunked/big.bin"), &body);
  EXPECT_FALSE(http.Response().HasContentLength());
  EXPECT_TRUE(body.Text() == big);
  EXPECT_FALSE(http.Connected());
}

TEST_F(HTTPNginx, ErrorStatusCarriesItsBodyAndKeepsTheConnection) {
  http.Get(Url(nginx.Port(), "/a.txt"));
  const String first = Connection();
  try {
    http.Get(Url(nginx.Port(), "/missing"));
    ADD_FAILURE() << "no error";
  } catch (const EIdHTTPProtocolException& e) {
    EXPECT_EQ(e.ErrorCode(), 404);
    EXPECT_EQ(Text(e.Message()), "HTTP/1.1 404 Not Found");
    EXPECT_EQ(Text(e.ErrorMessage()), "gone\n");
  }
  EXPECT_EQ(Text(http.Get(Url(nginx.Port(), "/a.txt"))), "hello");
  EXPECT_EQ(Connection(), first);
  // Ignored, the page goes to the caller when asked for.
  http.SetHTTPOptions(http.HTTPOptions() + TIdHTTPOptions{hoWantProtocolErrorContent});
  EXPECT_EQ(Text(http.Get(Url(nginx.Port(), "/missing"), {404})), "gone\n");
}

TEST_F(HTTPNginx, ThroughAnHTTPProxyTheTargetIsTheAbsoluteURL) {
  // nginx takes an absolute-form target like a proxy would and serves its own file;
  // only the proxy's loopback address is ever contacted.
  http.ProxyParams().SetProxyServer(u"127.0.0.1");
  http.ProxyParams().SetProxyPort(nginx.Port());
  EXPECT_EQ(Text(http.Get(u"http://www.example.invalid/a.txt")), "hello");
  EXPECT_EQ(http.Request().UseProxy(), ctProxy);
  EXPECT_EQ(http.Request().URL(), u"http://www.example.invalid/a.txt");
  EXPECT_EQ(http.Port(), nginx.Port());
}

TEST_F(HTTPNginx, HttpsTakesTheRegisteredTLSHandler) {
  RegisterPassThroughTLS();
  EXPECT_EQ(Text(http.Get(Url(nginx.Port(), "/a.txt", "https"))), "hello");
  auto* tls = dynamic_cast<TPassThroughTLS*>(http.IOHandler());
  ASSERT_NE(tls, nullptr);
  EXPECT_TRUE(http.ManagedIOHandler());
  EXPECT_FALSE(tls->PassThrough());
  EXPECT_EQ(tls->Starts, 1);
  EXPECT_EQ(tls->StartedFor, Url(nginx.Port(), "/a.txt", "https"));
  EXPECT_GT(tls->Receives, 0);
  EXPECT_GT(tls->Sends, 0);
  EXPECT_EQ(http.Request().Host(), FromUtf8("127.0.0.1:" + std::to_string(nginx.Port())));

  // The same handler serves plain http in pass-through, on a new connection.
  const int sends = tls->Sends;
  EXPECT_EQ(Text(http.Get(Url(nginx.Port(), "/a.txt"))), "hello");
  EXPECT_EQ(http.IOHandler(), tls);
  EXPECT_TRUE(tls->PassThrough());
  EXPECT_EQ(tls->Sends, sends);
  EXPECT_EQ(tls->Starts, 1);
}

// ---- Scripted peers ----------------------------------------------------------------------------

std::string GetRequest(uint16_t APort, const std::string& APath) {
  return "GET " + APath + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(APort) + "\r\n" +
         std::string(kDefaultHeaders) + "\r\n";
}

void ExpectPeerDone(TScriptedPeer& APeer) {
  EXPECT_TRUE(APeer.Join());
  for (const auto& e : APeer.Errors()) ADD_FAILURE() << "peer: " << e;
}

TEST(HTTPScriptedPeer, ThreeChunksInThreeReceivesGiveThreeWrites) {
  TScriptedPeer peer;
  peer.Expect(GetRequest(peer.Port(), "/sse"))
      .Write("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nTransfer-Encoding: chunked\r\n\r\n")
      .Pause(60)
      .Write("9\r\ndata: 1\n\n\r\n")
      .Pause(60)
      .Write("9\r\ndata: 2\n\n\r\n")
      .Pause(60)
      .Write("9\r\ndata: 3\n\n\r\n0\r\n\r\n");
  peer.Start();
  TIdHTTP http;
  TIdEventStream events;
  std::vector<std::string> blocks;
  events.OnWrite = [&](TIdBytesView ABuffer, int AOffset, int ACount, int& VResult) {
    blocks.emplace_back(ABuffer.begin() + AOffset, ABuffer.begin() + AOffset + ACount);
    VResult = ACount;
  };
  http.Get(Url(peer.Port(), "/sse"), &events);
  EXPECT_EQ(blocks, (std::vector<std::string>{"data: 1\n\n", "data: 2\n\n", "data: 3\n\n"}));
  ExpectPeerDone(peer);
}

TEST(HTTPScriptedPeer, CancelInsideTheWriteEndsTheStream) {
  const struct {
    const char* Name;
    const char* Head;
    std::vector<std::string> Pieces;
    bool Raises;
  } cases[] = {
      {"until close", "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n\r\n", {"one", "two", "three"}, false},
      {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", {"3\r\none\r\n", "3\r\ntwo\r\n", "5\r\nthree\r\n"},
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TScriptedPeer peer;
    peer.Expect(GetRequest(peer.Port(), "/s")).Write(c.Head).Pause(60);
    for (const auto& p : c.Pieces) peer.Write(p).Pause(60);
    // The client's close is what the peer sees next (its last write may fail).
    peer.ReadUntilClose();
    peer.Start();
    TIdHTTP http;
    TIdEventStream events;
    std::vector<std::string> blocks;
    events.OnWrite = [&](TIdBytesView ABuffer, int AOffset, int ACount, int& VResult) {
      blocks.emplace_back(ABuffer.begin() + AOffset, ABuffer.begin() + AOffset + ACount);
      if (blocks.size() == 2) http.Disconnect();
      VResult = ACount;
    };
    bool raised = false;
    try {
      http.Get(Url(peer.Port(), "/s"), &events);
    } catch (const EIdConnClosedGracefully&) {
      raised = true;
    }
    EXPECT_EQ(raised, c.Raises);
    EXPECT_EQ(blocks, (std::vector<std::string>{"one", "two"}));
    EXPECT_FALSE(http.Connected());
    EXPECT_TRUE(peer.Join());
  }
}

TEST(HTTPScriptedPeer, TLSThroughAProxyTunnelsWithConnect) {
  RegisterPassThroughTLS();
  TScriptedPeer proxy;
  proxy.Expect("CONNECT secure.test:443 HTTP/1.1\r\nPragma: no-cache\r\nProxy-Connection: keep-alive\r\n"
               "Host: secure.test\r\n" + std::string(kDefaultHeaders) + "\r\n")
      .Write("HTTP/1.1 200 Connection established\r\n\r\n")
      .Expect("GET /x HTTP/1.1\r\nHost: secure.test\r\n" + std::string(kDefaultHeaders) + "\r\n")
      .Write("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nsecret");
  proxy.Start();
  TIdHTTP http;
  http.ProxyParams().SetProxyServer(u"127.0.0.1");
  http.ProxyParams().SetProxyPort(proxy.Port());
  EXPECT_EQ(Text(http.Get(u"https://secure.test/x")), "secret");
  auto* tls = dynamic_cast<TPassThroughTLS*>(http.IOHandler());
  ASSERT_NE(tls, nullptr);
  EXPECT_EQ(tls->Starts, 1);  // after the tunnel stood
  EXPECT_EQ(tls->StartedFor, u"https://secure.test/x");
  EXPECT_EQ(http.Request().UseProxy(), ctSSLProxy);
  ExpectPeerDone(proxy);
}

TEST(HTTPScriptedPeer, ProxyRefusingTheTunnelRaisesItsStatus) {
  RegisterPassThroughTLS();
  TScriptedPeer proxy;
  proxy.Read(20).Pause(100).Write("HTTP/1.1 407 Proxy Authentication Required\r\n"
                                  "Proxy-Authenticate: Basic realm=\"p\"\r\nContent-Length: 4\r\n\r\nnope");
  proxy.Start();
  TIdHTTP http;
  http.ProxyParams().SetProxyServer(u"127.0.0.1");
  http.ProxyParams().SetProxyPort(proxy.Port());
  try {
    http.Get(u"https://secure.test/x");
    ADD_FAILURE() << "no error";
  } catch (const EIdHTTPProtocolException& e) {
    EXPECT_EQ(e.ErrorCode(), 407);
    EXPECT_EQ(e.ErrorMessage(), u"nope");
  }
  EXPECT_EQ(http.AuthProxyRetries(), 1);
  ExpectPeerDone(proxy);
}

TEST(HTTPScriptedPeer, BodyWithTheHeadersThenOneWritePerReceive) {
  TScriptedPeer peer;
  peer.Expect(GetRequest(peer.Port(), "/"))
      .Write("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nabc")
      .Pause(60)
      .Write("defg")
      .Pause(60)
      .Write("hi");
  peer.Start();
  TIdHTTP http;
  TRecordingStream body;
  http.Get(Url(peer.Port(), "/"), &body);
  EXPECT_EQ(body.Writes, (std::vector<int64_t>{3, 4, 2}));
  EXPECT_EQ(body.Text(), "abcdefghi");
  ExpectPeerDone(peer);
}

}  // namespace
}  // namespace vyn
