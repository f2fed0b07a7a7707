// The HTTP client component against hostile servers: each case is one malformed or
// abusive answer from a scripted loopback peer, read both as an event stream (GetSSE)
// and as a plain GET into a memory stream. Every call must end within its read time-out
// with the library error the case calls for (or deliver exactly the body the framing
// allows), keep its memory bounded, and leave no socket or thread behind.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cctype>
#include <chrono>
#include <fstream>
#include <functional>
#include <string>

#include "vynHTTP.h"
#include "vynIdResourceStrings.h"
#include "vynScriptedPeer.h"

namespace vyn {
namespace {

using test::TScriptedPeer;

constexpr int kReadTimeout = 300;
// The longest any call may take: a few read time-outs, never a hang.
constexpr int64_t kMostMillis = 3000;
// How much the peak resident memory may grow during one case.
constexpr int64_t kMostGrowth = 64ll << 20;

const std::string ChunkedHead =
    "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nTransfer-Encoding: chunked\r\n\r\n";

// Every byte value in order, ASize bytes; without line feeds when ANoLineFeed.
std::string BinaryGarbage(size_t ASize, bool ANoLineFeed) {
  std::string s;
  for (unsigned b = 0; s.size() < ASize; b = (b + 1) % 256)
    if (!ANoLineFeed || b != '\n') s += static_cast<char>(b);
  return s;
}

std::string ManyHeaderLines(const char* AName, int ACount) {
  std::string s;
  for (int i = 0; i < ACount; ++i) s += std::string(AName) + std::to_string(i) + ": v\r\n";
  return s;
}

// What a TLS 1.2 server sends first: a ServerHello (random and session id free of line
// feeds), then ServerHelloDone; then it waits for the client's key exchange.
std::string TLSServerHello() {
  std::string hello = "\x02\x00\x00\x4d\x03\x03";
  for (int i = 0; i < 32; ++i) hello += static_cast<char>(0x30 + i);  // random
  hello += '\x20';
  for (int i = 0; i < 32; ++i) hello += static_cast<char>(0xA0 + i);  // session id
  hello += std::string("\xc0\x2f\x00\x00\x05\xff\x01\x00\x01\x00", 10);
  std::string records = std::string("\x16\x03\x03\x00", 4) + static_cast<char>(hello.size()) + hello;
  records += std::string("\x16\x03\x03\x00\x04\x0e\x00\x00\x00", 9);
  return records;
}

// A TLS server's answer to bytes that are no ClientHello: a fatal alert, then the close.
const std::string TLSAlert("\x15\x03\x03\x00\x02\x02\x32", 7);

// How a call is to end. Error is the class name (nullptr: the call returns normally);
// Code is the status of an EIdHTTPProtocolException or the number of an EIdSocketError.
struct TExpect {
  const char16_t* Error;
  String Message;
  std::string Body;  // what reached the stream or the handler, in order
  int Code = 0;
};

struct TCase {
  const char* Name;
  std::function<void(TScriptedPeer&)> Answer;  // the peer's steps after the request
  TExpect Expect;
  bool ReadsRequest = true;  // false: the steps start at once after the accept
  const char* Scheme = "http";
};

TExpect Ends(const char16_t* AError, String AMessage, std::string ABody = {}, int ACode = 0) {
  return {AError, std::move(AMessage), std::move(ABody), ACode};
}
TExpect Delivers(std::string ABody) { return {nullptr, String(), std::move(ABody)}; }

// The peer's reset, after ABody was delivered.
TExpect ResetAfter(std::string ABody) {
  return Ends(u"EIdSocketError", u"Socket Error # 10054\r\nConnection reset by peer.", std::move(ABody), 10054);
}

const TExpect ClosedGracefully = Ends(u"EIdConnClosedGracefully", RSConnectionClosedGracefully);
const TExpect TimedOut = Ends(u"EIdReadTimeout", RSReadTimeout);
const TExpect LineTooLong = Ends(u"EIdReadLnMaxLineLengthExceeded", RSReadLnMaxLineLengthExceeded);
const TExpect TooManyLines = Ends(u"EIdException", RSHTTPMaxHeaderLinesExceeded);

std::vector<TCase> Cases() {
  using P = TScriptedPeer;
  return {
      {"no status line, immediate close", [](P& p) { p.Close(); }, ClosedGracefully},
      {"no answer at all", [](P& p) { p.Pause(3000); }, TimedOut},
      {"a reset before the request is read", [](P& p) { p.Reset(); }, ResetAfter(""), false},
      {"binary garbage with line feeds instead of a status line",
       [](P& p) { p.Write(BinaryGarbage(4096, false)).Close(); },
       Ends(u"EIdHTTPProtocolException", String(u"\0\x01\x02\x03\x04\x05\x06\x07\x08\x09", 10), "", -1)},
      {"binary garbage without a line end", [](P& p) { p.Write(BinaryGarbage(64 * 1024, true)).Close(); },
       LineTooLong},
      {"a header line of 1 MB",
       [](P& p) { p.Write("HTTP/1.1 200 OK\r\nX-Big: " + std::string(1 << 20, 'a') + "\r\n\r\n").Close(); },
       LineTooLong},
      // Header and trailer lines are bounded by MaxHeaderLines (255), not by the memory.
      {"100000 header lines",
       [](P& p) {
         p.Write("HTTP/1.1 200 OK\r\n" + ManyHeaderLines("X-Line-", 100000) + "Content-Length: 2\r\n\r\nok").Close();
       },
       TooManyLines},
      {"255 header lines",
       [](P& p) {
         p.Write("HTTP/1.1 200 OK\r\n" + ManyHeaderLines("X-Line-", 254) + "Content-Length: 2\r\n\r\nok").Close();
       },
       Delivers("ok")},
      {"headers that never end, then silence",
       [](P& p) { p.Write("HTTP/1.1 200 OK\r\nX-A: b\r\n").Pause(3000); }, TimedOut},
      {"a reset in the middle of the headers",
       [](P& p) { p.Write("HTTP/1.1 200 OK\r\nX-A: b\r\n").Pause(50).Reset(); },
       ResetAfter("")},
      {"a reset in the middle of a body",
       [](P& p) { p.Write("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n\r\nabc").Pause(50).Reset(); },
       ResetAfter("abc")},
      {"a chunk size of FFFFFFFFFFFF", [](P& p) { p.Write(ChunkedHead + "FFFFFFFFFFFF\r\nabc").Close(); },
       Ends(u"EIdException", FormatInvariant(RSHTTPChunkSizeTooLarge, {u"FFFFFFFFFFFF"}))},
      // A claimed size is not reserved in the memory stream ahead of the bytes.
      {"a chunk size of 7FFFFFFF, 3 bytes, then close", [](P& p) { p.Write(ChunkedHead + "7FFFFFFF\r\nabc").Close(); },
       Ends(u"EIdConnClosedGracefully", RSConnectionClosedGracefully, "abc")},
      {"a chunk size line of endless hex digits",
       [](P& p) { p.Write(ChunkedHead + std::string(1 << 20, '1')).Close(); }, LineTooLong},
      {"a chunk size line of endless blanks",
       [](P& p) { p.Write(ChunkedHead + "5" + std::string(1 << 20, ' ')).Close(); }, LineTooLong},
      {"a chunk extension of 1 MB",
       [](P& p) { p.Write(ChunkedHead + "5;" + std::string(1 << 20, 'x') + "\r\nhello\r\n0\r\n\r\n").Close(); },
       LineTooLong},
      {"a close in the middle of a chunk", [](P& p) { p.Write(ChunkedHead + "2\r\nab\r\nA\r\nabc").Close(); },
       Ends(u"EIdConnClosedGracefully", RSConnectionClosedGracefully, "ababc")},
      {"trailers that never end",
       [](P& p) { p.Write(ChunkedHead + "2\r\nok\r\n0\r\n" + ManyHeaderLines("X-Trailer-", 100000)).Close(); },
       Ends(u"EIdException", RSHTTPMaxHeaderLinesExceeded, "ok")},
      {"trailers, then silence", [](P& p) { p.Write(ChunkedHead + "2\r\nok\r\n0\r\nX-T: 1\r\n").Pause(3000); },
       Ends(u"EIdReadTimeout", RSReadTimeout, "ok")},
      {"Content-Length 10, 5 bytes, then silence",
       [](P& p) { p.Write("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n12345").Pause(3000); },
       Ends(u"EIdReadTimeout", RSReadTimeout, "12345")},
      {"Content-Length 4611686018427387904, 5 bytes, then close",
       [](P& p) { p.Write("HTTP/1.1 200 OK\r\nContent-Length: 4611686018427387904\r\n\r\nhello").Close(); },
       Delivers("hello")},
      // A length that is no non-negative number is no length: the body runs to the close.
      {"Content-Length -1", [](P& p) { p.Write("HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\nhello").Close(); },
       Delivers("hello")},
      // Either length could cut the body short or run into the next answer.
      {"two different Content-Length headers",
       [](P& p) {
         p.Write("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 10\r\n\r\nhelloworld").Close();
       },
       Ends(u"EIdException", FormatInvariant(RSHTTPConflictingContentLength, {u"5, 10"}))},
      {"two different Content-Length headers, the first 0",
       [](P& p) {
         p.Write("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nContent-length: 5\r\n\r\nhello").Pause(3000);
       },
       Ends(u"EIdException", FormatInvariant(RSHTTPConflictingContentLength, {u"0, 5"}))},
      {"the same Content-Length twice",
       [](P& p) { p.Write("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 5\r\n\r\nhello").Close(); },
       Delivers("hello")},
      {"chunked framing wins over a Content-Length",
       [](P& p) {
         p.Write("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n")
             .Close();
       },
       Delivers("hello")},
      {"dates and ranges out of every range",
       [](P& p) {
         p.Write("HTTP/1.1 200 OK\r\nDate: 9999-99-99T99:99:99.999Z\r\nLast-Modified: Sun, 99 Foo 99999999999 99:99:99 "
                 "GMT\r\nExpires: 99999999999999999999\r\nContent-Range: bytes 99999999999999999999-x/y\r\n"
                 "Content-Length: 2\r\n\r\nok")
             .Close();
       },
       Delivers("ok")},
      {"status and headers ended by LF only",
       [](P& p) { p.Write("HTTP/1.1 200 OK\nContent-Length: 5\nConnection: close\n\nhello").Close(); },
       Delivers("hello")},
      {"a chunked body with LF-only lines",
       [](P& p) { p.Write("HTTP/1.1 200 OK\nTransfer-Encoding: chunked\n\n5\nhello\n3\nabc\n0\n\n").Close(); },
       Delivers("helloabc")},
      {"an error status with a body of 100 MB",
       [](P& p) {
         p.Write("HTTP/1.1 500 Internal Server Error\r\nContent-Type: text/plain\r\n\r\n")
             .WriteRepeated(std::string(1024, 'x'), 100 * 1024)
             .Close();
       },
       Ends(u"EIdHTTPProtocolException", u"HTTP/1.1 500 Internal Server Error", "", 500)},
      {"a huge status code",
       [](P& p) { p.Write("HTTP/1.1 99999999999999999999 OK\r\nContent-Length: 0\r\n\r\n").Close(); },
       Ends(u"EIdHTTPProtocolException", u"HTTP/1.1 99999999999999999999 OK", "", -1)},
      {"a negative status code", [](P& p) { p.Write("HTTP/1.1 -200 OK\r\nContent-Length: 0\r\n\r\n").Close(); },
       Ends(u"EIdHTTPProtocolException", u"HTTP/1.1 -200 OK", "", -200)},
      // Interim answers are passed over however many come (a server may send 102 for as
      // long as it works); each replaces the last, so memory stays bounded.
      {"2000 interim answers, then the answer",
       [](P& p) {
         p.WriteRepeated("HTTP/1.1 102 Processing\r\nX-Progress: 1\r\n\r\n", 2000)
             .Write("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok")
             .Close();
       },
       Delivers("ok")},
      {"interim answers, then silence",
       [](P& p) { p.WriteRepeated("HTTP/1.1 100 Continue\r\n\r\n", 100).Pause(3000); }, TimedOut},
      {"a plain port answering a TLS ServerHello", [](P& p) { p.Write(TLSServerHello()).Pause(3000); }, TimedOut},
      {"a plain port answering a TLS alert and closing", [](P& p) { p.Write(TLSAlert).Close(); }, ClosedGracefully},
      // A TLS port answering plain text: the peer answers the ClientHello at once.
      {"a TLS port answering plain text",
       [](P& p) { p.Write("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n").Close(); },
       Ends(u"EIdOSSLConnectError", u"Error connecting with SSL.\r\nerror:0A00010B:SSL routines::wrong version number"),
       false, "https"},
      {"a TLS port resetting in the handshake", [](P& p) { p.Reset(); }, ResetAfter(""), false, "https"},
      {"a TLS port closing in the handshake", [](P& p) { p.Close(); },
       Ends(u"EIdOSSLConnectError",
            u"Error connecting with SSL.\r\nerror:0A000126:SSL routines::unexpected eof while reading"),
       false, "https"},
  };
}

int64_t PeakResidentBytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::stoll(line.substr(6)) * 1024;
  return 0;
}

int64_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  int64_t size = 0, resident = 0;
  statm >> size >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

// Starts a new peak: the kernel sets the high-water mark back to the current size.
void ResetPeakResident() { std::ofstream("/proc/self/clear_refs") << "5"; }

struct TOutcome {
  String Error;  // class name; empty when the call returned normally
  String Message;
  int Code = 0;
  std::string Body;
  int64_t Millis = 0;
};

std::string BytesOf(const String& AText) {
  std::string s;
  for (char16_t c : AText) s += static_cast<char>(c);
  return s;
}

TOutcome RunCase(const TCase& ACase, bool AEventStream) {
  TOutcome out;
  TScriptedPeer peer;
  if (ACase.ReadsRequest) peer.ReadUntil("\r\n\r\n");
  ACase.Answer(peer);
  peer.StepTimeout(2000).Start();
  const String url = FromUtf8(std::string(ACase.Scheme) + "://127.0.0.1:" + std::to_string(peer.Port()) + "/hostile");
  const auto start = std::chrono::steady_clock::now();
  {
    TvynHTTP1Client client;
    client.SetReadTimeout(kReadTimeout);
    TMemoryStream content;
    client.OnSSEMessage = [&](TObject*, const String& aMessage, bool&) { out.Body += BytesOf(aMessage); };
    try {
      if (AEventStream)
        client.GetSSE(url, u"UTF-8");
      else
        client.Get(url, &content);
    } catch (const EIdException& E) {
      out.Error = E.ClassName();
      out.Message = E.Message();
      if (auto protocol = dynamic_cast<const EIdHTTPProtocolException*>(&E)) out.Code = protocol->ErrorCode();
      if (auto socket = dynamic_cast<const EIdSocketError*>(&E)) out.Code = socket->LastError();
    } catch (const std::exception& E) {
      out.Error = u"(not a library error) " + FromUtf8(E.what());
    }
    if (!AEventStream) out.Body.assign(reinterpret_cast<const char*>(content.Memory()), content.Size());
  }
  out.Millis = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  peer.Stop();
  return out;
}

// One test per case and way of reading it: the case's index and whether GetSSE reads it.
class HostileServer : public testing::TestWithParam<std::tuple<size_t, bool>> {};

TEST_P(HostileServer, EndsWithItsErrorInTimeBoundedAndWithoutLeaks) {
  const TCase c = Cases()[std::get<0>(GetParam())];
  const bool eventStream = std::get<1>(GetParam());
  SCOPED_TRACE(c.Name);
  // GetSSE ends quietly where the stream was closed; every other error reaches it.
  TExpect expect = c.Expect;
  if (eventStream && expect.Error && String(expect.Error) == u"EIdConnClosedGracefully") expect.Error = nullptr;

  const int fds = test::OpenFileDescriptorCount();
  const int threads = test::ThreadCount();
  const int64_t resident = ResidentBytes();
  ResetPeakResident();
  const TOutcome got = RunCase(c, eventStream);

  EXPECT_EQ(ToUtf8(got.Error), expect.Error ? ToUtf8(expect.Error) : "");
  if (expect.Error) {
    EXPECT_EQ(ToUtf8(got.Message), ToUtf8(expect.Message));
    EXPECT_EQ(got.Code, expect.Code);
  }
  EXPECT_EQ(got.Body, expect.Body);
  EXPECT_LT(got.Millis, kMostMillis);
  EXPECT_LT(PeakResidentBytes() - resident, kMostGrowth);
  EXPECT_EQ(test::OpenFileDescriptorCount(), fds);
  EXPECT_EQ(test::ThreadCount(), threads);
}

// "A chunk size of FFFFFFFFFFFF" becomes ChunkSizeOfFFFFFFFFFFFF_GetSSE.
std::string TestName(const testing::TestParamInfo<std::tuple<size_t, bool>>& AInfo) {
  std::string name;
  bool upper = true;
  for (const char ch : std::string(Cases()[std::get<0>(AInfo.param)].Name)) {
    if (std::isalnum(static_cast<unsigned char>(ch))) {
      name += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(ch))) : ch;
      upper = false;
    } else {
      upper = true;
    }
  }
  return name + (std::get<1>(AInfo.param) ? "_GetSSE" : "_Get");
}

