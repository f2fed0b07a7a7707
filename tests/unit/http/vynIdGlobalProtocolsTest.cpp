#include "vynIdGlobalProtocols.h"

#include <gtest/gtest.h>

namespace vyn {
namespace {

TEST(MergePath, ResolvesRelativePaths) {
  struct Case {
    String Base, Path, Out;
  };
  const Case cases[] = {
      {u"/a/b/", u"../", u"/a/"},
      {u"/a/", u"", u"/a/"},
      {u"/a/b", u"x/", u"/a/b/x/"},
      {u"/a/b", u"x", u"/a/b/x"},
      {u"/a/b", u"", u"/a/b/"},
      {u"/a/", u"/z/", u"/z/"},
      // an absolute path is taken as it is, dots and doubled slashes included
      {u"/a/", u"/z/../y//", u"/z/../y//"},
      {u"/a/b/", u"x/../y/", u"/a/b/y/"},
      {u"/a/b/c/", u"../../", u"/a/"},
      // going up stops at the root
      {u"/a/b/", u"../../../../", u"/"},
      {u"/a/", u"../../x/", u"/x/"},
      // ".." as the last segment: the trailing slash follows the relative path
      {u"/a/b/", u"..", u"/a"},
      {u"/a/", u"..", u"/"},
      // single dots stay
      {u"/a/", u"./", u"/a/./"},
      {u"/a/", u"./x/./", u"/a/./x/./"},
      // only a whole ".." segment goes up
      {u"/a/", u"..foo/", u"/a/..foo/"},
      {u"/a/", u"foo../", u"/a/foo../"},
      {u"/a/", u".../", u"/a/.../"},
      {u"/a/", u"x/..y/../", u"/a/x/"},
      // runs of slashes collapse
      {u"/a//b/", u"c//d/", u"/a/b/c/d/"},
      {u"//a/", u"b", u"/a/b"},
      // empty and relative bases
      {u"", u"", u""},
      {u"", u"a/", u"a/"},
      {u"", u"../x/", u"../x/"},
      {u"/", u"", u"/"},
      {u"/", u"..", u"/"},
      {u"/a/b/", u"../../..", u"/"},
      // a relative base stays relative; what cannot be taken back is kept
      {u"a/", u"../b/", u"b/"},
      {u"a/b/", u"../../../c/", u"../c/"},
      {u"a/", u"..", u""},
      // a kept ".." is not taken back by the next one
      {u"", u"../../b", u"../../b"},
      {u"a/", u"../../../b/", u"../../b/"},
      {u"../", u"..", u"../.."},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MergePath(c.Base, c.Path, u"/"), c.Out) << ToUtf8(c.Base) << " + " << ToUtf8(c.Path);
  }
}

TEST(MergePath, HonoursTheDelimiter) {
  EXPECT_EQ(MergePath(u"\\a\\b\\", u"..\\c\\", u"\\"), u"\\a\\c\\");
  EXPECT_EQ(MergePath(u"\\a\\", u"/x/", u"\\"), u"\\a\\/x/");  // "/" is a plain character here
  EXPECT_EQ(MergePath(u"a::b::", u"..::c::::d", u"::"), u"a::c::d");
  EXPECT_EQ(MergePath(u"/a", u"b"), u"/a/b");  // "/" by default
}

}  // namespace

