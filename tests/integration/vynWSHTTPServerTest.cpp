// The listener against real clients: curl for the ordinary HTTP paths, raw loopback
// sockets for malformed and stalled requests, deactivation with connections open, and
// a TLS handler stand-in for the TLS wiring.
#include "vynWSHTTPServer.h"

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

#include "vynChildProcess.h"
#include "vynIdException.h"
#include "vynLoopbackPeer.h"
#include "vynScriptedPeer.h"

namespace vyn {
namespace {

using test::ConnectLoopback;
using test::ReadUntilEnd;
using test::SendAll;
using test::TChildProcess;
using test::TFd;
using test::MsSince;
using Clock = std::chrono::steady_clock;

struct TCurlResult {
  int Exit = -1;
  std::string Out;
  std::string Err;
};

bool CurlInstalled() { return test::RequireProgram("curl", "curl"); }

TCurlResult Curl(const std::vector<std::string>& AArgs, int ATimeoutMs = 10000) {
  TCurlResult r;
  if (!CurlInstalled()) return r;
  std::vector<std::string> args{"-sS", "--max-time", "10"};
  args.insert(args.end(), AArgs.begin(), AArgs.end());
  TChildProcess curl("curl", args);
  EXPECT_TRUE(curl.Started()) << curl.StartError();
  r.Exit = curl.WaitForExit(ATimeoutMs);
  r.Out = curl.Stdout();
  r.Err = curl.Stderr();
  return r;
}

// One raw request on a new connection; everything the server sent until it closed.
test::TPeerEnd RawExchange(uint16_t APort, const std::string& ARequest, int ATimeoutMs = 5000) {
  TFd fd = ConnectLoopback(APort);
  EXPECT_TRUE(fd) << "connect failed";
  if (!fd) return {};
  SendAll(fd.Get(), ARequest);
  return ReadUntilEnd(fd.Get(), ATimeoutMs);
}

std::string StatusLine(const std::string& AResponse) { return AResponse.substr(0, AResponse.find("\r\n")); }

struct TServerFixture : ::testing::Test {
  std::unique_ptr<TvynWSHTTPServer> server = std::make_unique<TvynWSHTTPServer>();
  uint16_t port = 0;

