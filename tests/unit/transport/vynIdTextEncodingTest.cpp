#include "vynIdTextEncoding.h"

#include <gtest/gtest.h>

#include <latch>
#include <random>
#include <thread>

#include "vynIdResourceStrings.h"

namespace vyn {
namespace {

TIdBytes Bytes(std::string_view AText) { return TIdBytes(AText.begin(), AText.end()); }

std::string Hex(const TIdBytes& ABytes) {
  std::string out;
  char buf[4];
  for (uint8_t b : ABytes) {
    std::snprintf(buf, sizeof buf, "%02X ", b);
    out += buf;
  }
  return out;
}

std::string Units(StringView AText) {
  std::string out;
  char buf[8];
  for (char16_t c : AText) {
    std::snprintf(buf, sizeof buf, "%04X ", static_cast<unsigned>(c));
    out += buf;
  }
  return out;
}

IIdTextEncoding CodePage(uint32_t ACodePage) { return EncodingForCodePage(ACodePage); }

TEST(TextEncoding, EncodesCharactersPerEncoding) {
  struct Case {
    const char* what;
    IIdTextEncoding encoding;
    String text;
    TIdBytes expected;
  };
  const Case cases[] = {
      {"ASCII e-acute", EncodingASCII(), u"\u00E9", {0x3F}},
      {"8-bit e-acute", Encoding8Bit(), u"\u00E9", {0xE9}},
      {"UTF-8 e-acute", EncodingUTF8(), u"\u00E9", {0xC3, 0xA9}},
      {"UTF-16LE e-acute", EncodingUTF16LE(), u"\u00E9", {0xE9, 0x00}},
      {"UTF-16BE e-acute", EncodingUTF16BE(), u"\u00E9", {0x00, 0xE9}},
      {"UTF-7 e-acute", EncodingUTF7(), u"\u00E9", Bytes("+AOk-")},
      {"UTF-7 direct and encoded", EncodingUTF7(), u"A\u2262\u0391.", Bytes("A+ImIDkQ.")},
      {"ASCII euro", EncodingASCII(), u"a\u20AC", {0x61, 0x3F}},
      {"8-bit euro", Encoding8Bit(), u"\u00FF\u20AC", {0xFF, 0x3F}},
      {"ASCII pair: one byte per code unit", EncodingASCII(), u"\U0001F600", {0x3F, 0x3F}},
      {"UTF-8 pair", EncodingUTF8(), u"\U0001F600", {0xF0, 0x9F, 0x98, 0x80}},
      {"UTF-8 lone surrogate", EncodingUTF8(), String(1, char16_t(0xD800)), {0xEF, 0xBF, 0xBD}},
      {"UTF-16BE pair", EncodingUTF16BE(), u"\U0001F600", {0xD8, 0x3D, 0xDE, 0x00}},
      {"UTF-16LE pair", EncodingUTF16LE(), u"\U0001F600", {0x3D, 0xD8, 0x00, 0xDE}},
      {"932", CodePage(932), u"\u65E5\u672Ca", {0x93, 0xFA, 0x96, 0x7B, 0x61}},
      {"932 unencodable", CodePage(932), u"a\u00E9b", Bytes("a?b")},
      {"936", CodePage(936), u"\u4E2D\u6587", {0xD6, 0xD0, 0xCE, 0xC4}},
      {"936 unencodable", CodePage(936), u"a\uAC00b", Bytes("a?b")},
      {"936 unencodable pair is one character", CodePage(936), u"a\U0001F600b", Bytes("a?b")},
      {"1252 euro", CodePage(1252), u"\u20AC", {0x80}},
      {"EBCDIC question mark is its own", CodePage(37), u"A\u4E2D", {0xC1, 0x6F}},
  };
  for (const auto& c : cases) EXPECT_EQ(Hex(c.encoding->GetBytes(c.text)), Hex(c.expected)) << c.what;
}

TEST(TextEncoding, DecodesBytesPerEncoding) {
  struct Case {
    const char* what;
    IIdTextEncoding encoding;
    TIdBytes bytes;
    String expected;
  };
  const Case cases[] = {
      {"ASCII 80", EncodingASCII(), {0x80, 0x41}, u"\uFFFDA"},
      {"8-bit 80", Encoding8Bit(), {0x80, 0xFF}, u"\u0080\u00FF"},
      {"UTF-8 C3 alone", EncodingUTF8(), {0xC3}, u"\uFFFD"},
      {"UTF-8 C3 A9", EncodingUTF8(), {0xC3, 0xA9}, u"\u00E9"},
      {"UTF-8 truncated three-byte sequence", EncodingUTF8(), {0xE2, 0x82, 0x41}, u"\uFFFDA"},
      {"UTF-8 encoded surrogate", EncodingUTF8(), {0xED, 0xA0, 0x80}, u"\uFFFD\uFFFD\uFFFD"},
      {"UTF-8 four bytes", EncodingUTF8(), {0xF0, 0x9F, 0x98, 0x80}, u"\U0001F600"},
      {"UTF-16LE odd byte ignored", EncodingUTF16LE(), {0x41, 0x00, 0x42}, u"A"},
      {"UTF-16BE", EncodingUTF16BE(), {0x00, 0x41, 0x20, 0xAC}, u"A\u20AC"},
      {"UTF-16LE pair", EncodingUTF16LE(), {0x3D, 0xD8, 0x00, 0xDE}, u"\U0001F600"},
      {"UTF-7 RFC example", EncodingUTF7(), Bytes("Hi Mom -+Jjo--!"), u"Hi Mom -\u263A-!"},
      {"UTF-7 plus-minus is a plus", EncodingUTF7(), Bytes("1 +- 1"), u"1 + 1"},
      {"UTF-7 run ends the input", EncodingUTF7(), Bytes("+AKM"), u"\u00A3"},
      {"932", CodePage(932), {0x93, 0xFA, 0x96, 0x7B}, u"\u65E5\u672C"},
      {"932 lead byte alone", CodePage(932), {0x41, 0x93}, u"A\uFFFD"},
      {"932 lead byte before a blank", CodePage(932), {0x93, 0x20, 0x41}, u"\uFFFD A"},
      {"936", CodePage(936), {0xD6, 0xD0, 0xCE, 0xC4}, u"\u4E2D\u6587"},
      {"936 invalid byte", CodePage(936), {0x41, 0xFF, 0x42}, u"A\uFFFDB"},
      {"UTF-32LE through the converter", CodePage(12000), {0x00, 0xF6, 0x01, 0x00}, u"\U0001F600"},
  };
  for (const auto& c : cases) {
    const String got = c.encoding->GetString(c.bytes);
    EXPECT_EQ(Units(got), Units(c.expected)) << c.what;
    EXPECT_EQ(c.encoding->GetCharCount(c.bytes), static_cast<int>(c.expected.size())) << c.what;
  }
}

TEST(TextEncoding, SequenceSplitAcrossCallsDecodesAsReplacementsOnBothSides) {
  const auto& utf8 = EncodingUTF8();
  EXPECT_EQ(utf8->GetString(TIdBytes{0xC3}) + utf8->GetString(TIdBytes{0xA9}), u"\uFFFD\uFFFD");
  const TIdBytes both{0x41, 0xC3, 0xA9};
  EXPECT_EQ(utf8->GetString(both, 0, 2) + utf8->GetString(both, 2, 1), u"A\uFFFD\uFFFD");
  const auto sjis = CodePage(932);
  EXPECT_EQ(sjis->GetString(TIdBytes{0x93}) + sjis->GetString(TIdBytes{0xFA}), u"\uFFFD\uFFFD");
}

TEST(TextEncoding, Preambles) {
  struct Case {
    const char* what;
    IIdTextEncoding encoding;
    TIdBytes expected;
  };
  const Case cases[] = {
      {"ASCII", EncodingASCII(), {}},
      {"8-bit", Encoding8Bit(), {}},
      {"UTF-7", EncodingUTF7(), {}},
      {"UTF-8", EncodingUTF8(), {0xEF, 0xBB, 0xBF}},
      {"UTF-16LE", EncodingUTF16LE(), {0xFF, 0xFE}},
      {"UTF-16BE", EncodingUTF16BE(), {0xFE, 0xFF}},
      {"code page 1200", std::make_shared<TIdMBCSEncoding>(1200), {0xFF, 0xFE}},
      {"code page 1201", std::make_shared<TIdMBCSEncoding>(1201), {0xFE, 0xFF}},
      {"code page 12000", CodePage(12000), {0xFF, 0xFE, 0x00, 0x00}},
      {"code page 12001", CodePage(12001), {0x00, 0x00, 0xFE, 0xFF}},
      {"code page 65001", std::make_shared<TIdMBCSEncoding>(65001), {0xEF, 0xBB, 0xBF}},
      {"code page 1252", CodePage(1252), {}},
  };
  for (const auto& c : cases) EXPECT_EQ(Hex(c.encoding->GetPreamble()), Hex(c.expected)) << c.what;
}

// Stateful encoders (ISO-2022, UTF-7) must leave their shift state before the "?" that
// stands for an unencodable character, or the text after it decodes as garbage.
TEST(TextEncoding, StatefulEncodingsRecoverAfterUnencodableCharacter) {
  const String lone(1, char16_t(0xDC00));
  struct Case {
    const char* what;
    uint32_t codePage;
    String text;
    String expected;
  };
  const Case cases[] = {
      {"ISO-2022-JP: Hangul between kanji", 50220, u"\u65E5\uAC00\u672Ca", u"\u65E5?\u672Ca"},
      {"ISO-2022-JP: lone surrogate between kanji", 50220, u"\u65E5" + lone + u"\u672C", u"\u65E5?\u672C"},
      {"ISO-2022-JP: lone surrogate at the end", 50220, u"\u65E5" + String(1, char16_t(0xD800)), u"\u65E5?"},
      {"ISO-2022-KR: Hebrew between Hangul", 50225, u"\uAC00\u05D0\uAC01", u"\uAC00?\uAC01"},
      {"ISO-2022-CN: Hangul between hanzi", 50227, u"\u4E2D\uAC00\u6587", u"\u4E2D?\u6587"},
      {"UTF-7: lone surrogate inside a run", 65000, u"\u00A3" + lone + u"\u00A3x", u"\u00A3?\u00A3x"},
      {"UTF-7: lone surrogate at the end", 65000, u"\u00A3" + String(1, char16_t(0xD800)), u"\u00A3?"},
  };
  for (const auto& c : cases) {
    const auto enc = CodePage(c.codePage);
    const TIdBytes bytes = enc->GetBytes(c.text);
    EXPECT_EQ(Units(enc->GetString(bytes)), Units(c.expected)) << c.what << ": " << Hex(bytes);
  }
}

TEST(TextEncoding, EncodingIntoAnArrayKeepsTheBytesAfterIt) {
  TIdBytes bytes{1, 2, 3, 4, 5};
  EXPECT_EQ(EncodingASCII()->GetBytes(u"ab", bytes, 1), 2);
  EXPECT_EQ(Hex(bytes), Hex({1, 'a', 'b', 4, 5}));

  EXPECT_EQ(EncodingUTF8()->GetBytes(u"\u00E9\u00E9", bytes, 3), 4);  // grows by what is needed
  EXPECT_EQ(Hex(bytes), Hex({1, 'a', 'b', 0xC3, 0xA9, 0xC3, 0xA9}));

  EXPECT_EQ(EncodingUTF8()->GetBytes(u"", bytes, 0), 0);
  EXPECT_EQ(bytes.size(), 7u);
  EXPECT_THROW(EncodingASCII()->GetBytes(u"a", bytes, -1), EIdException);
}

TEST(TextEncoding, RangeOverloadsClampToTheArray) {
  const TIdBytes bytes = Bytes("abcdef");
  EXPECT_EQ(EncodingASCII()->GetString(bytes, 2, 3), u"cde");
  EXPECT_EQ(EncodingASCII()->GetString(bytes, 4, 10), u"ef");
  EXPECT_EQ(EncodingASCII()->GetString(bytes, 9, 1), u"");
  EXPECT_EQ(EncodingASCII()->GetString(bytes, 2), u"cdef");
  EXPECT_EQ(EncodingASCII()->GetCharCount(bytes, 4, -1), 2);
  const TIdWideChars chars = EncodingASCII()->GetChars(bytes, 1, 2);
  EXPECT_EQ(String(chars.begin(), chars.end()), u"bc");
  const TIdWideChars wide{u'x', u'y', u'z'};
  EXPECT_EQ(Hex(EncodingASCII()->GetBytes(wide, 1, 5)), Hex(Bytes("yz")));
  EXPECT_EQ(EncodingUTF8()->GetByteCount(u"\u00E9a"), 3);
}

TEST(TextEncoding, NegativeCountsThroughTheConverterConvertNothing) {
  const auto enc = CodePage(28591);
  const uint8_t in[1] = {0x41};
  char16_t out[1] = {u'x'};
  EXPECT_EQ(enc->GetChars(in, -1, out, 1), 0);
  EXPECT_EQ(enc->GetCharCount(in, -1), 0);
  const char16_t chars[1] = {u'a'};
  uint8_t bytes[1] = {0};
  EXPECT_EQ(enc->GetBytes(chars, -1, bytes, 1), 0);
  EXPECT_EQ(enc->GetByteCount(chars, -1), 0);
}

TEST(TextEncoding, CodePageEncodings) {
  EXPECT_EQ(EncodingForCodePage(1200).get(), EncodingUTF16LE().get());
  EXPECT_EQ(EncodingForCodePage(1201).get(), EncodingUTF16BE().get());
  EXPECT_EQ(EncodingForCodePage(20127).get(), EncodingASCII().get());
  EXPECT_EQ(EncodingForCodePage(65000).get(), EncodingUTF7().get());
  EXPECT_EQ(EncodingForCodePage(65001).get(), EncodingUTF8().get());
  EXPECT_EQ(EncodingDefault().get(), EncodingASCII().get());

  // Other code pages are not shared.
  const auto a = EncodingForCodePage(28591), b = EncodingForCodePage(28591);
  EXPECT_NE(a.get(), b.get());
  EXPECT_EQ(dynamic_cast<TIdMBCSEncoding&>(*a).CodePage(), 28591u);
  EXPECT_TRUE(a->IsSingleByte());
  EXPECT_EQ(a->GetMaxByteCount(3), 4);
  EXPECT_FALSE(CodePage(932)->IsSingleByte());
  EXPECT_EQ(CodePage(932)->GetMaxByteCount(3), 8);

  const auto* os = dynamic_cast<const TIdMBCSEncoding*>(EncodingOSDefault().get());
  ASSERT_NE(os, nullptr);
  EXPECT_EQ(os->GetString(TIdBytes{0xC3, 0xA9}), u"\u00E9");

  EXPECT_TRUE(EncodingASCII()->IsSingleByte());
  EXPECT_FALSE(EncodingUTF16LE()->IsSingleByte());
  EXPECT_EQ(EncodingUTF16LE()->MaxCharSize(), 4);
}

TEST(TextEncoding, UnknownCodePageRaises) {
  for (uint32_t cp : {0u, 99999u, 52936u}) {
    try {
      TIdMBCSEncoding enc(cp);
      ADD_FAILURE() << cp << " accepted";
    } catch (const EIdException& e) {
      EXPECT_EQ(e.Message(), Format(RSInvalidCodePage, {cp}));
    }
    EXPECT_THROW(EncodingForCodePage(cp), EIdException) << cp;
  }
}

TEST(TextEncoding, ResolveEncodingPrefersGivenThenFallbackThenKind) {
  const IIdTextEncoding given = CodePage(1252), fallback = CodePage(28591), none;
  EXPECT_EQ(ResolveEncoding(given, fallback).get(), given.get());
  EXPECT_EQ(ResolveEncoding(none, fallback).get(), fallback.get());
  EXPECT_EQ(ResolveEncoding(none, none).get(), EncodingASCII().get());
  EXPECT_EQ(ResolveEncoding(none, none, encUTF8).get(), EncodingUTF8().get());
  EXPECT_EQ(ResolveEncoding(none, none, enc8Bit).get(), Encoding8Bit().get());
}

// Every thread that asks for a shared encoding before it exists gets the one instance
// that was published. Run on its own (as ctest does) the slots start empty.
TEST(TextEncoding, RacingFirstRequestsGetOneInstance) {
  using Getter = const IIdTextEncoding& (*)();
  const Getter getters[] = {EncodingASCII,   Encoding8Bit,    EncodingUTF8,     EncodingUTF7,
                            EncodingUTF16LE, EncodingUTF16BE, EncodingOSDefault};
  constexpr int kThreads = 8;
  constexpr int kGetters = std::size(getters);
  const TIdTextEncodingBase* seen[kThreads][kGetters] = {};
  std::latch start(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      for (int g = 0; g < kGetters; ++g) seen[t][g] = getters[(g + t) % kGetters]().get();
    });
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t)
    for (int g = 0; g < kGetters; ++g) {
      const int which = (g + t) % kGetters;
      EXPECT_EQ(seen[t][g], getters[which]().get()) << "thread " << t << " getter " << which;
    }
}