namespace {

std::string Show(const std::vector<TIdHeaderParam>& AParams) {
  std::string out;
  for (const auto& p : AParams)
    out += ToUtf8(p.Name) + "=" + (p.Quoted ? "\"" : "") + ToUtf8(p.Value) + (p.Quoted ? "\"" : "") + "|";
  return out;
}

TEST(HeaderParams, SplittingFollowsQuotingAndDropsEmptyParameters) {
  struct Case {
    const char16_t* Line;
    TIdHeaderQuotingType Type;
    const char* Expected;
  } cases[] = {
      {u"text/html; charset=UTF-8", QuoteHTTP, "charset=UTF-8|"},
      {u"text/html", QuoteHTTP, ""},
      {u"a;b=1;c=\"x y\"", QuoteHTTP, "b=1|c=\"x y\"|"},
      // A backslash takes the next character literally, also a quote.
      {u"a; b=\"x\\\"y\\\\z\"; c=2", QuoteHTTP, "b=\"x\"y\\z\"|c=2|"},
      // An unterminated quote gives an empty value; the scan resumes after the next ";".
      {u"a; b=\"open; c=3", QuoteHTTP, "b=\"\"|c=3|"},
      // Empty unquoted values and names are dropped, an empty quoted value is kept.
      {u"a; b=; =x; e=\"\"; d", QuoteHTTP, "e=\"\"|"},
      // Blanks before the ";" that ends a value.
      {u"a; b=1 ; c=2", QuoteHTTP, "b=1|c=2|"},
      // "." stops an RFC 822 value but not an HTTP one.
      {u"a; v=1.5", QuoteRFC822, "v=1|"},
      {u"a; v=1.5", QuoteHTTP, "v=1.5|"},
      // Plain lists only stop at control characters.
      {u"a; v=x/y=z", QuotePlain, "v=x/y=z|"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Show(SplitHeaderParams(c.Line, c.Type)), c.Expected) << ToUtf8(c.Line);
}

TEST(HeaderParams, ParamValueIsFoundIgnoringCaseFirstMatchWins) {
  EXPECT_EQ(HeaderParamValue(u"text/html; CharSet=\"utf-8\"; charset=latin1", u"charset"), u"utf-8");
  EXPECT_EQ(HeaderParamValue(u"text/html", u"charset"), u"");
  EXPECT_EQ(HeaderMainValue(u"  text/html ; charset=x"), u"text/html");
  EXPECT_EQ(HeaderMainValue(u" text/plain "), u"text/plain");
}

TEST(HeaderParams, QuotingByType) {
  struct Case {
    const char16_t* Value;
    bool Force;
    TIdHeaderQuotingType Type;
    const char16_t* Expected;
  } cases[] = {
      {u"", true, QuoteHTTP, u""},
      {u"abc", false, QuoteHTTP, u"abc"},
      {u"abc", true, QuoteHTTP, u"\"abc\""},
      {u"a b", false, QuoteHTTP, u"\"a b\""},
      {u"a\"b", false, QuoteHTTP, u"\"a\\\"b\""},
      {u"a\\b", false, QuotePlain, u"\"a\\\\b\""},
      {u"a.b", false, QuoteRFC822, u"\"a.b\""},
      {u"a.b", false, QuoteHTTP, u"a.b"},
      {u"a{b", false, QuoteHTTP, u"\"a{b\""},
      {u"a{b", false, QuoteMIME, u"a{b"},
      {u"a\rb", false, QuoteMIME, u"\"a\\\rb\""},
      {u"a\rb", false, QuoteHTTP, u"\"a\rb\""},
      {u"a;b", false, QuotePlain, u"a;b"},
      {u"a\x7F", false, QuotePlain, u"\"a\x7F\""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(QuoteParamValue(c.Value, c.Force, c.Type), c.Expected) << ToUtf8(c.Value);
}

TEST(HeaderParams, WithHeaderParamNormalisesTheLine) {
  struct Case {
    const char16_t* Line;
    const char16_t* Name;
    const char16_t* Value;
    const char16_t* Expected;
  } cases[] = {
      {u"text/plain;format=flowed", u"charset", u"utf-8", u"text/plain; format=flowed; charset=utf-8"},
      {u"text/plain; CHARSET=latin1;a=1", u"charset", u" utf-8 ", u"text/plain; CHARSET=utf-8; a=1"},
      {u"text/plain; charset=latin1; a=1", u"charset", u"", u"text/plain; a=1"},
      // Removing an absent parameter leaves the line as it was.
      {u"text/plain ;a=1", u"charset", u"", u"text/plain ;a=1"},
      // A value that was quoted stays quoted.
      {u"a; b=\"x\"", u"c", u"d e", u"a; b=\"x\"; c=\"d e\""},
      {u"; a=1", u"b", u"2", u""},
      {u"", u"b", u"2", u""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(WithHeaderParam(c.Line, c.Name, c.Value, QuoteHTTP), c.Expected) << ToUtf8(c.Line);
  String old;
  EXPECT_EQ(WithoutHeaderParam(u"text/html; charset=\"UTF-8\"", u"charset", QuoteHTTP, old), u"text/html");
  EXPECT_EQ(old, u"UTF-8");
}

TEST(HeaderParams, MediaTypes) {
  EXPECT_TRUE(MediaTypeIs(u"text/plain", u"text"));
  EXPECT_TRUE(MediaTypeIs(u"TEXT/plain", u"text"));
  EXPECT_FALSE(MediaTypeIs(u"textual/plain", u"text"));
  EXPECT_FALSE(MediaTypeIs(u"text", u"text"));
  EXPECT_TRUE(MediaTypeIs(u"Text/HTML", u"text/html"));
  EXPECT_FALSE(MediaTypeIs(u"text/html5", u"text/html"));
  EXPECT_TRUE(HasMediaType(u" multipart/form-data; boundary=x", u"multipart"));
  EXPECT_TRUE(HasAnyMediaType(u"application/xhtml+xml", {u"text/html", u"application/xhtml+xml"}));
  EXPECT_FALSE(HasAnyMediaType(u"image/png", std::vector<String>{u"text", u"application"}));
  EXPECT_EQ(MediaSubType(u"text/html; charset=x"), u"html");
  EXPECT_EQ(MediaSubType(u"text"), u"");
}

}  // namespace
}  // namespace vyn
