#include "vynIdGlobal.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "vynIdResourceStrings.h"
#include "vynIdTextEncoding.h"

namespace vyn {
namespace {

TIdBytes Bytes(std::string_view AText) { return TIdBytes(AText.begin(), AText.end()); }

template <class F>
String MessageOf(F AAction) {
  try {
    AAction();
  } catch (const EIdException& e) {
    return e.Message();
  }
  return u"(nothing raised)";
}

TEST(Bytes, FromTextEncodesTheClampedRange) {
  struct Case {
    const char* what;
    TIdBytes actual;
    TIdBytes expected;
  };
  const Case cases[] = {
      {"all, default ASCII", BytesFromText(u"h\u00E9llo"), Bytes("h?llo")},
      {"explicit encoding", BytesFromText(u"h\u00E9", EncodingUTF8()), {'h', 0xC3, 0xA9}},
      {"length and 1-based index", BytesFromText(u"abcdef", nullptr, 3, 2), Bytes("bcd")},
      {"length past the end", BytesFromText(u"abc", nullptr, 10, 2), Bytes("bc")},
      {"index past the end", BytesFromText(u"abc", nullptr, -1, 5), {}},
      {"zero length", BytesFromText(u"abc", nullptr, 0), {}},
      {"empty text", BytesFromText(u""), {}},
      {"one character", BytesFromChar(u'\u00E9', EncodingUTF8()), {0xC3, 0xA9}},
      {"one character, default", BytesFromChar(u'\u00E9'), {'?'}},
      {"8-bit helper", BytesFromString8Bit(u"\u00FF\u0100"), {0xFF, '?'}},
  };
  for (const auto& c : cases) EXPECT_EQ(c.actual, c.expected) << c.what;
}

TEST(Bytes, NumbersInMachineOrder) {
  const TIdBytes two = BytesFromNumber<uint16_t>(0x0102);
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(NumberFromBytes<uint16_t>(two), 0x0102);
  EXPECT_EQ(BytesFromNumber<int64_t>(-2).size(), 8u);
  EXPECT_EQ(NumberFromBytes<int64_t>(BytesFromNumber<int64_t>(-2)), -2);
  TIdBytes at = {0xAA};
  AppendBytesTo(at, BytesFromNumber<uint32_t>(0xDEADBEEF));
  EXPECT_EQ(NumberFromBytes<uint32_t>(at, 1), 0xDEADBEEFu);
  // Too few bytes for the value is refused rather than read past the array.
  EXPECT_EQ(MessageOf([&] { NumberFromBytes<uint32_t>(at, 2); }), RSInvalidIndex);
  EXPECT_EQ(MessageOf([&] { NumberFromBytes<uint16_t>(at, -1); }), RSInvalidIndex);
  EXPECT_EQ(MessageOf([] { NumberFromBytes<uint16_t>(TIdBytes{}); }), RSInvalidIndex);
}

TEST(Bytes, SliceCopyAppendRemove) {
  const TIdBytes src = Bytes("abcdef");
  EXPECT_EQ(SliceBytes(src, 3, 1), Bytes("bcd"));
  EXPECT_EQ(SliceBytes(src, 10, 4), Bytes("ef"));
  EXPECT_EQ(SliceBytes(src, -1, 2), Bytes("cdef"));
  EXPECT_EQ(SliceBytes(src, 2, 9), TIdBytes{});
  EXPECT_EQ(SliceBytes({}, 2, 0), TIdBytes{});

  TIdBytes dest = Bytes("xxxxx");
  CopyBytesInto(src, 2, dest, 1, 3);
  EXPECT_EQ(dest, Bytes("xcdex"));
  CopyBytesInto(dest, 0, dest, 1, 4);  // overlapping
  EXPECT_EQ(dest, Bytes("xxcde"));
  EXPECT_EQ(MessageOf([&] { CopyBytesInto(src, 4, dest, 0, 3); }), RSInvalidIndex);
  EXPECT_EQ(MessageOf([&] { CopyBytesInto(src, 0, dest, 3, 3); }), RSInvalidIndex);
  EXPECT_EQ(dest, Bytes("xxcde"));

  TIdBytes grow;
  AppendBytesTo(grow, src, 4);
  AppendBytesTo(grow, src, 0, 2);
  AppendByteTo(grow, '!');
  AppendTextTo(grow, u"\u00E9z", 1, EncodingUTF8());
  AppendTextTo(grow, u"q");
  EXPECT_EQ(grow, (TIdBytes{'e', 'f', 'a', 'b', '!', 0xC3, 0xA9, 'q'}));

  TIdBytes cut = Bytes("abcdef");
  RemoveBytesAt(cut, 2, 1);
  EXPECT_EQ(cut, Bytes("adef"));
  RemoveBytesAt(cut, 10, 2);
  EXPECT_EQ(cut, Bytes("ad"));
  RemoveBytesAt(cut, 1, 5);
  EXPECT_EQ(cut, Bytes("ad"));

  EXPECT_EQ(BytesFromRaw("xyz", 2), Bytes("xy"));
  EXPECT_EQ(BytesFromRaw(nullptr, 2), TIdBytes{});
  EXPECT_EQ(IPv4TextFromBytes({10, 192, 0, 2, 1}, 1), u"192.0.2.1");
  EXPECT_THROW(IPv4TextFromBytes({192, 0, 2}), EIdException);  // short array: an error, not a wild read
}

TEST(Bytes, TextFromBytesDecodesTheClampedRange) {
  const TIdBytes bytes = {'a', 0xC3, 0xA9, 'b'};
  EXPECT_EQ(TextFromBytes(bytes), u"a\uFFFD\uFFFDb");  // the default is ASCII
  EXPECT_EQ(TextFromBytes(bytes, EncodingUTF8()), u"a\u00E9b");
  EXPECT_EQ(TextFromBytes(bytes, EncodingUTF8(), 1, 2), u"\u00E9");
  EXPECT_EQ(TextFromBytes(bytes, EncodingUTF8(), 3, 9), u"b");
  EXPECT_EQ(TextFromBytes(bytes, EncodingUTF8(), 4), u"");
  EXPECT_EQ(TextFromBytes({}, EncodingUTF8()), u"");

  TIdBytes all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
  const String text = TextFromBytes8Bit(all);
  ASSERT_EQ(text.size(), 256u);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(text[i], static_cast<char16_t>(i));
  EXPECT_EQ(TextFromBytes8Bit(all, 0xFE), u"\u00FE\u00FF");
  EXPECT_EQ(TextFromBytes8Bit(all, 0x41, 2), u"AB");
}

TEST(Streams, ReadAndWriteBytesAndText) {
  TMemoryStream stream;
  EXPECT_EQ(TIdStreamHelperVCL::Write(stream, Bytes("0123456789"), 4, 2), 4);
  EXPECT_EQ(TIdStreamHelperVCL::Write(stream, Bytes("ab"), 10, 1), 1);  // clamped
  EXPECT_EQ(TIdStreamHelperVCL::Write(stream, Bytes("xyz")), 3);
  EXPECT_EQ(stream.Bytes(), Bytes("2345bxyz"));

  TIdStreamHelperVCL::Seek(stream, 2, soBeginning);
  TIdBytes got = Bytes("__");
  EXPECT_EQ(TIdStreamHelperVCL::ReadBytes(stream, got, 3, 1), 3);
  EXPECT_EQ(got, Bytes("_45b"));
  EXPECT_EQ(TIdStreamHelperVCL::ReadBytes(stream, got), 3);  // the rest
  EXPECT_EQ(got, Bytes("xyzb"));
  EXPECT_EQ(TIdStreamHelperVCL::ReadBytes(stream, got), 0);

  TMemoryStream text;
  WriteTextToStream(text, u"\u00E9t\u00E9!", 3, EncodingUTF8(), 2);
  EXPECT_EQ(text.Bytes(), (TIdBytes{'t', 0xC3, 0xA9, '!'}));
  text.SetPosition(0);
  EXPECT_EQ(ReadTextFromStream(text, 3, EncodingUTF8()), u"t\u00E9");
  EXPECT_EQ(ReadTextFromStream(text, -1, EncodingUTF8()), u"!");
}

TEST(Text, SplitOffToken) {
  struct Case {
    String input, delim;
    bool remove, caseSensitive;
    String token, rest;
  };
  const Case cases[] = {
      {u"a b c", u" ", true, true, u"a", u"b c"},
      {u"abc", u" ", true, true, u"abc", u""},
      {u"abc", u" ", false, true, u"abc", u"abc"},
      {u"a b", u" ", false, true, u"a", u"a b"},
      {u"key: value", u": ", true, true, u"key", u"value"},
      {u"xANDy", u"and", true, true, u"xANDy", u""},
      {u"xANDy", u"and", true, false, u"x", u"y"},
      {u"line\r\nnext\r\n", u"\r\n", true, true, u"line", u"next\r\n"},
      {u" lead", u" ", true, true, u"", u"lead"},
      {u"trail ", u" ", true, true, u"trail", u""},
      {u"abc", u"", true, true, u"abc", u""},
      {u"", u" ", true, true, u"", u""},
  };
  for (const auto& c : cases) {
    String input = c.input;
    EXPECT_EQ(SplitOffToken(input, c.delim, c.remove, c.caseSensitive), c.token) << ToUtf8(c.input);
    EXPECT_EQ(input, c.rest) << ToUtf8(c.input);
  }
}

TEST(Text, ComparisonsIgnoringCase) {
  EXPECT_TRUE(TextEqualsIgnoreCase(u"Content-Type", u"content-type"));
  EXPECT_FALSE(TextEqualsIgnoreCase(u"Content-Type", u"content-typ"));
  EXPECT_TRUE(TextHasPrefix(u"Content-Type", u"content-"));
  EXPECT_FALSE(TextHasPrefix(u"Co", u"Content"));
  EXPECT_TRUE(TextHasPrefix(u"", u""));
  EXPECT_TRUE(TextHasPrefix(u"abc", u""));
  EXPECT_TRUE(TextHasSuffix(u"text/HTML", u"/html"));
  EXPECT_FALSE(TextHasSuffix(u"ml", u"html"));
  EXPECT_FALSE(TextHasSuffix(u"text/htm", u"html"));
  EXPECT_EQ(IndexOfText(u"GZIP", {u"deflate", u"gzip", u"GZIP"}), 1);
  EXPECT_EQ(IndexOfText(u"GZIP", {u"deflate", u"gzip", u"GZIP"}, true), 2);
  EXPECT_EQ(IndexOfText(u"br", {u"deflate", u"gzip"}), -1);
}

TEST(Text, CharacterAndByteTests) {
  EXPECT_TRUE(CharIsOneOf(u"a;b", 2, u",;"));
  EXPECT_FALSE(CharIsOneOf(u"a;b", 3, u",;"));
  EXPECT_FALSE(CharIsOneOf(u"a;b", 4, u",;"));
  EXPECT_EQ(MessageOf([] { CharIsOneOf(u"a;b", 0, u";"); }), RSInvalidCharPos);
  EXPECT_TRUE(CharAtEquals(u"ab", 2, u'b'));
  EXPECT_FALSE(CharAtEquals(u"ab", 3, u'b'));
  EXPECT_EQ(MessageOf([] { CharAtEquals(u"ab", -1, u'a'); }), RSInvalidCharPos);
  EXPECT_TRUE(ByteIsOneOf({1, 2, 3}, 2, {3, 4}));
  EXPECT_FALSE(ByteIsOneOf({1, 2, 3}, 3, {3, 4}));
  EXPECT_EQ(MessageOf([] { ByteIsOneOf({1}, -1, {1}); }), RSInvalidIndex);
}

TEST(Text, FormatInvariantAndTrimmedNumbers) {
  EXPECT_EQ(FormatInvariant(u"%s %d.%.2d %x", {u"v", 1, 5, 255}), u"v 1.05 FF");
  EXPECT_EQ(TrimmedStrToInt(u"  42 "), 42);
  EXPECT_EQ(TrimmedStrToInt(u"\t-7\r\n"), -7);
  EXPECT_EQ(TrimmedStrToInt(u"4 2", 9), 9);
  EXPECT_EQ(TrimmedStrToInt(u"", 9), 9);
  EXPECT_THROW(TrimmedStrToInt(u"x"), EConvertError);
  EXPECT_EQ(TrimmedStrToInt64(u" 8589934592 "), 8589934592LL);
  EXPECT_EQ(TrimmedStrToInt64(u"nope", -1), -1);
  EXPECT_THROW(TrimmedStrToInt64(u"1.5"), EConvertError);
}

TEST(Ticks, DifferenceWrapsAndCounterAdvances) {
  EXPECT_EQ(TickDifference(UINT64_MAX - 9, 5), 15u);
  EXPECT_EQ(TickDifference(5, 5), 0u);
  EXPECT_EQ(TickDifference(100, 250), 150u);
  EXPECT_EQ(TickDifference(UINT64_MAX, 0), 1u);

  const uint64_t start = TickCount64();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  const uint64_t elapsed = TicksSince(start);
  EXPECT_GE(elapsed, 29u);
  EXPECT_LT(elapsed, 5000u);
  EXPECT_GE(TickCount64(), start);
}

}  // namespace
}  // namespace vyn

