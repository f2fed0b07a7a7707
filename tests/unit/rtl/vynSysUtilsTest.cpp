#include "vynSysUtils.h"

#include <gtest/gtest.h>

namespace vyn {
namespace {

TEST(Format, FormatLanguageCases) {
  struct Case {
    const char16_t* format;
    String expected;
    String actual;
  };
  const Case cases[] = {
      {u"%s-%d", u"a-42", Format(u"%s-%d", {u"a", 42})},
      {u"%.2d", u"07", Format(u"%.2d", {7})},
      {u"%.4d", u"-0012", Format(u"%.4d", {-12})},
      {u"%x", u"FF", Format(u"%x", {255})},
      {u"%.4x", u"00FF", Format(u"%.4x", {255})},
      {u"%u", u"4294967295", Format(u"%u", {-1})},
      {u"%u", u"18446744073709551615", Format(u"%u", {UINT64_MAX})},
      {u"%5d|%-5d|", u"   42|42   |", Format(u"%5d|%-5d|", {42, 42})},
      {u"%*d", u"  7", Format(u"%*d", {3, 7})},
      {u"%.3s", u"abc", Format(u"%.3s", {u"abcdef"})},
      {u"%1:s %0:s", u"b a", Format(u"%1:s %0:s", {u"a", u"b"})},
      {u"%f", u"1.50", Format(u"%f", {1.5})},
      {u"%.1f", u"-0.3", Format(u"%.1f", {-0.26})},
      {u"%n", u"1,234,567.89", Format(u"%n", {1234567.891})},
      {u"%e", u"1.50000000000000E+003", Format(u"%e", {1500.0})},
      {u"%g", u"0.5", Format(u"%g", {0.5})},
      {u"100%%", u"100%", Format(u"100%%", {})},
      {u"%d", u"-9223372036854775808", Format(u"%d", {INT64_MIN})},
  };
  for (const auto& c : cases) EXPECT_EQ(c.actual, c.expected) << ToUtf8(c.format);
}

TEST(Format, MissingOrMismatchedArgumentRaises) {
  EXPECT_THROW(Format(u"%d %d", {1}), EConvertError);
  EXPECT_THROW(Format(u"%d", {u"text"}), EConvertError);
  EXPECT_THROW(Format(u"%s", {5}), EConvertError);
  try {
    Format(u"%q", {1});
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), u"Format '%q' invalid or incompatible with argument");
  }
}

TEST(Utf8, RoundTripAndReplacement) {
  EXPECT_EQ(FromUtf8("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), u"a\u00E9\u20AC\U0001F600");
  EXPECT_EQ(ToUtf8(u"a\u00E9\u20AC\U0001F600"), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  // Maximal subparts: a truncated sequence is one U+FFFD, a stray byte is one each.
  EXPECT_EQ(FromUtf8("\xE2\x82"), u"\uFFFD");
  EXPECT_EQ(FromUtf8("\xE2\x82" "A"), u"\uFFFDA");
  EXPECT_EQ(FromUtf8("\x80\x80"), u"\uFFFD\uFFFD");
  EXPECT_EQ(FromUtf8("\xC0\xAF"), u"\uFFFD\uFFFD");           // overlong
  EXPECT_EQ(FromUtf8("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
  EXPECT_EQ(FromUtf8("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(ToUtf8(String(1, char16_t(0xD800))), "\xEF\xBF\xBD");  // lone surrogate
}

TEST(StrToInt, AcceptsAndRefuses) {
  EXPECT_EQ(StrToInt(u"-17"), -17);
  EXPECT_EQ(StrToInt(u"$1F"), 31);
  EXPECT_EQ(StrToInt(u"0x10"), 16);
  EXPECT_EQ(StrToInt64(u"9223372036854775807"), INT64_MAX);
  EXPECT_EQ(StrToIntDef(u"2147483648", -1), -1);
  EXPECT_EQ(StrToIntDef(u"12a", 5), 5);
  EXPECT_EQ(StrToIntDef(u"", 5), 5);
  try {
    StrToInt(u"x1");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), u"'x1' is not a valid integer value");
  }
}

TEST(Exception, CarriesInnerException) {
  try {
    try {
      throw EConvertError(u"inner");
    } catch (...) {
      throw Exception(u"outer", std::current_exception());
    }
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "outer");
    ASSERT_NE(e.InnerException(), nullptr);
    EXPECT_EQ(e.InnerException()->Message(), u"inner");
    EXPECT_EQ(e.InnerException()->ClassName(), u"EConvertError");
  }
}

}  // namespace
}  // namespace vyn