// The encodings under test with random input: the shared ones and code pages of every
// kind the converter handles (double-byte, stateful, four-byte, decomposing).
std::vector<std::pair<std::string, IIdTextEncoding>> FuzzEncodings() {
  std::vector<std::pair<std::string, IIdTextEncoding>> out = {
      {"ASCII", EncodingASCII()},       {"8-bit", Encoding8Bit()},        {"UTF-8", EncodingUTF8()},
      {"UTF-7", EncodingUTF7()},        {"UTF-16LE", EncodingUTF16LE()}, {"UTF-16BE", EncodingUTF16BE()},
      {"OS default", EncodingOSDefault()},
  };
  for (uint32_t cp : {37u, 932u, 936u, 949u, 950u, 1200u, 1201u, 1252u, 1255u, 1258u, 1361u, 12000u, 12001u,
                      20261u, 20932u, 50220u, 50225u, 50227u, 54936u, 65000u, 65001u})
    out.emplace_back("code page " + std::to_string(cp), std::make_shared<TIdMBCSEncoding>(cp));
  return out;
}

TEST(TextEncoding, DecodingRandomBytesNeverThrowsAndStaysWithinMaxCharCount) {
  std::mt19937 rng(20240501);
  for (const auto& [name, enc] : FuzzEncodings()) {
    for (int round = 0; round < 400; ++round) {
      TIdBytes bytes(rng() % 24);
      // Bias towards the bytes that start escapes and shifts.
      for (auto& b : bytes) b = rng() % 4 ? static_cast<uint8_t>(rng()) : "\x1B$()+-\x0E\x0F~"[rng() % 10];
      String text;
      ASSERT_NO_THROW(text = enc->GetString(bytes)) << name;
      const int count = enc->GetCharCount(bytes);
      ASSERT_LE(count, enc->GetMaxCharCount(static_cast<int>(bytes.size()))) << name << ": " << Hex(bytes);
      ASSERT_EQ(static_cast<int>(text.size()), count) << name << ": " << Hex(bytes);
    }
  }
}

