#include "vynIdIOHandler.h"

#include <gtest/gtest.h>

#include "vynIdResourceStrings.h"
#include "vynIdStack.h"
#include "vynTestIOHandler.h"
#include "vynRecordingStream.h"

namespace vyn {
namespace {

using test::Bytes;
using test::TTestIOHandler;

std::string Str(const TIdBytes& ABytes) { return std::string(ABytes.begin(), ABytes.end()); }

using test::TRecordingStream;

struct TOpenHandler : TTestIOHandler {
  TOpenHandler() { Open(); }
};

// ---- Lines --------------------------------------------------------------------------------

struct TLineCase {
  std::vector<std::string_view> Segments;
  int Split;
  String Terminator;
  std::vector<String> Lines;
};

TEST(IOHandlerReadLn, LinesComeOutWhateverTheSplit) {
  const TLineCase cases[] = {
      {{"A\r\n"}, 0, u"", {u"A"}},
      {{"A\n"}, 0, u"", {u"A"}},
      {{"A\r\n"}, 0, u"\r\n", {u"A"}},
      {{"\r\n"}, 0, u"", {u""}},
      {{"Hello\r\nWorld\nEnd\r\n"}, 1, u"", {u"Hello", u"World", u"End"}},
      {{"AB\r", "\nC\r\n"}, 0, u"\r\n", {u"AB", u"C"}},
      {{"x;y;", "z;"}, 1, u";", {u"x", u"y", u"z"}},
      // A CR is dropped only before a lone LF terminator.
      {{"A\r;"}, 0, u";", {u"A\r"}},
  };
  for (const auto& c : cases) {
    TOpenHandler h;
    for (auto s : c.Segments) h.AddSegment(s);
    h.SetSplit(c.Split);
    for (const auto& want : c.Lines) {
      EXPECT_EQ(h.ReadLn(c.Terminator), want) << "first segment: " << c.Segments[0];
      EXPECT_FALSE(h.ReadLnTimedout());
    }
    EXPECT_TRUE(h.InputBufferIsEmpty());
  }
}

TEST(IOHandlerReadLn, MaxLineLengthRaisesOrSplits) {
  {
    TOpenHandler h;
    h.SetMaxLineLength(4);
    h.AddSegment("AAAAA\n");
    try {
      h.ReadLn();
      FAIL() << "no error";
    } catch (const EIdReadLnMaxLineLengthExceeded& e) {
      EXPECT_EQ(e.Message(), RSReadLnMaxLineLengthExceeded);
    }
    EXPECT_EQ(h.InputBuffer()->Size(), 6);  // the bytes stay buffered
  }
  {
    TOpenHandler h;
    h.SetMaxLineLength(4);
    h.SetMaxLineAction(maSplit);
    h.AddSegment("AAAAA\n");
    EXPECT_EQ(h.ReadLn(), u"AAAA");
    EXPECT_TRUE(h.ReadLnSplit());
    EXPECT_EQ(h.ReadLn(), u"A");
    EXPECT_FALSE(h.ReadLnSplit());
  }
  {
    // A line exactly at the limit is fine, also when it arrives one byte at a time.
    TOpenHandler h;
    h.SetMaxLineLength(4);
    h.SetSplit(1);
    h.AddSegment("AAAA\n");
    EXPECT_EQ(h.ReadLn(), u"AAAA");
  }
  {
    // ReadLnSplit splits for this call only, and restores the action also on error.
    TOpenHandler h;
    h.SetMaxLineLength(2);
    h.AddSegment("ABC\n");
    bool split = false;
    EXPECT_EQ(h.ReadLnSplit(split), u"AB");
    EXPECT_TRUE(split);
    EXPECT_EQ(h.MaxLineAction(), maException);
    h.ClosePeer();
    EXPECT_EQ(h.ReadLnSplit(split), u"C");
    EXPECT_THROW(h.ReadLnSplit(split), EIdConnClosedGracefully);
    EXPECT_EQ(h.MaxLineAction(), maException);
  }
}

TEST(IOHandlerReadLn, SilencePeerCloseAndFailures) {
  {
    TOpenHandler h;  // silent peer
    h.AddSegment("partial");
    EXPECT_EQ(h.ReadLn(u"\n", 100), u"");
    EXPECT_TRUE(h.ReadLnTimedout());
    EXPECT_EQ(h.InputBuffer()->Size(), 7);
    EXPECT_THROW(h.ReadLnWait(), EIdReadTimeout);
  }
  {
    // The peer's close while a line is awaited.
    TOpenHandler h;
    h.AddSegment("done\npart");
    h.ClosePeer();
    EXPECT_EQ(h.ReadLn(), u"done");
    try {
      h.ReadLn();
      FAIL() << "no error";
    } catch (const EIdConnClosedGracefully& e) {
      EXPECT_EQ(e.Message(), RSConnectionClosedGracefully);
    }
    EXPECT_TRUE(h.ClosedGracefully());
  }
  {
    // Blank lines are skipped; AFailCount of them end the wait.
    TOpenHandler h;
    h.AddSegment("\r\n  \r\nreply\r\n\r\n\r\n");
    EXPECT_EQ(h.ReadLnWait(), u"reply");
    EXPECT_THROW(h.ReadLnWait(2), EIdReadLnWaitMaxAttemptsExceeded);
  }
}

// Every receive failure point is reached once: the line comes through when no receive
// fails, and a failing receive surfaces as the socket error without losing bytes.
TEST(IOHandlerReadLn, EveryReceiveFailurePoint) {
  for (int n = 0;; ++n) {
    TOpenHandler h;
    h.SetSplit(3);
    h.AddSegment("first line\r\n");
    h.FailRead(n, 10054);
    try {
      EXPECT_EQ(h.ReadLn(), u"first line");
      EXPECT_GE(n, h.ReceiveCalls());
      break;
    } catch (const EIdSocketError& e) {
      EXPECT_EQ(e.LastError(), 10054);
      EXPECT_EQ(h.InputBuffer()->Size(), 3 * n);
      EXPECT_FALSE(h.ClosedGracefully());  // a raised failure neither marks nor closes
      EXPECT_TRUE(h.TransportOpen());
    }
    ASSERT_LT(n, 10);
  }
}

TEST(IOHandlerFillInputBuffer, FailureResultsByCode) {
  {
    // A peer-gone code reported as a result closes the handler; with nothing buffered
    // the socket error is raised.
    TOpenHandler h;
    h.FailRead(0, 10054, TTestIOHandler::fmResult);
    try {
      h.ReadLn();
      FAIL() << "no error";
    } catch (const EIdSocketError& e) {
      EXPECT_EQ(e.LastError(), 10054);
      EXPECT_NE(e.Message().find(u"Connection reset by peer."), String::npos);
    }
    EXPECT_TRUE(h.ClosedGracefully());
    EXPECT_FALSE(h.TransportOpen());
  }
  {
    // With input buffered the close is not an error yet: the bytes can still be read.
    TOpenHandler h;
    h.AddSegment("AB");
    h.FailRead(1, 10053, TTestIOHandler::fmResult);
    EXPECT_EQ(h.FillInputBuffer(), 2);
    EXPECT_EQ(h.FillInputBuffer(), 0);
    EXPECT_EQ(h.ReadString(2), u"AB");
    EXPECT_FALSE(h.Connected());
  }
  {
    // The time-out code is a time-out: -1 or EIdReadTimeout, the handler stays open.
    TOpenHandler h;
    h.FailRead(0, 10060, TTestIOHandler::fmResult);
    h.FailRead(1, 10060, TTestIOHandler::fmResult);
    EXPECT_EQ(h.FillInputBuffer(true, TimeoutUseDefault, false), -1);
    EXPECT_THROW(h.FillInputBuffer(true, TimeoutUseDefault, true), EIdReadTimeout);
    EXPECT_TRUE(h.TransportOpen());
  }
  {
    // Any other code is raised at once and changes nothing.
    TOpenHandler h;
    h.FailRead(0, 10022, TTestIOHandler::fmResult);
    EXPECT_THROW(h.FillInputBuffer(), EIdSocketError);
    EXPECT_FALSE(h.ClosedGracefully());
  }
  {
    // Without a transport (never opened, or closed by a disconnect) a read finds the
    // connection gone.
    TTestIOHandler h;
    EXPECT_THROW(h.FillInputBuffer(), EIdConnClosedGracefully);
    EXPECT_EQ(h.FillInputBuffer(false), 0);
    h.Open();
    h.Close();
    EXPECT_THROW(h.ReadLn(), EIdConnClosedGracefully);
  }
}

TEST(IOHandlerFillInputBuffer, TimeoutsAsPassedToTheTransport) {
  struct TCase {
    int ReadTimeout, Passed, Seen;
  } cases[] = {
      {-1, TimeoutUseDefault, TimeoutInfinite}, {0, TimeoutUseDefault, TimeoutInfinite},
      {250, TimeoutUseDefault, 250},           {250, 40, 40},
      {250, 0, 0},                             {250, TimeoutInfinite, TimeoutInfinite},
  };
  for (const auto& c : cases) {
    TOpenHandler h;
    h.SetReadTimeout(c.ReadTimeout);
    EXPECT_EQ(h.FillInputBuffer(true, c.Passed, false), -1);
    EXPECT_EQ(h.LastReadableTimeout(), c.Seen) << c.ReadTimeout << " " << c.Passed;
  }
}

// ---- Counted reads ------------------------------------------------------------------------

TEST(IOHandlerReadBytes, CountedBlocksAndTheClose) {
  {
    TOpenHandler h;
    h.SetSplit(1);
    h.AddSegment("12345678");
    h.ClosePeer();
    TIdBytes got;
    h.ReadBytes(got, 8);
    EXPECT_EQ(Str(got), "12345678");
  }
  {
    TOpenHandler h;
    h.AddSegment("1234");
    h.ClosePeer();
    TIdBytes got;
    EXPECT_THROW(h.ReadBytes(got, 10), EIdConnClosedGracefully);
    EXPECT_TRUE(got.empty());
    EXPECT_EQ(h.InputBuffer()->Size(), 4);
  }
  {
    // Negative: what one receive brings, appended or overwriting.
    TOpenHandler h;
    h.AddSegments({"abc", "de"});
    TIdBytes got = Bytes("x");
    h.ReadBytes(got, -1);
    EXPECT_EQ(Str(got), "xabc");
    h.ReadBytes(got, -1, false);
    EXPECT_EQ(Str(got), "debc");
  }
  {
    TOpenHandler h;
    h.AddSegment(TIdBytes{0x01, 0x02, 0xFF, 0xFE, 0x00, 0x00, 0x01, 0x00, 0x80, 0, 0, 0, 0, 0, 0, 1});
    EXPECT_EQ(h.ReadUInt16(), 0x0102);
    EXPECT_EQ(h.ReadInt16(), -2);
    EXPECT_EQ(h.ReadUInt32(), 0x100u);
    EXPECT_EQ(h.ReadUInt64(), 0x8000000000000001ull);
  }
}

TEST(IOHandlerReadChar, MultiByteCharacterOneByteAtATime) {
  TOpenHandler h;
  h.SetSplit(1);
  h.AddSegment("\xE2\x82\xAC" "A\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF");
  EXPECT_EQ(h.ReadChar(EncodingUTF8()), u'\x20AC');
  EXPECT_EQ(h.ReadChar(EncodingUTF8()), u'A');
  EXPECT_THROW(h.ReadChar(EncodingUTF8()), EIdException);  // never a character
}

TEST(IOHandlerReadStream, CountedSizePrefixedAndUntilClose) {
  {
    TOpenHandler h;
    h.AddSegment("abcd");
    h.ClosePeer();
    TRecordingStream s;
    EXPECT_THROW(h.ReadStream(&s, 10), EIdConnClosedGracefully);
    EXPECT_EQ(s.Text(), "abcd");  // no room left for the bytes that never came
  }
  {
    // A count the peer does not keep is not reserved up front.
    TOpenHandler h;
    h.AddSegment("abc");
    h.ClosePeer();
    TRecordingStream s;
    EXPECT_THROW(h.ReadStream(&s, int64_t(1) << 40), EIdConnClosedGracefully);
    EXPECT_EQ(s.Text(), "abc");
    EXPECT_EQ(s.Size(), 3);
  }
  {
    // One stream write per receive (plus one for what was buffered before).
    TOpenHandler h;
    h.AddSegments({"head", "one", "two", "three"});
    h.ClosePeer();
    h.FillInputBuffer();
    TRecordingStream s;
    h.ReadStream(&s, -1, true);
    EXPECT_EQ(s.Text(), "headonetwothree");
    EXPECT_EQ(s.Writes, (std::vector<int64_t>{4, 3, 3, 5}));
    EXPECT_EQ(s.Size(), s.Position());
  }
  {
    // A count stops exactly there; the rest stays buffered.
    TOpenHandler h;
    h.AddSegments({"0123456789AB"});
    TRecordingStream s;
    h.ReadStream(&s, 10);
    EXPECT_EQ(s.Text(), "0123456789");
    EXPECT_EQ(h.InputBuffer()->Size(), 2);
  }
  {
    // Size prefixes: 32-bit, 64-bit with LargeStream, and negative means until close.
    TOpenHandler h;
    h.AddSegment(TIdBytes{0, 0, 0, 2, 'h', 'i'});
    h.AddSegment(TIdBytes{0, 0, 0, 0, 0, 0, 0, 3, 'a', 'b', 'c'});
    h.AddSegment(TIdBytes{0xFF, 0xFF, 0xFF, 0xFF, 'r', 'e', 's', 't'});
    h.ClosePeer();
    TRecordingStream a, b, c;
    h.ReadStream(&a);
    h.SetLargeStream(true);
    h.ReadStream(&b);
    h.SetLargeStream(false);
    h.ReadStream(&c);
    EXPECT_EQ(a.Text(), "hi");
    EXPECT_EQ(b.Text(), "abc");
    EXPECT_EQ(c.Text(), "rest");
  }
  {
    // Without a stream the bytes are dropped.
    TOpenHandler h;
    h.AddSegment("0123456789");
    h.ReadStream(nullptr, 7);
    EXPECT_EQ(h.InputBufferAsString(), u"789");
  }
}

TEST(IOHandlerDiscard, DiscardAndDiscardAll) {
  {
    TOpenHandler h;
    h.SetSplit(2);
    h.AddSegment("0123456789");
    h.Discard(5);
    EXPECT_EQ(h.ReadString(5), u"56789");
  }
  {
    TOpenHandler h;
    h.AddSegment("0123");
    h.ClosePeer();
    EXPECT_THROW(h.Discard(5), EIdConnClosedGracefully);
  }
  {
    TOpenHandler h;
    h.AddSegments({"a", "b", "c"});
    h.ClosePeer();
    h.DiscardAll();
    EXPECT_TRUE(h.InputBufferIsEmpty());
    EXPECT_EQ(h.ReceiveCalls(), 4);
  }
  {
    TOpenHandler h;
    h.AddSegments({"a"});
    h.FailRead(1, 10022);
    EXPECT_THROW(h.DiscardAll(), EIdSocketError);
    EXPECT_TRUE(h.InputBufferIsEmpty());
  }
}

TEST(IOHandlerRead, AllDataWaitForAndCapture) {
  {
    TOpenHandler h;
    h.AddSegments({"all ", "of ", "it"});
    h.ClosePeer();
    EXPECT_EQ(h.AllData(), u"all of it");
  }
  {
    TOpenHandler h;
    h.SetSplit(1);
    h.AddSegment("abc--def--ghi--");
    EXPECT_EQ(h.WaitFor(u"--"), u"abc");
    EXPECT_EQ(h.WaitFor(u"--", true, true), u"def--");
    EXPECT_EQ(h.WaitFor(u"--", false, true), u"ghi--");
    EXPECT_EQ(h.InputBufferAsString(), u"--");
  }
  {
    TOpenHandler h;
    h.AddSegment("one\r\n..two\r\n.three\r\n.\r\nafter\r\n");
    TStringList lines;
    int count = -1;
    h.Capture(lines, count);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(lines.Text(), u"one\r\n.two\r\n.three\r\n");
    EXPECT_EQ(h.ReadLn(), u"after");
  }
  {
    TOpenHandler h;
    h.AddSegment("a\r\n..b\r\n.\r\n");
    TRecordingStream s;
    h.Capture(s, u".", false);
    EXPECT_EQ(s.Text(), "a\r\n..b\r\n");
  }
  {
    // MaxCapturedLines lines are allowed, one more is an error.
    for (int lines : {3, 4}) {
      TOpenHandler h;
      h.SetMaxCapturedLines(3);
      std::string text;
      for (int i = 0; i < lines; ++i) text += "l\r\n";
      h.AddSegment(text + ".\r\n");
      TStringList dest;
      if (lines == 3)
        EXPECT_NO_THROW(h.Capture(dest));
      else
        EXPECT_THROW(h.Capture(dest), EIdMaxCaptureLineExceeded);
    }
  }
  {
    TOpenHandler h;
    int count;
    TIdBuffer notADestination;
    EXPECT_THROW(h.CaptureLines(&notADestination, count), EIdObjectTypeNotSupported);
  }
}

// ---- Writing -------------------------------------------------------------------------------

TEST(IOHandlerWrite, LinesNumbersAndStrings) {
  TOpenHandler h;
  h.WriteLn(u"GET");
  ASSERT_EQ(h.Sends().size(), 1u);
  EXPECT_EQ(Str(h.Sends()[0]), "GET\r\n");
  h.Write(u"caf\u00E9");  // the default encoding is ASCII
  EXPECT_EQ(Str(h.Sends()[1]), "caf?");
  h.Write(u"\u00E9", EncodingUTF8());
  EXPECT_EQ(h.Sends()[2], (TIdBytes{0xC3, 0xA9}));
  h.Write(uint32_t(0x01020304));
  EXPECT_EQ(h.Sends()[3], (TIdBytes{1, 2, 3, 4}));
  h.Write(int16_t(-2));
  EXPECT_EQ(h.Sends()[4], (TIdBytes{0xFF, 0xFE}));
  h.Write(uint16_t(0x0102), false);
  EXPECT_EQ(h.Sends()[5], BytesFromNumber(uint16_t(0x0102)));
  h.WriteLnRFC(u".hidden");
  EXPECT_EQ(Str(h.Sends()[6]), "..hidden\r\n");
  h.Write(String());
  EXPECT_EQ(h.Sends().size(), 7u);
  TStringList list;
  list.Add(u"a");
  list.Add(u"b");
  h.Write(list, true);  // in one piece
  EXPECT_EQ(h.Sends()[7], (TIdBytes{0, 0, 0, 2, 'a', '\r', '\n', 'b', '\r', '\n'}));
  EXPECT_FALSE(h.WriteBufferingActive());
}

TEST(IOHandlerWrite, BufferingThresholdFlushCloseCancel) {
  TOpenHandler h;
  h.WriteBufferOpen(30);
  h.Write(TIdBytes(100, 'x'));
  ASSERT_EQ(h.Sends().size(), 3u);
  for (const auto& s : h.Sends()) EXPECT_EQ(s.size(), 30u);
  h.WriteBufferClose();
  ASSERT_EQ(h.Sends().size(), 4u);
  EXPECT_EQ(h.Sends()[3].size(), 10u);
  EXPECT_FALSE(h.WriteBufferingActive());

  h.WriteBufferOpen();
  h.Write(u"abc");
  h.Write(u"def");
  EXPECT_EQ(h.Sends().size(), 4u);
  h.WriteBufferFlush(2);
  EXPECT_EQ(Str(h.Sends()[4]), "ab");
  h.WriteBufferCancel();
  EXPECT_EQ(h.Sends().size(), 5u);
  EXPECT_FALSE(h.WriteBufferingActive());

  // A flush that fails still drops the write buffer.
  h.WriteBufferOpen();
  h.Write(u"zzz");
  h.FailWrite(h.SendCalls(), 10055);
  EXPECT_THROW(h.WriteBufferClose(), EIdSocketError);
  EXPECT_FALSE(h.WriteBufferingActive());
}

TEST(IOHandlerWrite, PartialSendsAndFailures) {
  {
    TOpenHandler h;
    h.SetMaxSend(4);
    h.WriteLn(u"0123456789");
    EXPECT_EQ(h.Sends().size(), 3u);
    EXPECT_EQ(h.WrittenText(), "0123456789\r\n");
  }
  // A peer-gone code closes the handler; the time-out code leaves it open; both raise.
  for (int code : {10054, 10060}) {
    TOpenHandler h;
    h.FailWrite(0, code, TTestIOHandler::fmResult);
    try {
      h.Write(u"x");
      FAIL() << "no error";
    } catch (const EIdSocketError& e) {
      EXPECT_EQ(e.LastError(), code);
    }
    EXPECT_EQ(h.TransportOpen(), code == 10060);
  }
  {
    TTestIOHandler h;  // not opened: gone
    EXPECT_THROW(h.Write(u"x"), EIdConnClosedGracefully);
  }
}

// A stream of a given size whose bytes are all zero, without storage.
class TSizedStream : public TStream {
public:
  explicit TSizedStream(int64_t ASize, int64_t AReal = -1) : FSize(ASize), FReal(AReal < 0 ? ASize : AReal) {}
  int64_t Read(void* ABuffer, int64_t ACount) override {
    const int64_t n = std::max<int64_t>(0, std::min(ACount, FReal - FPos));
    std::memset(ABuffer, 0, static_cast<size_t>(n));
    FPos += n;
    return n;
  }
  int64_t Write(const void*, int64_t) override { return 0; }
  int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) override {
    FPos = AOrigin == soBeginning ? AOffset : AOrigin == soCurrent ? FPos + AOffset : FSize + AOffset;
    return FPos;
  }

private:
  int64_t FSize, FReal, FPos = 0;
};

TEST(IOHandlerWrite, StreamsInBlocksWithSizePrefix) {
  {
    TOpenHandler h;
    h.SetSendBufferSize(4);
    TMemoryStream s;
    s.Write("0123456789", 10);
    s.SetPosition(7);
    h.Write(s, -1, true);  // from the position: 3 bytes, with the count
    EXPECT_EQ(h.Written(), (TIdBytes{0, 0, 0, 3, '7', '8', '9'}));
    h.Write(s);  // 0: all of it, repositioned
    EXPECT_EQ(h.Sends().size(), 5u);  // count, block, then 4 + 4 + 2
    EXPECT_EQ(Str(h.Sends()[4]), "89");
  }
  {
    TOpenHandler h;
    TSizedStream big(int64_t(1) << 31);
    EXPECT_THROW(h.Write(big, 0, true), EIdIOHandlerRequiresLargeStream);
    EXPECT_EQ(h.SendCalls(), 0);
  }
  {
    TOpenHandler h;
    TSizedStream shortStream(10, 4);
    EXPECT_THROW(h.Write(shortStream, 10), EIdNoDataToRead);
  }
  {
    TOpenHandler h;
    EXPECT_THROW(h.WriteFile(u"/nonexistent/file"), EIdFileNotFound);
  }
}

// ---- Intercept, work, registry ---------------------------------------------------------------

TEST(IOHandlerIntercept, SeesAndChangesEveryBlock) {
  TOpenHandler h;
  TIdConnectionIntercept intercept;
  std::vector<std::string> received, sent;
  intercept.OnReceive = [&](TIdConnectionIntercept*, TIdBytes& b) {
    received.push_back(Str(b));
    for (auto& c : b) c = static_cast<uint8_t>(std::toupper(c));
  };
  intercept.OnSend = [&](TIdConnectionIntercept*, TIdBytes& b) {
    sent.push_back(Str(b));
    b.push_back('!');
  };
  int disconnects = 0;
  intercept.OnDisconnect = [&](TIdConnectionIntercept*) { ++disconnects; };
  h.SetIntercept(&intercept);
  h.AddSegments({"ab", "c\n"});
  EXPECT_EQ(h.ReadLn(), u"ABC");
  EXPECT_EQ(received, (std::vector<std::string>{"ab", "c\n"}));
  h.WriteBufferOpen();
  h.Write(u"x");
  h.Write(u"y");
  h.WriteBufferClose();
  EXPECT_EQ(sent, (std::vector<std::string>{"xy"}));  // one flush, one block
  EXPECT_EQ(h.WrittenText(), "xy!");
  h.Close();
  EXPECT_EQ(disconnects, 1);
}

TEST(IOHandlerIntercept, SwallowedBlockIsNotThePeersClose) {
  TOpenHandler h;
  TIdConnectionIntercept intercept;
  intercept.OnReceive = [](TIdConnectionIntercept*, TIdBytes& b) {
    if (b == Bytes("noise")) b.clear();
  };
  h.SetIntercept(&intercept);
  h.AddSegments({"noise", "data\n"});
  EXPECT_EQ(h.ReadLn(), u"data");
  EXPECT_FALSE(h.ClosedGracefully());
}

TEST(IOHandlerIntercept, ForgottenWhenDestroyed) {
  TOpenHandler h;
  {
    TIdConnectionIntercept intercept;
    h.SetIntercept(&intercept);
  }
  EXPECT_EQ(h.Intercept(), nullptr);
  h.WriteLn(u"still works");
}

TEST(IOHandlerWork, ReadsAndWritesReportWork) {
  TOpenHandler h;
  std::vector<std::string> events;
  h.OnWorkBegin = [&](TObject*, TWorkMode m, int64_t max) {
    events.push_back("begin " + std::to_string(m) + " " + std::to_string(max));
  };
  h.OnWork = [&](TObject*, TWorkMode m, int64_t n) { events.push_back("work " + std::to_string(m) + " " + std::to_string(n)); };
  h.OnWorkEnd = [&](TObject*, TWorkMode m) { events.push_back("end " + std::to_string(m)); };
  h.AddSegments({"abc", "de"});
  h.ReadStream(nullptr, 5);
  EXPECT_EQ(events, (std::vector<std::string>{"begin 0 5", "work 0 3", "work 0 5", "end 0"}));
  events.clear();
  h.SetSendBufferSize(2);
  TMemoryStream s;
  s.Write("xyz", 3);
  h.Write(s);
  EXPECT_EQ(events, (std::vector<std::string>{"begin 1 3", "work 1 2", "work 1 3", "end 1"}));
}

class TAbstractHandler : public TIdIOHandler {};
class TOtherTestHandler : public TTestIOHandler {};

TEST(IOHandlerRegistry, FindsTheLastRegisteredFittingClass) {
  TIdIOHandler::RegisterIOHandler(TIdIOHandlerClass::Of<TTestIOHandler>());
  TIdIOHandler::RegisterIOHandler(TIdIOHandlerClass::Of<TTestIOHandler>());  // no duplicate
  auto h = TIdIOHandler::TryMakeIOHandler(TIdIOHandlerClass::Of<TTestIOHandler>());
  ASSERT_TRUE(h);
  EXPECT_EQ(h->ClassName(), u"TTestIOHandler");
  TIdIOHandler::RegisterIOHandler(TIdIOHandlerClass::Of<TOtherTestHandler>());
  EXPECT_EQ(TIdIOHandler::TryMakeIOHandler(TIdIOHandlerClass::Of<TTestIOHandler>())->ClassName(),
            u"TOtherTestHandler");
  EXPECT_FALSE(TIdIOHandler::TryMakeIOHandler(TIdIOHandlerClass::Of<TAbstractHandler>()));
  try {
    TIdIOHandler::MakeIOHandler(TIdIOHandlerClass::Of<TAbstractHandler>());
    FAIL() << "no error";
  } catch (const EIdException& e) {
    EXPECT_EQ(e.Message(), u"No IOHandler of type TAbstractHandler is installed.");
  }
  EXPECT_TRUE(TIdIOHandlerClass::Of<TOtherTestHandler>().InheritsFrom(TIdIOHandlerClass::Of<TIdIOHandler>()));
  EXPECT_FALSE(TIdIOHandlerClass::Of<TIdIOHandler>().InheritsFrom(TIdIOHandlerClass::Of<TTestIOHandler>()));
}

TEST(IOHandlerState, OpenCloseAndConnected) {
  TTestIOHandler h;
  EXPECT_FALSE(h.Connected());
  h.SetDefStringEncoding(nullptr);
  EXPECT_EQ(h.DefStringEncoding(), EncodingDefault());
  h.Open();
  EXPECT_TRUE(h.Connected());
  h.AddSegment("left\n");
  h.ClosePeer();
  h.FillInputBuffer();
  h.FillInputBuffer();  // the close
  EXPECT_TRUE(h.Connected());  // unread input keeps it connected
  EXPECT_EQ(h.ReadLn(), u"left");
  EXPECT_FALSE(h.Connected());
  // Open starts afresh.
  h.AddSegment("new\n");
  h.Open();
  EXPECT_FALSE(h.ClosedGracefully());
  EXPECT_EQ(h.ReadLn(), u"new");
}

}  // namespace
}  // namespace vyn
