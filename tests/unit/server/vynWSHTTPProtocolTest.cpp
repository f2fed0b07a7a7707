#include "vynWSHTTPProtocol.h"

#include <gtest/gtest.h>

namespace vyn {
namespace {

TEST(ParseRequestLine, AcceptsTheStrictFormOnly) {
  struct TCase {
    String Line;
    TvynWSRequestLineResult Result;
  };
  const TCase cases[] = {
      {u"GET /a?b=c HTTP/1.1", rlOK},
      {u"HEAD / HTTP/1.0", rlOK},
      {u"GET http://h:1/p HTTP/1.1", rlOK},
      {u"GET / HTTP/2.0", rlVersionNotSupported},
      {u"GET / HTTP/0.9", rlVersionNotSupported},
      {u"GET /", rlMalformed},
      {u"GET / HTTP/1.1 ", rlMalformed},
      {u"GET  / HTTP/1.1", rlMalformed},
      {u" GET / HTTP/1.1", rlMalformed},
      {u"GET / http/1.1", rlMalformed},
      {u"GET / HTTP/1.10", rlMalformed},
      {u"GET / HTTP/1.1\r", rlMalformed},
      {u"G(T / HTTP/1.1", rlMalformed},
      {String(u"GET /\u00e9 HTTP/1.1"), rlMalformed},
      {String(u"GET /\x7f HTTP/1.1"), rlMalformed},
      {String(u"GET /\tx HTTP/1.1"), rlMalformed},
      {String(u"\0ET / HTTP/1.1", 14), rlMalformed},
  };
  for (const auto& c : cases) {
    TvynWSRequestLine line;
    EXPECT_EQ(ParseRequestLine(c.Line, line), c.Result) << ToUtf8(c.Line);
  }
  TvynWSRequestLine line;
  ASSERT_EQ(ParseRequestLine(u"GET /x?y HTTP/1.0", line), rlOK);
  EXPECT_EQ(line.Command, u"GET");
  EXPECT_EQ(line.Target, u"/x?y");
  EXPECT_EQ(line.Version, u"HTTP/1.0");
  EXPECT_EQ(line.Minor, 0);
}

TEST(SplitRequestTarget, OriginAndAbsoluteForms) {
  struct TCase {
    String Target;
    bool Ok;
    String Path;
    String Query;
  };
  const TCase cases[] = {
      {u"/", true, u"/", u""},
      {u"/a/b?c=d&e", true, u"/a/b", u"c=d&e"},
      {u"/a?b?c", true, u"/a", u"b?c"},
      {u"/a?", true, u"/a", u""},
      {u"/a#frag?x", true, u"/a", u""},
      {u"http://host:8080/p?q=1", true, u"/p", u"q=1"},
      {u"http://host", true, u"/", u""},
      {u"https://host?q", true, u"/", u"q"},
      {u"*", false, u"", u""},
      {u"host:80", false, u"", u""},
      {u"a/b", false, u"", u""},
      {u"://x/y", false, u"", u""},
  };
  for (const auto& c : cases) {
    String path, query;
    EXPECT_EQ(SplitRequestTarget(c.Target, path, query), c.Ok) << ToUtf8(c.Target);
    if (!c.Ok) continue;
    EXPECT_EQ(path, c.Path) << ToUtf8(c.Target);
    EXPECT_EQ(query, c.Query) << ToUtf8(c.Target);
  }
}

TEST(DecodeURLComponent, EscapesAreUTF8BytesAndBrokenOnesStay) {
  EXPECT_EQ(DecodeURLComponent(u"a%20b+c", false), u"a b+c");
  EXPECT_EQ(DecodeURLComponent(u"a%20b+c", true), u"a b c");
  EXPECT_EQ(DecodeURLComponent(u"%C3%A9t%c3%a9", true), u"\u00e9t\u00e9");
  EXPECT_EQ(DecodeURLComponent(u"%F0%9F%98%80", true), u"\U0001F600");
  EXPECT_EQ(DecodeURLComponent(u"100%", true), u"100%");
  EXPECT_EQ(DecodeURLComponent(u"%zz%4", true), u"%zz%4");
  EXPECT_EQ(DecodeURLComponent(u"%2B%26%3D", true), u"+&=");
  EXPECT_EQ(DecodeURLComponent(u"%FF", true), u"\uFFFD");  // not UTF-8
  EXPECT_EQ(DecodeURLComponent(u"%00", true), String(1, u'\0'));
}

TEST(DecodeQueryParams, OneLinePerParameterInOrder) {
  TStringList params;
  DecodeQueryParams(u"code=a%2Fb&&state=x+y&flag&code=2&=v&e=", params);
  ASSERT_EQ(params.Count(), 6);
  EXPECT_EQ(params[0], u"code=a/b");
  EXPECT_EQ(params[1], u"state=x y");
  EXPECT_EQ(params[2], u"flag=");
  EXPECT_EQ(params[3], u"code=2");
  EXPECT_EQ(params[4], u"=v");
  EXPECT_EQ(params[5], u"e=");
  TStringList none;
  DecodeQueryParams(u"", none);
  EXPECT_EQ(none.Count(), 0);
}

TEST(ParseHeaderLine, NameValueWithoutFoldingOrControls) {
  String name, value;
  ASSERT_TRUE(ParseHeaderLine(u"Host:  example.org \t", name, value));
  EXPECT_EQ(name, u"Host");
  EXPECT_EQ(value, u"example.org");
  ASSERT_TRUE(ParseHeaderLine(u"X-Empty:", name, value));
  EXPECT_EQ(value, u"");
  ASSERT_TRUE(ParseHeaderLine(u"X-Obs: caf\u00e9\tok", name, value));  // obs-text and a tab inside
  EXPECT_EQ(value, u"caf\u00e9\tok");
  for (const String& bad : {String(u"No colon"), String(u"Host : x"), String(u" Folded: x"), String(u": x"),
                           String(u"X-A: a\rb"), String(u"X-A: a\x01"), String(u"X(A): b")})
    EXPECT_FALSE(ParseHeaderLine(bad, name, value)) << ToUtf8(bad);
}

TEST(ChunkSizeLine, HexadecimalWithLineEnd) {
  EXPECT_EQ(ChunkSizeLine(1), "1\r\n");
  EXPECT_EQ(ChunkSizeLine(255), "ff\r\n");
  EXPECT_EQ(ChunkSizeLine(65536), "10000\r\n");
}

}  // namespace
}  // namespace vyn