TEST(TextEncoding, EncodingRandomTextStaysWithinMaxByteCount) {
  // Characters that take the most bytes somewhere: escapes into other sets, combining
  // decompositions (Hebrew, Vietnamese), four-byte GB18030, pairs and lone halves.
  const char16_t pool[] = {u'a',      u'\n',     u'+',      u'~',      u'\u00A5', u'\u203E', u'\u00E9',
                           u'\u00C3', u'\u1EA0', u'\uFB2C', u'\u0410', u'\u05D0', u'\u4E2D', u'\u5011',
                           u'\u4E0F', u'\u9B31', u'\uAC00', u'\u3042', u'\uFF61', u'\u0080', u'\uFFFD',
                           0xD83D,    0xDE00,    0xD800,    0xDC00};
  std::mt19937 rng(7);
  for (const auto& [name, enc] : FuzzEncodings()) {
    for (int round = 0; round < 400; ++round) {
      String text(rng() % 16, u'\0');
      for (auto& c : text) c = pool[rng() % std::size(pool)];
      const int count = enc->GetByteCount(text);
      ASSERT_LE(count, enc->GetMaxByteCount(static_cast<int>(text.size()))) << name << ": " << Units(text);
      ASSERT_EQ(static_cast<int>(enc->GetBytes(text).size()), count) << name << ": " << Units(text);
    }
  }
}

TEST(TextEncoding, UnicodeEncodingsRoundTripRandomText) {
  std::mt19937 rng(11);
  const IIdTextEncoding encodings[] = {EncodingUTF8(), EncodingUTF7(), EncodingUTF16LE(), EncodingUTF16BE(),
                                       CodePage(12000), CodePage(12001), CodePage(54936)};
  for (int round = 0; round < 300; ++round) {
    String text;
    const int n = rng() % 20;
    for (int i = 0; i < n; ++i) {
      const uint32_t c = rng() % 3 == 0 ? 0x10000 + rng() % 0x100000 : rng() % 0xD800;
      if (c >= 0x10000) {
        text += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
        text += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
      } else {
        text += static_cast<char16_t>(c);
      }
    }
    for (const auto& enc : encodings) ASSERT_EQ(Units(enc->GetString(enc->GetBytes(text))), Units(text));
  }
}

}  // namespace
}  // namespace vyn