namespace vyn {
namespace {

TEST(EventStream, EveryWriteIsOneEventOverTheCallersBytes) {
  TIdEventStream s;
  std::vector<std::string> blocks;
  s.OnWrite = [&](TIdBytesView ABuffer, int AOffset, int ACount, int& VResult) {
    blocks.emplace_back(reinterpret_cast<const char*>(ABuffer.data()) + AOffset, ACount);
    VResult = ACount;
  };
  s.WriteBuffer("abc", 3);
  EXPECT_EQ(s.Write("", 0), 0);  // an empty write raises no event
  s.WriteBuffer("de", 2);
  EXPECT_EQ(blocks, (std::vector<std::string>{"abc", "de"}));
  EXPECT_EQ(s.Size(), 0);  // without OnSeek the position and size are 0
  s.SetSize(100);          // without OnSetSize nothing happens
}

TEST(EventStream, WithoutHandlersWritesCountAndReadsYieldNothing) {
  TIdEventStream s;
  EXPECT_EQ(s.Write("abc", 3), 3);
  char buf[4];
  EXPECT_EQ(s.Read(buf, 4), 0);
  s.OnRead = [](TIdBytesSpan VBuffer, int, int ACount, int& VResult) {
    VBuffer[0] = 'x';
    VResult = ACount + 10;  // an event claiming more than asked is clamped
  };
  EXPECT_EQ(s.Read(buf, 1), 1);
  EXPECT_EQ(buf[0], 'x');
}

}  // namespace
}  // namespace vyn
