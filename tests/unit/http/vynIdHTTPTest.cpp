#include "vynIdHTTP.h"

#include <gtest/gtest.h>

#include "vynIdCharsets.h"
#include "vynIdResourceStrings.h"
#include "vynIdSSL.h"
#include "vynRecordingStream.h"
#include "vynTestIOHandler.h"

namespace vyn {
namespace {

using test::Bytes;
using test::TRecordingStream;
using test::TTestIOHandler;

constexpr std::string_view kDefaultHeaders =
    "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8\r\n"
    "User-Agent: Mozilla/3.0 (compatible; Orva Library)\r\n";

// An engine over the in-memory peer. The handler is not owned by the engine, so a
// failing connect cannot take it away from the test.
struct TExchange {
  TTestIOHandler io;
  TIdHTTP http;
  TExchange() { http.SetIOHandler(&io); }
  // The answer, handed out in pieces of ASplit bytes (0: as one receive).
  void Answer(std::string_view AText, int ASplit = 0) {
    io.SetSplit(ASplit);
    io.AddSegment(AText);
  }
  std::string Sent() const { return io.WrittenText(); }
};

std::string Text(const String& AText) { return ToUtf8(AText); }

// ---- The request on the wire --------------------------------------------------------------------

TEST(HTTPRequestWire, GetSendsRequestLineHostAndDefaultHeaders) {
  TExchange x;
  x.Answer("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
  TMemoryStream body;
  x.http.Get(u"http://example.test/a/b?x=1", &body);
  EXPECT_EQ(x.Sent(), "GET /a/b?x=1 HTTP/1.1\r\nHost: example.test\r\n" + std::string(kDefaultHeaders) + "\r\n");
  // The whole request goes out in one send.
  EXPECT_EQ(x.io.Sends().size(), 1u);
  EXPECT_EQ(std::string(body.Bytes().begin(), body.Bytes().end()), "ok");
  EXPECT_EQ(x.http.ResponseCode(), 200);
  EXPECT_EQ(x.http.Host(), u"example.test");
  EXPECT_EQ(x.http.Port(), 80);
}

TEST(HTTPRequestWire, HostHeaderCarriesThePortOnlyWhenItIsNotTheDefault) {
  const struct {
    const char16_t* URL;
    std::string Host;
    uint16_t Port;
  } cases[] = {
      {u"http://h.test:80/", "h.test", 80},
      {u"http://h.test:8080/", "h.test:8080", 8080},
      {u"http://[::1]:8080/", "[::1]:8080", 8080},
      {u"http://[::1]/", "[::1]", 80},
  };
  for (const auto& c : cases) {
    TExchange x;
    x.Answer("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    x.http.Get(String(c.URL));
    EXPECT_NE(x.Sent().find("\r\nHost: " + c.Host + "\r\n"), std::string::npos) << x.Sent();
    EXPECT_EQ(x.http.Port(), c.Port);
  }
}

TEST(HTTPRequestWire, RelativeURLResolvesAgainstTheLastRequestOnTheSameConnection) {
  TExchange x;
  x.Answer("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  x.http.Get(u"http://[::1]:8080/a/b");
  x.Answer("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  x.http.Get(u"c?q=1");
  const std::string sent = x.Sent();
  EXPECT_NE(sent.find("GET /a/c?q=1 HTTP/1.1\r\nHost: [::1]:8080\r\n"), std::string::npos) << sent;
  EXPECT_EQ(x.io.OpenCalls(), 1);
  EXPECT_EQ(x.http.URL().IPVersion(), Id_IPv6);
}

TEST(HTTPRequestWire, PostGoesOutAsHTTP10OnAFreshConnectionUnlessTheProtocolIsKept) {
  TExchange x;
  x.Answer("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  x.http.Get(u"http://h.test/");
  x.Answer("HTTP/1.0 200 OK\r\nConnection: keep-alive\r\nContent-Length: 0\r\n\r\n");
  TStringStream source(u"abc");
  x.http.Post(u"http://h.test/form", &source);
  EXPECT_EQ(x.io.OpenCalls(), 2);  // the open connection was closed first
  EXPECT_EQ(x.http.ProtocolVersion(), pv1_1);
  const std::string sent = x.Sent();
  const std::string post = sent.substr(sent.find("POST"));
  EXPECT_EQ(post, "POST /form HTTP/1.0\r\nConnection: keep-alive\r\nContent-Length: 3\r\nHost: h.test\r\n" +
                      std::string(kDefaultHeaders) + "\r\nabc");

  // The request record keeps the "Connection" it was given; a kept protocol sends 1.1
  // on the kept connection.
  x.http.Request().SetConnection(String());
  x.http.SetHTTPOptions(x.http.HTTPOptions() + TIdHTTPOptions{hoKeepOrigProtocol});
  x.Answer("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  x.http.Post(u"http://h.test/form", static_cast<TStream*>(nullptr));
  EXPECT_EQ(x.io.OpenCalls(), 2);
  const std::string again = x.Sent().substr(sent.size());
  EXPECT_EQ(again.substr(0, again.find("\r\nHost")), "POST /form HTTP/1.1\r\nContent-Length: 0");
}

TEST(HTTPRequestWire, ProtocolVersionIsRestoredWhenThePostFails) {
  TExchange x;
  x.Answer("HTTP/1.1 500 Oops\r\nContent-Length: 0\r\n\r\n");
  EXPECT_THROW(x.http.Post(u"http://h.test/", static_cast<TStream*>(nullptr)), EIdHTTPProtocolException);
  EXPECT_EQ(x.http.ProtocolVersion(), pv1_1);
}

TEST(HTTPRequestWire, FormListIsPostedFormEncoded) {
  TExchange x;
  x.Answer("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  TStringList form;
  form.Add(u"name=a b&c");
  form.Add(u"x=\u00e9");
  x.http.Post(u"http://h.test/f", &form, EncodingUTF8());
  const std::string sent = x.Sent();
  EXPECT_NE(sent.find("Content-Type: application/x-www-form-urlencoded\r\n"), std::string::npos) << sent;
  EXPECT_NE(sent.find("Content-Length: 21\r\n"), std::string::npos) << sent;
  EXPECT_EQ(sent.substr(sent.size() - 21), "name=a+b%26c&x=%C3%A9");
}

TEST(HTTPFormEncoding, CharactersOutsideTheEncodingBecomeNumericReferences) {
  TIdHTTP http;
  EXPECT_EQ(Text(TIdCustomHTTP::FormEncodeText(u"a b*-._~?", nullptr)), "a+b*-._%7E%3F");
  EXPECT_EQ(Text(TIdCustomHTTP::FormEncodeText(u"\u00e9\U0001F600", EncodingASCII())), "&#233;&#128512;");
  EXPECT_EQ(Text(TIdCustomHTTP::FormEncodeText(u"\U0001F600", nullptr)), "%F0%9F%98%80");
  TStringList lines;
  lines.Add(u" k=v w ");
  EXPECT_EQ(Text(http.FormEncodeLines(&lines)), "+k=v+w+");
  http.SetHTTPOptions({});
  EXPECT_EQ(Text(http.FormEncodeLines(&lines)), "k=v w");
  EXPECT_EQ(http.FormEncodeLines(nullptr), u"");
}

TEST(HTTPRequestWire, ContentLengthIsSentForPostAndPutOnly) {
  TExchange x;
  x.Answer("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  x.http.Put(u"http://h.test/p", nullptr);
  EXPECT_NE(x.Sent().find("PUT /p HTTP/1.1\r\nContent-Length: 0\r\n"), std::string::npos) << x.Sent();
  x.Answer("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  x.http.Delete(u"http://h.test/d");
  EXPECT_EQ(x.Sent().find("Content-Length", x.Sent().find("DELETE")), std::string::npos);
}

TEST(HTTPRequestWire, OptionsAsteriskTargetsTheServer) {
  TExchange x;
  x.Answer("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  x.http.Options(u"http://h.test/*");
  EXPECT_EQ(x.Sent().substr(0, 21), "OPTIONS * HTTP/1.1\r\nH");
}

TEST(HTTPRequestErrors, RefusedBeforeAnythingIsSent) {
  const struct {
    std::function<void(TIdHTTP&)> Call;
    std::string Message;
  } cases[] = {
      {[](TIdHTTP& h) {
         h.SetProtocolVersion(pv1_0);
         h.Put(u"http://h.test/", nullptr);
       },
       "Request method requires HTTP version 1.1"},
      {[](TIdHTTP& h) {
         h.SetProtocolVersion(pv1_0);
         h.Trace(u"http://h.test/");
       },
       "Request method requires HTTP version 1.1"},
      {[](TIdHTTP& h) { h.Get(u"ftp://h.test/"); }, "Unknown Protocol"},
      {[](TIdHTTP& h) { h.Get(u"h.test/x"); }, "Unknown Protocol"},
      // A TLS URL needs a TLS handler: the in-memory handler is none.
      {[](TIdHTTP& h) { h.Get(u"https://h.test/"); }, "IOHandler value is not valid"},
  };
  for (const auto& c : cases) {
    TExchange x;
    try {
      c.Call(x.http);
      ADD_FAILURE() << "no error for " << c.Message;
    } catch (const EIdException& e) {
      EXPECT_EQ(Text(e.Message()), c.Message);
    }
    EXPECT_EQ(x.io.OpenCalls(), 0);
    EXPECT_EQ(x.Sent(), "");
  }
  TIdHTTP http;
  EXPECT_THROW(http.Get(u"ftp://h.test/"), EIdUnknownProtocol);
}

TEST(HTTPRequestErrors, TLSWithoutHandlerUsesTheRegisteredClassOrFails) {
  TIdHTTP http;
  // What the registry offers decides: a registered TLS class is made (and its connect
  // to a closed port fails later), none gives the handler error.
  const bool registered =
      TIdIOHandler::TryMakeIOHandler(TIdIOHandlerClass::Of<TIdSSLIOHandlerSocketBase>()) != nullptr;
  try {
    http.Get(u"https://127.0.0.1:1/");
    ADD_FAILURE() << "no error";
  } catch (const EIdIOHandlerPropInvalid& e) {
    EXPECT_FALSE(registered);
    EXPECT_EQ(Text(e.Message()), "IOHandler value is not valid");
  } catch (const EIdException&) {
    EXPECT_TRUE(registered);
  }
}

// ---- Framing -------------------------------------------------------------------------------------

struct TFramingCase {
  const char* Name;
  std::string Answer;
  std::string Body;
  bool ClosePeer = false;
  bool KeepAlive = true;
};

TEST(HTTPBodyFraming, EveryFramingReadsExactlyItsBodyWhateverTheSplit) {
  const TFramingCase cases[] = {
      {"length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", "hello"},
      {"zero length", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", ""},
      {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", "hello"},
      {"chunk extension", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;a=b\r\nhello\r\n0\r\n\r\n",
       "hello"},
      {"hex size", "HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\nA \r\n0123456789\r\n3\r\nabc\r\n0\r\n\r\n",
       "0123456789abc"},
      {"not hex ends", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n\r\n", ""},
      {"until close", "HTTP/1.1 200 OK\r\n\r\nall of it", "all of it", true, false},
      {"multipart", "HTTP/1.1 200 OK\r\nContent-Type: multipart/mixed; boundary=\"b 1\"\r\n\r\n"
                    "--b 1\r\n\r\npart\r\n--b 1-- tail\r\n",
       "--b 1\r\n\r\npart\r\n--b 1--"},
      {"multipart cut", "HTTP/1.1 200 OK\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\npart\r\n--",
       "--b\r\n\r\npart\r\n--", true, false},
      {"length cut", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhal", "hal", true, false},
      {"interim", "HTTP/1.1 100 Continue\r\nX-Interim: 1\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", "ok"},
      {"no content", "HTTP/1.1 204 No Content\r\nContent-Length: 3\r\n\r\nxyz", ""},
  };
  for (const auto& c : cases) {
    for (int split : {0, 1, 4}) {
      SCOPED_TRACE(std::string(c.Name) + " split " + std::to_string(split));
      TExchange x;
      x.Answer(c.Answer, split);
      if (c.ClosePeer) x.io.ClosePeer();
      TRecordingStream body;
      x.http.Get(u"http://h.test/", &body);
      EXPECT_EQ(body.Text(), c.Body);
      EXPECT_EQ(x.http.Connected(), c.KeepAlive);
      for (int64_t w : body.Writes) EXPECT_GT(w, 0);
    }
  }
}

TEST(HTTPBodyFraming, InterimAnswersArePassedOverAndTrailersJoinTheHeaders) {
  TExchange x;
  x.Answer("HTTP/1.1 100 Continue\r\nX-Interim: 1\r\n\r\n"
           "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nX-Final: 1\r\n\r\n"
           "2\r\nok\r\n0\r\nX-Trailer: t\r\n\r\n");
  EXPECT_EQ(Text(x.http.Get(u"http://h.test/")), "ok");
  EXPECT_EQ(x.http.ResponseText(), u"HTTP/1.1 200 OK");
  const TIdHeaderList& raw = x.http.Response().RawHeaders();
  EXPECT_EQ(raw.GetValue(u"X-Final"), u"1");
  EXPECT_EQ(raw.GetValue(u"X-Trailer"), u"t");
  EXPECT_EQ(raw.IndexOfName(u"X-Interim"), -1);
  EXPECT_EQ(x.io.Pending(), 0);
}

TEST(HTTPBodyFraming, NoBodyIsReadForHeadUnlessUnexpectedDataIsWaitedFor) {
  TExchange x;
  x.Answer("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n");
  x.http.Head(u"http://h.test/");
  EXPECT_EQ(x.http.Response().ContentLength(), 4);
  EXPECT_TRUE(x.http.Connected());

  // Bytes that came with the headers are taken as the body when asked to.
  TExchange y;
  y.http.SetHTTPOptions({hoWaitForUnexpectedData});
  y.Answer("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nbody");
  y.Answer("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  y.http.Head(u"http://h.test/");
  EXPECT_EQ(y.io.InputBuffer()->Size(), 0);
  y.http.Get(u"http://h.test/");
  EXPECT_EQ(y.http.ResponseCode(), 200);
  EXPECT_EQ(y.io.Pending(), 0);
}

TEST(HTTPBodyFraming, NotModifiedHasNoBodyAndRaisesUnlessIgnored) {
  TExchange x;
  x.Answer("HTTP/1.1 304 Not Modified\r\nContent-Length: 7\r\n\r\n");
  TMemoryStream body;
  x.http.Get(u"http://h.test/", &body, {304});
  EXPECT_EQ(body.Size(), 0);
  x.Answer("HTTP/1.1 304 Not Modified\r\n\r\n");
  try {
    x.http.Get(u"http://h.test/", &body);
    ADD_FAILURE() << "no error";
  } catch (const EIdHTTPProtocolException& e) {
    EXPECT_EQ(e.ErrorCode(), 304);
    EXPECT_EQ(e.ErrorMessage(), u"");
  }
  EXPECT_EQ(x.io.OpenCalls(), 1);
}

// ---- Blocks -------------------------------------------------------------------------------------

struct TBlockCase {
  const char* Name;
  std::vector<std::string_view> Segments;
  std::vector<int64_t> Writes;
};

TEST(HTTPBodyBlocks, EachReceiveReachesTheStreamAsOneWriteNeverSpanningChunks) {
  const TBlockCase cases[] = {
      {"until close", {"HTTP/1.1 200 OK\r\n\r\nAB", "CDE", "F"}, {2, 3, 1}},
      {"headers alone", {"HTTP/1.1 200 OK\r\n\r\n", "CDE", "F"}, {3, 1}},
      {"length", {"HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nAB", "CDE", "F"}, {2, 3, 1}},
      {"length bounds", {"HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nAB", "CDEF"}, {2, 2}},
      {"three chunks three receives",
       {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", "3\r\nabc\r\n", "2\r\nde\r\n", "1\r\nf\r\n0\r\n\r\n"},
       {3, 2, 1}},
      {"chunks in one receive",
       {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n"}, {3, 2}},
      {"chunk over receives",
       {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n6\r\nab", "cd", "ef\r\n1\r\ng", "\r\n0\r\n\r\n"},
       {2, 2, 2, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TExchange x;
    for (auto s : c.Segments) x.io.AddSegment(s);
    x.io.ClosePeer();
    TRecordingStream body;
    x.http.Get(u"http://h.test/", &body);
    EXPECT_EQ(body.Writes, c.Writes);
  }
}

TEST(HTTPBodyBlocks, ALargeReceiveIsSplitByTheReceiveBufferSize) {
  TExchange x;
  x.io.AddSegment("HTTP/1.1 200 OK\r\n\r\n");
  x.io.AddSegment(std::string(70000, 'x'));
  x.io.ClosePeer();
  TRecordingStream body;
  x.http.Get(u"http://h.test/", &body);
  EXPECT_EQ(body.Writes, (std::vector<int64_t>{32768, 32768, 4464}));
}

TEST(HTTPBodyBlocks, ChunkHandlerSeesEachWholeChunkAndItsResultIsWritten) {
  TExchange x;
  x.io.AddSegments({"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nab", "cd\r\n2\r\nef\r\n0\r\n\r\n"});
  std::vector<std::string> seen;
  x.http.OnChunkReceived = [&](TObject* ASender, TIdBytes& AChunk) {
    EXPECT_EQ(ASender, &x.http);
    seen.emplace_back(AChunk.begin(), AChunk.end());
    if (seen.size() == 2) AChunk = Bytes("XYZ");
  };
  TRecordingStream body;
  x.http.Get(u"http://h.test/", &body);
  EXPECT_EQ(seen, (std::vector<std::string>{"abcd", "ef"}));
  EXPECT_EQ(body.Writes, (std::vector<int64_t>{4, 3}));
  EXPECT_EQ(body.Text(), "abcdXYZ");
}

TEST(HTTPBodyBlocks, EventStreamSeesEachBlockAsItArrives) {
  TExchange x;
  x.io.AddSegments({"HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n\r\ndata: 1\n\n", "data: 2\n\n"});
  x.io.ClosePeer();
  TIdEventStream events;
  std::vector<std::string> blocks;
  events.OnWrite = [&](TIdBytesView ABuffer, int AOffset, int ACount, int& VResult) {
    blocks.emplace_back(ABuffer.begin() + AOffset, ABuffer.begin() + AOffset + ACount);
    // Nothing else has been received yet when a block is handed on.
    EXPECT_EQ(x.io.ReceiveCalls(), static_cast<int>(blocks.size()));
    VResult = ACount;
  };
  x.http.Get(u"http://h.test/", &events);
  EXPECT_EQ(blocks, (std::vector<std::string>{"data: 1\n\n", "data: 2\n\n"}));
}

// A cancel disconnects inside the write: the bytes already received are still used,
// then the closed connection ends the call.
TEST(HTTPBodyBlocks, DisconnectInsideAWriteEndsTheCallOnceTheBufferedBytesAreUsed) {
  const struct {
    const char* Name;
    std::vector<std::string_view> Segments;
    int CancelAt;
    std::vector<std::string> Blocks;
    bool Raises;
  } cases[] = {
      {"chunks apart",
       {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", "1\r\na\r\n", "1\r\nb\r\n", "1\r\nc\r\n0\r\n\r\n"},
       2, {"a", "b"}, true},
      {"third chunk with the second",
       {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", "1\r\na\r\n", "1\r\nb\r\n1\r\nc\r\n", "0\r\n\r\n"},
       2, {"a", "b", "c"}, true},
      {"last chunk buffered", {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1\r\na\r\n0\r\n\r\n"},
       1, {"a"}, false},
      {"until close", {"HTTP/1.1 200 OK\r\n\r\n", "a", "b", "c"}, 2, {"a", "b"}, false},
      {"length", {"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n", "a", "b", "c"}, 2, {"a", "b"}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TExchange x;
    for (auto s : c.Segments) x.io.AddSegment(s);
    TIdEventStream events;
    std::vector<std::string> blocks;
    events.OnWrite = [&](TIdBytesView ABuffer, int AOffset, int ACount, int& VResult) {
      blocks.emplace_back(ABuffer.begin() + AOffset, ABuffer.begin() + AOffset + ACount);
      if (static_cast<int>(blocks.size()) >= c.CancelAt) x.http.Disconnect();
      VResult = ACount;
    };
    bool raised = false;
    try {
      x.http.Get(u"http://h.test/", &events);
    } catch (const EIdConnClosedGracefully&) {
      raised = true;
    }
    EXPECT_EQ(raised, c.Raises);
    EXPECT_EQ(blocks, c.Blocks);
    EXPECT_FALSE(x.http.Connected());
    EXPECT_EQ(x.io.OpenCalls(), 1);
  }
}

// ---- Error statuses -----------------------------------------------------------------------------

TEST(HTTPErrorStatus, ErrorBodyGoesIntoTheExceptionOrTheCallersStreamWhenIgnored) {
  const std::string answer = "HTTP/1.1 404 Not Here\r\nContent-Type: text/plain; charset=utf-8\r\n"
                             "Content-Length: 6\r\n\r\np\xC3\xA4ge!";
  {
    TExchange x;
    x.Answer(answer);
    TMemoryStream body;
    try {
      x.http.Get(u"http://h.test/", &body);
      ADD_FAILURE() << "no error";
    } catch (const EIdHTTPProtocolException& e) {
      EXPECT_EQ(e.Message(), u"HTTP/1.1 404 Not Here");
      EXPECT_EQ(e.ErrorCode(), 404);
      EXPECT_EQ(e.ErrorMessage(), u"p\u00e4ge!");
    }
    EXPECT_EQ(body.Size(), 0);
    EXPECT_TRUE(x.http.Connected());  // the answer was read whole
  }
  {
    TExchange x;
    x.Answer(answer);
    TMemoryStream body;
    x.http.Get(u"http://h.test/", &body, {404});
    EXPECT_EQ(body.Size(), 0);
    EXPECT_EQ(x.io.Pending(), 0);
  }
  {
    TExchange x;
    x.Answer(answer);
    x.http.SetHTTPOptions({hoNoProtocolErrorException, hoWantProtocolErrorContent});
    EXPECT_EQ(x.http.Get(u"http://h.test/"), u"p\u00e4ge!");
  }
}

TEST(HTTPErrorStatus, RedirectsAndChallengesTakeTheErrorPathWithTheDefaults) {
  for (const char* status : {"302 Found", "301 Moved", "401 Unauthorized", "407 Proxy Authentication Required"}) {
    SCOPED_TRACE(status);
    TExchange x;
    x.Answer(std::string("HTTP/1.1 ") + status +
             "\r\nLocation: /next\r\nWWW-Authenticate: Basic realm=\"r\"\r\nContent-Length: 4\r\n\r\nbody");
    try {
      x.http.Get(u"http://h.test/");
      ADD_FAILURE() << "no error";
    } catch (const EIdHTTPProtocolException& e) {
      EXPECT_EQ(e.ErrorCode(), std::atoi(status));
      EXPECT_EQ(e.ErrorMessage(), u"body");
    }
    EXPECT_EQ(x.io.Sends().size(), 1u);
  }
}

TEST(HTTPErrorStatus, FollowedRedirectStartsTheCallersStreamAgain) {
  TExchange x;
  x.http.SetHandleRedirects(true);
  x.Answer("HTTP/1.1 302 Found\r\nLocation: /b\r\nContent-Length: 3\r\n\r\nold");
  x.Answer("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nnew");
  TMemoryStream body;
  x.http.Get(u"http://h.test/a", &body);
  EXPECT_EQ(std::string(body.Bytes().begin(), body.Bytes().end()), "new");
  EXPECT_EQ(x.http.RedirectCount(), 1);
  EXPECT_NE(x.Sent().find("GET /b HTTP/1.1"), std::string::npos);
}

TEST(HTTPErrorStatus, ReadFailuresReachTheCallerAndDropTheConnection) {
  const struct {
    const char* Name;
    std::string Answer;
    bool ClosePeer;
    std::string Message;
  } cases[] = {
      {"status line timed out", "", false, "Read timed out."},
      {"closed before the status line", "", true, "Connection Closed Gracefully."},
      {"chunked body cut", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nab", true,
       "Connection Closed Gracefully."},
      {"chunk too large", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n80000000\r\n", false,
       "Chunk size too large: 80000000"},
      {"length body timed out", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nab", false, "Read timed out."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TExchange x;
    if (!c.Answer.empty()) x.Answer(c.Answer);
    if (c.ClosePeer) x.io.ClosePeer();
    try {
      x.http.Get(u"http://h.test/");
      ADD_FAILURE() << "no error";
    } catch (const EIdException& e) {
      EXPECT_EQ(Text(e.Message()), c.Message);
    }
    EXPECT_FALSE(x.io.TransportOpen());
  }
}

TEST(HTTPErrorStatus, HeadersHandlerCanStopBeforeTheBody) {
  TExchange x;
  x.Answer("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nbody");
  bool asked = false;
  x.http.OnHeadersAvailable = [&](TObject*, TIdHeaderList& AHeaders, bool& VContinue) {
    asked = true;
    EXPECT_EQ(AHeaders.GetValue(u"Content-Length"), u"4");
    VContinue = false;
  };
  TMemoryStream body;
  x.http.Get(u"http://h.test/", &body);
  EXPECT_TRUE(asked);
  EXPECT_EQ(body.Size(), 0);
  EXPECT_FALSE(x.io.TransportOpen());
}

// ---- Keep-alive ----------------------------------------------------------------------------------

TEST(HTTPKeepAlive, ConnectionIsReusedUntilAnAnswerSaysClose) {
  const struct {
    TIdHTTPProtocolVersion Version;
    const char* Answer;
    int Opens;
  } cases[] = {
      {pv1_1, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", 1},
      {pv1_1, "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 0\r\n\r\n", 2},
      {pv1_1, "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n", 1},  // the engine's version decides
      {pv1_0, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", 2},
      {pv1_0, "HTTP/1.1 200 OK\r\nConnection: Keep-Alive\r\nContent-Length: 0\r\n\r\n", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Answer);
    TExchange x;
    x.http.SetProtocolVersion(c.Version);
    x.Answer(c.Answer);
    x.http.Get(u"http://h.test/1");
    x.Answer("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    x.http.Get(u"http://h.test/2");
    EXPECT_EQ(x.io.OpenCalls(), c.Opens);
  }
}

TEST(HTTPKeepAlive, RequestThatAsksToCloseIsNotKept) {
  TExchange x;
  x.http.Request().SetConnection(u"close");
  x.Answer("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  x.http.Get(u"http://h.test/");
  EXPECT_FALSE(x.io.TransportOpen());
}

TEST(HTTPKeepAlive, AnotherHostOpensANewConnection) {
  TExchange x;
  x.Answer("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  x.http.Get(u"http://a.test/");
  x.Answer("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  x.http.Get(u"http://b.test/");
  EXPECT_EQ(x.io.OpenCalls(), 2);
  EXPECT_EQ(x.http.Host(), u"b.test");
}

// ---- Character sets -----------------------------------------------------------------------------

TEST(HTTPXmlCharset, DetectedFromMarkOrDeclaration) {
  const struct {
    std::string Content;
    std::string Charset;
    int64_t Position;  // after a start at 0
  } cases[] = {
      {"\xEF\xBB\xBF<a/>", "UTF-8", 3},
      {"<?xml version='1.0' encoding='ISO-8859-1'?><a/>", "ISO-8859-1", 0},
      {"<?xml version=\"1.0\" encoding = \"windows-1252\" ?>", "windows-1252", 0},
      {"<?xml version='1.0' encoding=latin1?>", "UTF-8", 0},
      {"<?xml version='1.0'?>", "UTF-8", 0},
      {"<?xml encoding='x'", "UTF-8", 0},  // never closed
      {"<a>", "UTF-8", 0},
      {"ab", "UTF-8", 0},
      {std::string("\xFE\xFF\x00<", 4), "UTF-16BE", 2},
      {std::string("\xFF\xFE\x00\x00", 4), "UCS-4LE", 4},
      {std::string("<\0?\0x\0m\0l\0 \0e\0n\0c\0o\0d\0i\0n\0g\0=\0'\0K\0'\0?\0>\0", 40), "K", 0},
      {std::string("\0\0\0<\0\0\0e\0\0\0n\0\0\0c\0\0\0o\0\0\0d\0\0\0i\0\0\0n\0\0\0g\0\0\0=\0\0\0\"\0\0\0Q\0\0\0\"\0\0\0>", 56),
       "Q", 0},
      // "<?xml encoding='E'?>" in EBCDIC
      {"\x4C\x6F\xA7\x94\x93\x40\x85\x95\x83\x96\x84\x89\x95\x87\x7E\x7D\xC5\x7D\x6F\x6E", "E", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Content);
    TMemoryStream s;
    s.WriteBuffer(c.Content.data(), static_cast<int64_t>(c.Content.size()));
    s.SetPosition(0);
    EXPECT_EQ(Text(DetectXmlCharset(&s)), c.Charset);
    EXPECT_EQ(s.Position(), c.Position);
  }
  EXPECT_EQ(DetectXmlCharset(nullptr), u"UTF-8");
}

TEST(HTTPXmlCharset, XmlBodiesSetTheCharsetAndTextXmlKeepsTheHeaders) {
  const std::string decl = "<?xml version='1.0' encoding='ISO-8859-1'?><a/>";
  const struct {
    const char* Type;
    const char* Charset;
  } cases[] = {
      {"application/xml; charset=utf-16", "ISO-8859-1"},
      {"application/atom+xml", "ISO-8859-1"},
      {"text/xml; charset=koi8-r", "koi8-r"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Type);
    TExchange x;
    x.Answer("HTTP/1.1 200 OK\r\nContent-Type: " + std::string(c.Type) +
                 "\r\nContent-Length: " + std::to_string(decl.size()) + "\r\n\r\n" + decl,
             7);
    // A stream that cannot be read back gets the collected body in one piece at the end.
    TIdEventStream sink;
    std::string got;
    int writes = 0;
    sink.OnWrite = [&](TIdBytesView ABuffer, int AOffset, int ACount, int& VResult) {
      got.append(ABuffer.begin() + AOffset, ABuffer.begin() + AOffset + ACount);
      ++writes;
      VResult = ACount;
    };
    x.http.Get(u"http://h.test/", &sink);
    EXPECT_EQ(Text(x.http.Response().CharSet()), c.Charset);
    EXPECT_EQ(got, decl);
    if (std::string(c.Type).rfind("text/", 0) != 0) {
      EXPECT_EQ(writes, 1);
    }
  }
}

TEST(HTTPXmlCharset, HtmlMetaCharsetIsTaken) {
  TExchange x;
  const std::string page = "<html><head><meta charset=\"windows-1251\"></head></html>";
  x.Answer("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(page.size()) +
           "\r\n\r\n" + page);
  TRecordingStream body;
  x.http.Get(u"http://h.test/", &body);
  EXPECT_EQ(x.http.Response().CharSet(), u"windows-1251");
  EXPECT_EQ(body.Text(), page);
}

// ---- Decompression --------------------------------------------------------------------------------

// Stands in for a zlib inflater: checks the zlib header and copies what follows.
class TCopyInflater : public TIdZLibCompressorBase {
public:
  void InflateStream(TStream& AInStream, TStream& AOutStream) override {
    uint8_t header[2];
    AInStream.ReadBuffer(header, 2);
    EXPECT_EQ(header[0], 0x78);
    EXPECT_EQ((header[0] * 256 + header[1]) % 31, 0);
    const int64_t rest = AInStream.Size() - AInStream.Position();
    if (rest > 0) AOutStream.CopyFrom(AInStream, rest);
  }
  void DeflateStream(TStream&, TStream&, TIdCompressionLevel) override {}
  void CompressStream(TStream&, TStream&, TIdCompressionLevel, int32_t, int32_t, int32_t) override {}
  void DecompressStream(TStream&, TStream&, int32_t) override {}
  void CompressFTPToIO(TStream&, TIdIOHandler&, TIdCompressionLevel, int32_t, int32_t, int32_t) override {}
  void DecompressFTPFromIO(TIdIOHandler&, TStream&, int32_t) override {}
};

TEST(HTTPCompression, CompressedBodiesGoThroughTheCompressor) {
  // gzip: ID1 ID2 CM FLG(FNAME) MTIME(4) XFL OS, the name, the data, CRC and length.
  const std::string gzip = std::string("\x1F\x8B\x08\x08\0\0\0\0\0\x03", 10) + std::string("n.txt\0", 6) +
                           "DATA" + std::string(8, '\x7F');
  const struct {
    const char* Coding;
    std::string Body;
  } cases[] = {{"gzip", gzip}, {"deflate", "\x78\x9C" "DATA"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Coding);
    TExchange x;
    TCopyInflater inflater;
    x.http.SetCompressor(&inflater);
    x.Answer("HTTP/1.1 200 OK\r\nContent-Encoding: " + std::string(c.Coding) +
             "\r\nContent-Length: " + std::to_string(c.Body.size()) + "\r\n\r\n" + c.Body);
    TRecordingStream body;
    x.http.Get(u"http://h.test/", &body);
    EXPECT_EQ(body.Text(), "DATA");
    EXPECT_NE(x.Sent().find("\r\nAccept-Encoding: deflate, gzip, identity\r\n"), std::string::npos) << x.Sent();
  }
  // Without a compressor the body arrives as sent and nothing is offered.
  TExchange x;
  x.Answer("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: " + std::to_string(gzip.size()) +
           "\r\n\r\n" + gzip);
  TRecordingStream body;
  x.http.Get(u"http://h.test/", &body);
  EXPECT_EQ(body.Text(), gzip);
  EXPECT_EQ(x.Sent().find("Accept-Encoding"), std::string::npos);
}

TEST(HTTPCompression, FreedCompressorIsForgotten) {
  TIdHTTP http;
  {
    TCopyInflater inflater;
    http.SetCompressor(&inflater);
    EXPECT_EQ(http.Compressor(), &inflater);
  }
  EXPECT_EQ(http.Compressor(), nullptr);
}

TEST(HTTPCompression, HTTPDeflateChecksTheZlibHeader) {
  TCopyInflater inflater;
  TMemoryStream in, out;
  in.WriteBuffer("\x78\x9C" "abc", 5);
  in.SetPosition(0);
  inflater.DecompressHTTPDeflate(in, out);
  EXPECT_EQ(std::string(out.Bytes().begin(), out.Bytes().end()), "abc");
  EXPECT_EQ(in.Position(), 0);
  TMemoryStream bad;
  bad.WriteBuffer("\x78\x9D", 2);
  bad.SetPosition(0);
  try {
    inflater.DecompressHTTPDeflate(bad, out);
    ADD_FAILURE() << "no error";
  } catch (const EIdException& e) {
    EXPECT_EQ(e.Message(), u"Error - invalid header");
  }
}

}  // namespace
}  // namespace vyn

namespace vyn {
namespace {

TEST(HTTPMultipartPost, FormGoesOutWithItsBoundary) {
  TExchange x;
  x.Answer("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  TIdMultiPartFormDataStream form;
  form.AddFormField(u"na\"me", u"\u00e9");
  TStringStream file(u"X\r\nY");
  form.AddFile(u"f", u"a.txt", u"text/plain", file);
  const std::string b = Text(form.Boundary());
  const std::string body = "--" + b + "\r\nContent-Disposition: form-data; name=\"na%22me\"\r\n"
                           "Content-Type: text/plain; charset=utf-8\r\n\r\n\xC3\xA9\r\n"
                           "--" + b + "\r\nContent-Disposition: form-data; name=\"f\"; filename=\"a.txt\"\r\n"
                           "Content-Type: text/plain\r\n\r\nX\r\nY\r\n--" + b + "--\r\n";
  x.http.Post(u"http://h.test/up", &form);
  const std::string sent = x.Sent();
  EXPECT_NE(sent.find("\r\nContent-Type: multipart/form-data; boundary=" + b + "\r\n"), std::string::npos) << sent;
  EXPECT_NE(sent.find("\r\nContent-Length: " + std::to_string(body.size()) + "\r\n"), std::string::npos) << sent;
  EXPECT_EQ(sent.substr(sent.size() - body.size()), body);
  EXPECT_THROW(x.http.Post(u"http://h.test/up", static_cast<TIdMultiPartFormDataStream*>(nullptr)), EIdException);
}

}  // namespace
}  // namespace vyn

namespace vyn {
namespace {

// The redirect decision: which method and body the next request gets, and where the
// call ends.
TEST(HTTPRedirects, MethodAndBodyFollowTheStatus) {
  const struct {
    const char* Status;
    bool Treat302Like303;
    std::string Next;  // the second request up to its Host line
  } cases[] = {
      {"303 See Other", false, "GET /b HTTP/1.0\r\nConnection: keep-alive\r\n"},
      {"307 Temporary Redirect", false, "POST /b HTTP/1.0\r\nConnection: keep-alive\r\nContent-Length: 3\r\n"},
      {"302 Found", false, "POST /b HTTP/1.0\r\nConnection: keep-alive\r\nContent-Length: 3\r\n"},
      {"302 Found", true, "GET /b HTTP/1.0\r\nConnection: keep-alive\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Status) + (c.Treat302Like303 ? " like 303" : ""));
    TExchange x;
    x.http.SetHandleRedirects(true);
    if (c.Treat302Like303) x.http.SetHTTPOptions(x.http.HTTPOptions() + TIdHTTPOptions{hoTreat302Like303});
    x.Answer(std::string("HTTP/1.1 ") + c.Status + "\r\nLocation: b\r\nContent-Length: 0\r\n\r\n");
    x.Answer("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    TStringStream source(u"abc");
    EXPECT_EQ(x.http.Post(u"http://h.test/a", &source), u"ok");
    const std::string sent = x.Sent();
    const std::string second = sent.substr(sent.find("\r\n\r\nabc") + 7);
    EXPECT_EQ(second.substr(0, second.find("Host:")), c.Next);
    const bool resent = c.Next.find("Content-Length: 3") != std::string::npos;
    EXPECT_EQ(second.substr(second.size() - 3) == "abc", resent);
  }
}

TEST(HTTPRedirects, TheLimitOrAHandlerEndsTheCallWithTheRedirect) {
  TExchange x;
  x.http.SetHandleRedirects(true);
  x.http.SetRedirectMaximum(3);
  for (int i = 0; i < 3; ++i) x.Answer("HTTP/1.1 301 Moved\r\nLocation: /loop\r\nContent-Length: 1\r\n\r\nx");
  TMemoryStream body;
  x.http.Get(u"http://h.test/", &body);
  EXPECT_EQ(x.http.RedirectCount(), 3);
  EXPECT_EQ(x.http.ResponseCode(), 301);
  EXPECT_EQ(x.http.Response().Location(), u"/loop");
  EXPECT_EQ(body.Size(), 0);
  EXPECT_EQ(x.io.Sends().size(), 3u);

  TExchange y;
  String seen;
  y.http.OnRedirect = [&](TObject*, String& dest, int& NumRedirect, bool& Handled, String& VMethod) {
    seen = dest + u" " + VMethod + u" " + IntToStr(NumRedirect);
    Handled = true;
  };
  y.Answer("HTTP/1.1 302 Found\r\nLocation: /there\r\nContent-Length: 4\r\n\r\nbody");
  TMemoryStream none;
  y.http.Get(u"http://h.test/", &none);
  EXPECT_EQ(seen, u"/there GET 1");
  EXPECT_EQ(none.Size(), 0);
  EXPECT_EQ(y.io.Pending(), 0);
}

}  // namespace
}  // namespace vyn

namespace vyn {
namespace {

TEST(HTTPBodyFraming, AnnouncedLengthIsNotTrustedForMemory) {
  // An error answer is collected in memory: a length far beyond what comes must not
  // be reserved up front.
  TExchange x;
  x.Answer("HTTP/1.1 404 Not Found\r\nContent-Length: 100000000000\r\n\r\nabc");
  x.io.ClosePeer();
  try {
    x.http.Get(u"http://h.test/");
    ADD_FAILURE() << "no error";
  } catch (const EIdHTTPProtocolException& e) {
    EXPECT_EQ(e.ErrorMessage(), u"abc");
  }
}

}  // namespace
}  // namespace vyn