INSTANTIATE_TEST_SUITE_P(Answers, HostileServer,
                         testing::Combine(testing::Range<size_t>(0, Cases().size()), testing::Bool()), TestName);

// An error page keeps its first mebibyte for the message: one of exactly that length
// whole, a longer one cut there rather than read on.
TEST(HostileServerErrorBody, KeepsTheFirstMebibyteForTheMessage) {
  const std::string piece = "0123456789abcdef";
  for (const bool longer : {false, true}) {
    SCOPED_TRACE(longer ? "longer" : "exactly 1 MiB");
    TScriptedPeer peer;
    peer.ReadUntil("\r\n\r\n");
    if (longer)
      peer.Write("HTTP/1.1 500 Internal Server Error\r\n\r\n").WriteRepeated(piece, 200000);
    else
      peer.Write("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 1048576\r\n\r\n").WriteRepeated(piece, 65536);
    peer.Close().Start();
    TvynHTTP1Client client;
    client.SetReadTimeout(kReadTimeout);
    TMemoryStream content;
    try {
      client.Get(FromUtf8("http://127.0.0.1:" + std::to_string(peer.Port()) + "/"), &content);
      ADD_FAILURE() << "no error";
    } catch (const EIdHTTPProtocolException& E) {
      EXPECT_EQ(E.ErrorCode(), 500);
      ASSERT_EQ(E.ErrorMessage().size(), size_t{1} << 20);
      EXPECT_EQ(BytesOf(E.ErrorMessage().substr(0, 32)), piece + piece);
      EXPECT_EQ(BytesOf(E.ErrorMessage().substr((1 << 20) - 16)), piece);
    }
    EXPECT_EQ(content.Size(), 0);
  }
}

}  // namespace
}  // namespace vyn