  void Start() {
    server->SetPort(0);
    if (server->Bindings().Count() == 0) server->Bindings().Add(u"127.0.0.1", 0);
    server->SetActive(true);
    port = server->Bindings().Items(0)->Port();
    ASSERT_NE(port, 0);
  }
  std::string Url(const std::string& APath) const { return "http://127.0.0.1:" + std::to_string(port) + APath; }
  // Waits until the server serves exactly ACount connections.
  bool WaitForConnections(int ACount, int ATimeoutMs = 3000) {
    const auto start = Clock::now();
    while (server->ConnectionCount() != ACount)
      if (MsSince(start) > ATimeoutMs) return false;
      else std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return true;
  }
};

// ---- Ordinary answers through curl -----------------------------------------------------------

TEST_F(TServerFixture, HandlerGetsDocumentAndDecodedParametersInOrder) {
  String document, query;
  std::vector<String> params;
  server->OnCommandGet = [&](TIdContext*, TIdHTTPRequestInfo* ARequest, TIdHTTPResponseInfo* AResponse) {
    document = ARequest->Document();
    query = ARequest->QueryParams();
    for (int i = 0; i < ARequest->Params().Count(); ++i) params.push_back(ARequest->Params()[i]);
    AResponse->SetContentText(u"h\u00e9llo");
  };
  Start();
  const TCurlResult r = Curl({"-i", Url("/a%20dir/x.php?code=a%2Fb&state=1+2&code=%C3%A9&flag&&empty=")});
  ASSERT_EQ(r.Exit, 0) << r.Err;
  EXPECT_EQ(StatusLine(r.Out), "HTTP/1.1 200 OK");
  EXPECT_NE(r.Out.find("Content-Type: text/plain; charset=utf-8\r\n"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("Content-Length: 6\r\n"), std::string::npos) << r.Out;
  EXPECT_EQ(r.Out.substr(r.Out.size() - 6), "h\xc3\xa9llo");
  EXPECT_EQ(document, u"/a dir/x.php");
  EXPECT_EQ(query, u"code=a%2Fb&state=1+2&code=%C3%A9&flag&&empty=");
  EXPECT_EQ(params, (std::vector<String>{u"code=a/b", u"state=1 2", u"code=\u00e9", u"flag=", u"empty="}));
}

TEST_F(TServerFixture, StatusesOfHandlersThatSetNothingRaiseOrSetNoValidCode) {
  server->OnCommandGet = [](TIdContext*, TIdHTTPRequestInfo* ARequest, TIdHTTPResponseInfo* AResponse) {
    const String doc = ARequest->Document();
    if (doc == u"/raise") EIdException::Toss(u"token exchange failed");
    if (doc == u"/std") throw std::runtime_error("out of range");
    if (doc == u"/zero") AResponse->SetResponseNo(0);
    if (doc == u"/missing") {
      AResponse->SetResponseNo(404);
      AResponse->SetContentText(u"no such page");
      AResponse->CustomHeaders().Add(u"X-Note: a\r\nInjected: yes");
    }
  };
  Start();
  struct TCase {
    std::string Path;
    std::string Status;
    std::string Body;
  };
  const TCase cases[] = {
      {"/nothing", "HTTP/1.1 200 OK", ""},
      {"/raise", "HTTP/1.1 500 Internal Server Error", "token exchange failed"},
      {"/std", "HTTP/1.1 500 Internal Server Error", "out of range"},
      {"/zero", "HTTP/1.1 500 Internal Server Error", "The request handler set no valid status code (0)."},
      {"/missing", "HTTP/1.1 404 Not Found", "no such page"},
  };
  for (const auto& c : cases) {
    const TCurlResult r = Curl({"-i", Url(c.Path)});
    ASSERT_EQ(r.Exit, 0) << c.Path << ": " << r.Err;
    EXPECT_EQ(StatusLine(r.Out), c.Status) << c.Path;
    const size_t bodyAt = r.Out.find("\r\n\r\n");
    ASSERT_NE(bodyAt, std::string::npos);
    EXPECT_EQ(r.Out.substr(bodyAt + 4), c.Body) << c.Path;
    if (c.Path == "/missing") {
      // A line break in a header value must not start a header of the handler's caller.
      EXPECT_NE(r.Out.find("X-Note: a  Injected: yes\r\n"), std::string::npos) << r.Out;
      EXPECT_EQ(r.Out.find("\r\nInjected:"), std::string::npos) << r.Out;
    }
  }
  // No handler at all: nothing is served.
  server->SetActive(false);
  server->OnCommandGet = nullptr;
  server->SetActive(true);
  EXPECT_EQ(StatusLine(Curl({"-i", Url("/x")}).Out), "HTTP/1.1 404 Not Found");
}

TEST_F(TServerFixture, KeepAliveServesSeveralRequestsOnOneConnection) {
  std::mutex lock;
  std::vector<uint16_t> peers;
  server->OnCommandGet = [&](TIdContext* AContext, TIdHTTPRequestInfo* ARequest, TIdHTTPResponseInfo* AResponse) {
    std::lock_guard<std::mutex> guard(lock);
    peers.push_back(AContext->PeerPort());
    AResponse->SetContentText(ARequest->Document());
  };
  Start();
  // curl reuses one connection for the URLs of one call when the server keeps it.
  const TCurlResult r = Curl({Url("/one"), Url("/two"), Url("/three")});
  ASSERT_EQ(r.Exit, 0) << r.Err;
  EXPECT_EQ(r.Out, "/one/two/three");
  ASSERT_EQ(peers.size(), 3u);
  EXPECT_EQ(peers[0], peers[1]);
  EXPECT_EQ(peers[1], peers[2]);

  // HEAD answers the headers a GET would, without the body, and keeps the connection.
  const TCurlResult head = Curl({"-I", Url("/four"), Url("/five")});
  ASSERT_EQ(head.Exit, 0) << head.Err;
  EXPECT_NE(head.Out.find("Content-Length: 5\r\n"), std::string::npos) << head.Out;
  EXPECT_EQ(head.Out.find("/four"), std::string::npos) << head.Out;
  // "Connection: close" from the client ends the connection after its answer.
  const test::TPeerEnd end = RawExchange(port, "GET /c HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  EXPECT_TRUE(end.EndOfStream);
  EXPECT_NE(end.Data.find("Connection: close\r\n"), std::string::npos) << end.Data;
}

TEST_F(TServerFixture, PipelinedRequestsAreAnsweredInOrder) {
  server->OnCommandGet = [](TIdContext*, TIdHTTPRequestInfo* ARequest, TIdHTTPResponseInfo* AResponse) {
    AResponse->SetContentText(ARequest->Document());
  };
  Start();
  // The second request arrives in the same segment as the first; an HTTP/1.0 one
  // without keep-alive ends the connection.
  const test::TPeerEnd end =
      RawExchange(port, "GET /a HTTP/1.1\r\nHost: x\r\n\r\nGET /b HTTP/1.1\r\nHost: x\r\n\r\nGET /c HTTP/1.0\r\n\r\n");
  EXPECT_TRUE(end.EndOfStream);
  const size_t a = end.Data.find("\r\n\r\n/a"), b = end.Data.find("\r\n\r\n/b"), c = end.Data.find("\r\n\r\n/c");
  EXPECT_TRUE(a != std::string::npos && b != std::string::npos && c != std::string::npos && a < b && b < c)
      << end.Data;
}

TEST_F(TServerFixture, ConnectionsAreServedConcurrently) {
  constexpr int kClients = 4;
  std::mutex lock;
  std::condition_variable changed;
  int inside = 0;
  server->OnCommandGet = [&](TIdContext*, TIdHTTPRequestInfo*, TIdHTTPResponseInfo* AResponse) {
    std::unique_lock<std::mutex> guard(lock);
    ++inside;
    changed.notify_all();
    // Every handler waits until all clients are inside at once: served one after the
    // other they would never all be.
    const bool together = changed.wait_for(guard, std::chrono::seconds(5), [&] { return inside >= kClients; });
    AResponse->SetContentText(together ? u"together" : u"alone");
  };
  Start();
  if (!CurlInstalled()) return;
  std::vector<std::unique_ptr<TChildProcess>> clients;
  for (int i = 0; i < kClients; ++i)
    clients.push_back(std::make_unique<TChildProcess>("curl", std::vector<std::string>{"-sS", Url("/c")}));
  for (auto& c : clients) {
    EXPECT_EQ(c->WaitForExit(10000), 0) << c->Stderr();
    EXPECT_EQ(c->Stdout(), "together");
  }
}

// ---- Streaming -----------------------------------------------------------------------------------

TEST_F(TServerFixture, StreamedEventsArriveOverTimeAndTheStreamEndsCleanly) {
  server->OnCommandGet = [](TIdContext* AContext, TIdHTTPRequestInfo*, TIdHTTPResponseInfo* AResponse) {
    AResponse->SetContentType(u"text/event-stream");
    AResponse->CustomHeaders().AddValue(u"Cache-Control", u"no-store");
    for (int i = 1; i <= 3; ++i) {
      if (!AResponse->WriteChunk("id: " + std::to_string(i) + "\ndata: x\n\n")) return;
      if (i < 3 && !AContext->Wait(250)) return;
    }
  };
  Start();
  if (!CurlInstalled()) return;
  TChildProcess curl("curl", {"-sSN", "-i", Url("/sse")});
  ASSERT_TRUE(curl.WaitForOutput("id: 1\n", 5000)) << curl.Stderr();
  const auto first = Clock::now();
  EXPECT_EQ(curl.Stdout().find("id: 2"), std::string::npos) << "the second event came with the first";
  ASSERT_TRUE(curl.WaitForOutput("id: 3\n", 5000)) << curl.Stderr();
  EXPECT_GE(MsSince(first), 400);
  // The last chunk ends the body: curl finishes by itself, without an error.
  EXPECT_EQ(curl.WaitForExit(5000), 0) << curl.Stderr();
  const std::string& out = curl.Stdout();
  EXPECT_NE(out.find("Transfer-Encoding: chunked\r\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Content-Type: text/event-stream\r\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Cache-Control: no-store\r\n"), std::string::npos) << out;
}

TEST_F(TServerFixture, StreamingHandlerLearnsThatTheClientWentAway) {
  std::atomic<bool> ended{false};
  std::atomic<bool> sawFailure{false};
  server->OnCommandGet = [&](TIdContext* AContext, TIdHTTPRequestInfo*, TIdHTTPResponseInfo* AResponse) {
    while (AResponse->WriteChunk("data: tick\n\n"))
      if (!AContext->Wait(20)) break;
    sawFailure = true;
    ended = true;
  };
  Start();
  {
    TFd fd = ConnectLoopback(port);
    ASSERT_TRUE(SendAll(fd.Get(), "GET /s HTTP/1.1\r\nHost: x\r\n\r\n"));
    char buf[256];
    ASSERT_GT(::recv(fd.Get(), buf, sizeof buf, 0), 0);
  }  // the client closes
  const auto start = Clock::now();
  while (!ended && MsSince(start) < 3000) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_TRUE(sawFailure);
  EXPECT_LT(MsSince(start), 1000);
  EXPECT_TRUE(WaitForConnections(0));
}

TEST_F(TServerFixture, HTTP10ClientGetsTheStreamEndedByTheClose) {
  server->OnCommandGet = [](TIdContext*, TIdHTTPRequestInfo*, TIdHTTPResponseInfo* AResponse) {
    AResponse->WriteChunk("one,");
    AResponse->WriteChunk("two");
  };
  Start();
  const test::TPeerEnd end = RawExchange(port, "GET / HTTP/1.0\r\n\r\n");
  EXPECT_TRUE(end.EndOfStream);
  EXPECT_EQ(end.Data.find("Transfer-Encoding"), std::string::npos) << end.Data;
  EXPECT_EQ(end.Data.substr(end.Data.find("\r\n\r\n") + 4), "one,two");
}

TEST_F(TServerFixture, QueuedChunksWaitForTheFlushAndGoOutTogether) {
  std::mutex lock;
  std::condition_variable changed;
  bool flush = false;
  server->OnCommandGet = [&](TIdContext*, TIdHTTPRequestInfo*, TIdHTTPResponseInfo* AResponse) {
    AResponse->QueueChunk("one,");
    AResponse->QueueChunk("two");
    std::unique_lock<std::mutex> guard(lock);
    changed.wait_for(guard, std::chrono::seconds(5), [&] { return flush; });
    AResponse->Flush();
    AResponse->QueueChunk(",three");  // sent with the last chunk when the handler returns
  };
  Start();
  TFd fd = ConnectLoopback(port);
  ASSERT_TRUE(SendAll(fd.Get(), "GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"));
  const test::TPeerEnd before = ReadUntilEnd(fd.Get(), 200);
  EXPECT_TRUE(before.TimedOut);
  EXPECT_NE(before.Data.find("Transfer-Encoding: chunked\r\n"), std::string::npos) << before.Data;
  EXPECT_EQ(before.Data.substr(before.Data.find("\r\n\r\n") + 4), "") << "a queued chunk went out unflushed";
  {
    std::lock_guard<std::mutex> guard(lock);
    flush = true;
  }
  changed.notify_all();
  const test::TPeerEnd after = ReadUntilEnd(fd.Get(), 5000);
  EXPECT_TRUE(after.EndOfStream);
  EXPECT_EQ(after.Data, "4\r\none,\r\n3\r\ntwo\r\n6\r\n,three\r\n0\r\n\r\n");
}

TEST_F(TServerFixture, AcceptedConnectionsSendSmallWritesAtOnce) {
  // With Nagle's rule on, an event written while the one before is unacknowledged
  // waits for the client's delayed acknowledgement.
  std::atomic<int> noDelay{-1};
  server->OnCommandGet = [&](TIdContext* AContext, TIdHTTPRequestInfo*, TIdHTTPResponseInfo*) {
    noDelay = AContext->Binding()->GetSockOpt(Id_IPPROTO_TCP, Id_TCP_NODELAY);
  };
  Start();
  RawExchange(port, "GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  EXPECT_NE(noDelay, 0);
  EXPECT_NE(noDelay, -1) << "the handler did not run";
}

TEST_F(TServerFixture, ACloseDelimitedAnswerSendsTheBytesThemselvesAndCloses) {
  server->OnCommandGet = [](TIdContext*, TIdHTTPRequestInfo*, TIdHTTPResponseInfo* AResponse) {
    AResponse->SetCloseDelimited(true);
    AResponse->WriteChunk("one,");
    AResponse->QueueChunk("two");
  };
  Start();
  // Asked to keep the connection, the server still ends the answer by closing it.
  const test::TPeerEnd end = RawExchange(port, "GET / HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_TRUE(end.EndOfStream);
  const std::string head = end.Data.substr(0, end.Data.find("\r\n\r\n") + 2);
  EXPECT_EQ(head.find("Transfer-Encoding"), std::string::npos) << head;
  EXPECT_EQ(head.find("Content-Length"), std::string::npos) << head;
  EXPECT_NE(head.find("Connection: close\r\n"), std::string::npos) << head;
  EXPECT_EQ(end.Data.substr(end.Data.find("\r\n\r\n") + 4), "one,two");
}

// ---- Malformed and stalled requests ---------------------------------------------------------------

TEST_F(TServerFixture, MalformedRequestsAreRefusedWithoutReachingTheHandler) {
  std::atomic<int> calls{0};
  server->OnCommandGet = [&](TIdContext*, TIdHTTPRequestInfo*, TIdHTTPResponseInfo*) { ++calls; };
  Start();
  std::string manyHeaders = "GET / HTTP/1.1\r\nHost: x\r\n";
  for (int i = 0; i < 101; ++i) manyHeaders += "X-" + std::to_string(i) + ": v\r\n";
  manyHeaders += "\r\n";
  struct TCase {
    const char* What;
    std::string Request;
    std::string Status;
  };
  const TCase cases[] = {
      {"binary garbage", std::string("\x00\x01\x02\xff\xfe garbage\r\n\r\n", 17), "400"},
      {"no version", "GET /\r\n\r\n", "400"},
      {"two blanks in the line", "GET  / HTTP/1.1\r\nHost: x\r\n\r\n", "400"},
      {"no Host in HTTP/1.1", "GET / HTTP/1.1\r\n\r\n", "400"},
      {"two Host headers", "GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n", "400"},
      {"unsupported version", "GET / HTTP/2.0\r\nHost: x\r\n\r\n", "505"},
      {"header without colon", "GET / HTTP/1.1\r\nHost: x\r\nBad Header\r\n\r\n", "400"},
      {"folded header", "GET / HTTP/1.1\r\nHost: x\r\nX-A: 1\r\n  folded\r\n\r\n", "400"},
      {"blank before colon", "GET / HTTP/1.1\r\nHost : x\r\n\r\n", "400"},
      {"control character in a value", std::string("GET / HTTP/1.1\r\nHost: x\r\nX-A: a\x01z\r\n\r\n"), "400"},
      {"request line beyond 8 KiB", "GET /" + std::string(9000, 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n", "414"},
      {"header line beyond 8 KiB", "GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(9000, 'b') + "\r\n\r\n",
       "431"},
      {"too many header lines", manyHeaders, "431"},
      {"a body with a GET", "GET / HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nhello", "400"},
      {"a chunked body with a GET", "GET / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
       "400"},
      {"another method", "POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\n\r\nabc", "501"},
      {"asterisk target", "GET * HTTP/1.1\r\nHost: x\r\n\r\n", "400"},
  };
  for (const auto& c : cases) {
    const test::TPeerEnd end = RawExchange(port, c.Request);
    EXPECT_EQ(StatusLine(end.Data).substr(0, 12), "HTTP/1.1 " + c.Status) << c.What << ": " << end.Data;
    EXPECT_TRUE(end.EndOfStream) << c.What << ": the connection stays open";
    EXPECT_NE(end.Data.find("Connection: close\r\n"), std::string::npos) << c.What;
  }
  EXPECT_EQ(calls, 0);
  // The listener still serves, and the absolute form of a target is accepted.
  const test::TPeerEnd ok = RawExchange(port, "GET http://x/abs?q=1 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(StatusLine(ok.Data), "HTTP/1.1 200 OK");
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(WaitForConnections(0));
}

TEST_F(TServerFixture, StalledClientsAreTimedOutWhileOthersAreServed) {
  server->SetReadTimeout(300);
  server->OnCommandGet = [](TIdContext*, TIdHTTPRequestInfo*, TIdHTTPResponseInfo* AResponse) {
    AResponse->SetContentText(u"ok");
  };
  Start();
  const auto start = Clock::now();
  TFd idle = ConnectLoopback(port);
  TFd partial = ConnectLoopback(port);
  ASSERT_TRUE(SendAll(partial.Get(), "GET / HTTP/1.1\r\nHost: x\r\n"));
  // A trickle of one header byte at a time does not stretch the limit either.
  TFd trickle = ConnectLoopback(port);
  std::thread dripper([&] {
    const std::string head = "GET / HTTP/1.1\r\nHost: x\r\nX-Slow: ";
    SendAll(trickle.Get(), head);
    for (int i = 0; i < 20; ++i) {
      if (!SendAll(trickle.Get(), "a")) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
  });
  // Meanwhile the listener serves others.
  EXPECT_EQ(StatusLine(RawExchange(port, "GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n").Data),
            "HTTP/1.1 200 OK");
  const test::TPeerEnd idleEnd = ReadUntilEnd(idle.Get(), 3000);
  const test::TPeerEnd partialEnd = ReadUntilEnd(partial.Get(), 3000);
  const test::TPeerEnd trickleEnd = ReadUntilEnd(trickle.Get(), 3000);
  dripper.join();
  EXPECT_LT(MsSince(start), 2000);
  EXPECT_TRUE(idleEnd.EndOfStream);
  EXPECT_EQ(idleEnd.Data, "");  // an idle connection is closed without an answer
  EXPECT_EQ(StatusLine(partialEnd.Data), "HTTP/1.1 408 Request Timeout");
  EXPECT_EQ(StatusLine(trickleEnd.Data), "HTTP/1.1 408 Request Timeout");
  EXPECT_TRUE(WaitForConnections(0));
}

TEST_F(TServerFixture, ConnectionsBeyondTheLimitAreAnswered503) {
  server->SetMaxConnections(2);
  server->OnCommandGet = [](TIdContext*, TIdHTTPRequestInfo*, TIdHTTPResponseInfo*) {};
  Start();
  TFd a = ConnectLoopback(port);
  TFd b = ConnectLoopback(port);
  ASSERT_TRUE(WaitForConnections(2));
  const test::TPeerEnd refused = RawExchange(port, "GET / HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(StatusLine(refused.Data), "HTTP/1.1 503 Service Unavailable");
  EXPECT_TRUE(refused.EndOfStream);
  a.Reset();
  ASSERT_TRUE(WaitForConnections(1));
  const test::TPeerEnd served = RawExchange(port, "GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(StatusLine(served.Data), "HTTP/1.1 200 OK");
}

// ---- Activation and deactivation ---------------------------------------------------------------------

TEST(TvynWSHTTPServer, DeactivationClosesEveryConnectionPromptlyAndLeavesNothingBehind) {
  const int fdsBefore = test::OpenFileDescriptorCount();
  const int threadsBefore = test::ThreadCount();
  std::atomic<int> streaming{0};
  {
    TvynWSHTTPServer server;
    server.SetPort(0);
    server.SetReadTimeout(30000);  // far beyond the test: only the deactivation ends them
    server.Bindings().Add(u"127.0.0.1", 0);
    server.OnCommandGet = [&](TIdContext* AContext, TIdHTTPRequestInfo* ARequest, TIdHTTPResponseInfo* AResponse) {
      if (ARequest->Document() == u"/paced") {
        ++streaming;
        while (AResponse->WriteChunk("data: x\n\n") && AContext->Wait(10000)) {
        }
      } else if (ARequest->Document() == u"/flood") {
        ++streaming;
        // The client reads nothing: this write blocks once the socket buffers are full.
        const std::string block(256 * 1024, 'f');
        while (AResponse->WriteChunk(block)) {
        }
      } else {
        AResponse->SetContentText(u"kept");
      }
    };
    server.SetActive(true);
    const uint16_t port = server.Bindings().Items(0)->Port();
    std::vector<TFd> clients;
    clients.push_back(ConnectLoopback(port));  // says nothing
    clients.push_back(ConnectLoopback(port));  // stops inside its headers
    SendAll(clients.back().Get(), "GET / HTTP/1.1\r\nHost: x\r\n");
    clients.push_back(ConnectLoopback(port));  // kept alive after an answer
    SendAll(clients.back().Get(), "GET / HTTP/1.1\r\nHost: x\r\n\r\n");
    clients.push_back(ConnectLoopback(port));
    SendAll(clients.back().Get(), "GET /paced HTTP/1.1\r\nHost: x\r\n\r\n");
    clients.push_back(ConnectLoopback(port));
    SendAll(clients.back().Get(), "GET /flood HTTP/1.1\r\nHost: x\r\n\r\n");
    const auto wait = Clock::now();
    while ((streaming < 2 || server.ConnectionCount() < 5) && MsSince(wait) < 3000)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(server.ConnectionCount(), 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let the flood fill the buffers

    const auto start = Clock::now();
    server.SetActive(false);
    EXPECT_LT(MsSince(start), 1000);
    EXPECT_FALSE(server.Active());
    EXPECT_EQ(server.ConnectionCount(), 0);
    for (auto& c : clients) {
      // Each client sees its connection end (after whatever was sent before).
      const test::TPeerEnd end = ReadUntilEnd(c.Get(), 2000);
      EXPECT_FALSE(end.TimedOut);
    }
    // The listening socket is gone: a new connection is refused.
    EXPECT_FALSE(ConnectLoopback(port));
    // And the same server starts again on the same port.
    server.Bindings().Items(0)->SetPort(port);
    server.SetActive(true);
    EXPECT_EQ(StatusLine(RawExchange(port, "GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n").Data),
              "HTTP/1.1 200 OK");
  }
  EXPECT_EQ(test::OpenFileDescriptorCount(), fdsBefore);
  EXPECT_EQ(test::ThreadCount(), threadsBefore);
}

TEST(TvynWSHTTPServer, AHandlerStopsItsOwnServerAndItsAnswerStillArrives) {
  const int threadsBefore = test::ThreadCount();
  const int fdsBefore = test::OpenFileDescriptorCount();
  {
    TvynWSHTTPServer server;
    server.SetPort(0);
    server.Bindings().Add(u"127.0.0.1", 0);
    std::atomic<bool> activeAfterStop{true};
    server.OnCommandGet = [&](TIdContext* AContext, TIdHTTPRequestInfo* ARequest, TIdHTTPResponseInfo* AResponse) {
      if (ARequest->Document() != u"/stop") return;
      AContext->Server()->SetActive(false);
      AContext->Server()->SetActive(false);  // a second stop from the handler returns too
      activeAfterStop = AContext->Server()->Active();
      AResponse->SetResponseNo(500);
      AResponse->SetContentText(u"stopped");
    };
    server.SetActive(true);
    const uint16_t port = server.Bindings().Items(0)->Port();
    TFd other = ConnectLoopback(port);
    SendAll(other.Get(), "GET / HTTP/1.1\r\nHost: x\r\n\r\n");  // then kept alive
    const test::TPeerEnd end = RawExchange(port, "GET /stop HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(StatusLine(end.Data), "HTTP/1.1 500 Internal Server Error");
    EXPECT_NE(end.Data.find("Connection: close\r\n"), std::string::npos) << end.Data;
    EXPECT_EQ(end.Data.substr(end.Data.size() - 7), "stopped");
    EXPECT_TRUE(end.EndOfStream);
    EXPECT_FALSE(activeAfterStop);
    EXPECT_FALSE(server.Active());
    EXPECT_FALSE(ReadUntilEnd(other.Get(), 2000).TimedOut);
    // Started again, the same object serves again.
    server.SetActive(true);
    const test::TPeerEnd again =
        RawExchange(server.Bindings().Items(0)->Port(), "GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(StatusLine(again.Data), "HTTP/1.1 200 OK");
  }
  EXPECT_EQ(test::ThreadCount(), threadsBefore);
  EXPECT_EQ(test::OpenFileDescriptorCount(), fdsBefore);
}

TEST(TvynWSHTTPServer, FailedActivationLeavesTheServerInactiveWithNothingOpen) {
  test::TLoopbackListener taken;
  const int fdsBefore = test::OpenFileDescriptorCount();
  {
    TvynWSHTTPServer server;
    server.Bindings().Add(u"127.0.0.1", 0);
    server.Bindings().Add(u"127.0.0.1", taken.Port());  // the second binding fails
    server.SetPort(0);
    EXPECT_THROW(server.SetActive(true), EIdCouldNotBindSocket);
    EXPECT_FALSE(server.Active());
    // The bindings can be changed again, and the server starts after the fix.
    server.Bindings().Clear();
    server.Bindings().Add(u"127.0.0.1", 0);
    server.SetActive(true);
    EXPECT_TRUE(server.Active());
    EXPECT_THROW(server.Bindings().Clear(), EIdHTTPServerError);
  }
  EXPECT_EQ(test::OpenFileDescriptorCount(), fdsBefore);
}

TEST(TvynWSHTTPServer, SSLWithoutATLSHandlerFailsAtActivationNamingWhatIsMissing) {
  // Whatever TLS unit is linked in, this server finds no factory.
  const TvynWSTLSIOHandlerFactory registered = TvynWSHTTPServer::DefaultTLSIOHandlerFactory();
  TvynWSHTTPServer::SetDefaultTLSIOHandlerFactory(nullptr);
  struct TRestore {
    TvynWSTLSIOHandlerFactory F;
    ~TRestore() { TvynWSHTTPServer::SetDefaultTLSIOHandlerFactory(F); }
  } restore{registered};
  TvynWSHTTPServer server;
  server.SetSSL(true);
  server.SSLOptions()->SetPort(0);
  server.Bindings().Add(u"127.0.0.1", 0);
  try {
    server.SetActive(true);
    FAIL() << "activated without a TLS handler";
  } catch (const EIdHTTPServerError& E) {
    EXPECT_NE(E.Message().find(u"TIdSSLIOHandlerSocketBase"), String::npos);
  }
  EXPECT_FALSE(server.Active());
}

// A stand-in TLS handler: its "session" turns every byte with XOR 0x5A, which is enough
// to show that the listener accepts into it, switches it to the accepting side and
// runs every byte of the exchange through RecvEncrypted and SendEncrypted.
class TXorTLSHandler : public TIdSSLIOHandlerSocketBase {
public:
  static inline std::atomic<int> Handshakes{0};
  static inline std::atomic<bool> WrongRole{false};
  void AfterAccept() override {
    TIdSSLIOHandlerSocketBase::AfterAccept();
    StartSSL();
  }
  void StartSSL() override {
    if (!IsPeer() || PassThrough()) WrongRole = true;
    ++Handshakes;
  }
  int RecvEncrypted(TIdBytesSpan VBuffer) override {
    const int n = TIdIOHandlerStack::ReadDataFromSource(VBuffer);
    for (int i = 0; i < n; ++i) VBuffer[static_cast<size_t>(i)] ^= 0x5A;
    return n;
  }
  int SendEncrypted(const TIdBytes& ABuffer, int AOffset, int ALength) override {
    TIdBytes out(ABuffer.begin() + AOffset, ABuffer.begin() + AOffset + ALength);
    for (auto& b : out) b ^= 0x5A;
    return TIdIOHandlerStack::WriteDataToTarget(out, 0, ALength);
  }
  std::unique_ptr<TIdSSLIOHandlerSocketBase> Clone() override { return std::make_unique<TXorTLSHandler>(); }
};

std::string Xor(std::string AText) {
  for (auto& c : AText) c = static_cast<char>(c ^ 0x5A);
  return AText;
}

TEST(TvynWSHTTPServer, WithSSLEveryConnectionRunsThroughAHandlerFromTheFactory) {
  TvynWSHTTPServer server;
  server.SetSSL(true);
  server.SSLOptions()->SetPort(0);
  server.SSLOptions()->SetCertFile(u"/tmp/cert.pem");
  server.Bindings().Add(u"127.0.0.1", 0);
  String certSeen;
  server.OnCreateTLSIOHandler = [&](const TvynWSSSL_Options& AOptions) -> std::unique_ptr<TIdSSLIOHandlerSocketBase> {
    certSeen = AOptions.CertFile();
    return std::make_unique<TXorTLSHandler>();
  };
  server.OnCommandGet = [](TIdContext*, TIdHTTPRequestInfo* ARequest, TIdHTTPResponseInfo* AResponse) {
    AResponse->SetContentText(ARequest->Document());
  };
  TXorTLSHandler::Handshakes = 0;
  server.SetActive(true);
  const uint16_t port = server.Bindings().Items(0)->Port();
  const test::TPeerEnd end = RawExchange(port, Xor("GET /secret HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"));
  const std::string plain = Xor(end.Data);
  EXPECT_EQ(StatusLine(plain), "HTTP/1.1 200 OK");
  EXPECT_EQ(plain.substr(plain.size() - 7), "/secret");
  EXPECT_EQ(TXorTLSHandler::Handshakes, 1);
  EXPECT_FALSE(TXorTLSHandler::WrongRole);
  EXPECT_EQ(certSeen, u"/tmp/cert.pem");
  // A client that connects and never begins its handshake is not waited for forever.
  server.SetActive(false);
  server.SetReadTimeout(200);
  server.SetActive(true);
  TFd silent = ConnectLoopback(server.Bindings().Items(0)->Port());
  const auto start = Clock::now();
  EXPECT_TRUE(ReadUntilEnd(silent.Get(), 3000).EndOfStream);
  EXPECT_LT(MsSince(start), 1500);
  EXPECT_EQ(TXorTLSHandler::Handshakes, 1);
}

TEST_F(TServerFixture, TheLogHasOneLinePerRequestWithPeerRequestLineAndStatus) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("vyn-log-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::filesystem::path file = dir / "listener.log";
  server->LogFile()->SetEnabled(true);
  server->LogFile()->SetFileName(FromUtf8(file.string()));
  server->OnCommandGet = [](TIdContext*, TIdHTTPRequestInfo* ARequest, TIdHTTPResponseInfo* AResponse) {
    if (ARequest->Document() == u"/missing") AResponse->SetResponseNo(404);
  };
  Start();
  RawExchange(port, "GET /a?x=1 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  RawExchange(port, "GET /missing HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  RawExchange(port, "GET /\"\x01\n");  // a request line that tries to forge a line
  server->SetActive(false);
  std::ifstream in(file);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find(" 127.0.0.1:"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find(" \"GET /a?x=1 HTTP/1.1\" 200"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find(" \"GET /missing HTTP/1.1\" 404"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find(" \"GET /\\x22\\x01\" 400"), std::string::npos) << lines[2];
  // Lines begin with the local date and time.
  EXPECT_EQ(lines[0].size() > 23 && lines[0][4] == '-' && lines[0][10] == ' ' && lines[0][19] == '.', true) << lines[0];
  // A log that cannot be opened shows at activation.
  server->LogFile()->SetFileName(FromUtf8((dir / "no-such-dir" / "x.log").string()));
  EXPECT_THROW(server->SetActive(true), EFOpenError);
  EXPECT_FALSE(server->Active());
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace vyn
