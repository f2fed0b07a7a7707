#include "vynIdHTTPHeaderInfo.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "vynIdHTTPDates.h"
#include "vynTestTimeZone.h"

namespace vyn {
namespace {

using test::TTimeZoneGuard;

std::vector<String> Lines(const TStrings& AList) {
  std::vector<String> out;
  for (int i = 0; i < AList.Count(); ++i) out.push_back(AList[i]);
  return out;
}

TDateTime At(int y, int mo, int d, int h, int mi, int s) {
  return EncodeDate(y, mo, d) + EncodeTime(h, mi, s, 0);
}

// A scheme that answers with a fixed word and the credentials it was given.
class TFakeAuthentication : public TIdAuthentication {
public:
  String Authentication() override { return u"Fake " + Username() + u"/" + Password(); }
};

std::unique_ptr<TIdAuthentication> CreateFake() { return std::make_unique<TFakeAuthentication>(); }

// Installs the basic-by-default factory for one test.
class TBasicFactoryGuard {
public:
  explicit TBasicFactoryGuard(TIdCreateAuthentication AFactory) : FOld(GIdCreateBasicAuthentication) {
    GIdCreateBasicAuthentication = AFactory;
  }
  ~TBasicFactoryGuard() { GIdCreateBasicAuthentication = FOld; }

private:
  TIdCreateAuthentication FOld;
};

TEST(EntityHeaderInfo, ContentTypeSplitsOffTheCharsetAndDefaultsText) {
  struct Case {
    const char16_t* OldCharSet;
    const char16_t* Value;
    const char16_t* Type;
    const char16_t* CharSet;
  } cases[] = {
      {u"", u"text/plain", u"text/plain", u"ISO-8859-1"},
      {u"", u"text/xml", u"text/xml", u"us-ascii"},
      {u"", u"TEXT/XML-External-Parsed-Entity", u"TEXT/XML-External-Parsed-Entity", u"us-ascii"},
      {u"", u"text/svg+XML", u"text/svg+XML", u"us-ascii"},
      {u"", u"application/json", u"application/json", u""},
      {u"", u"text/html; charset=UTF-8", u"text/html", u"UTF-8"},
      {u"", u"text/html; Charset=\"koi8-r\"; level=1", u"text/html; level=1", u"koi8-r"},
      // A character set already held stays when the value names none.
      {u"UTF-8", u"text/plain", u"text/plain", u"UTF-8"},
      {u"UTF-8", u"", u"", u""},
  };
  for (const auto& c : cases) {
    TIdEntityHeaderInfo e;
    e.SetCharSet(c.OldCharSet);
    e.SetContentType(c.Value);
    EXPECT_EQ(e.ContentType(), c.Type) << ToUtf8(c.Value);
    EXPECT_EQ(e.CharSet(), c.CharSet) << ToUtf8(c.Value);
  }
}

TEST(RequestHeaderInfo, DefaultsAndContentLength) {
  TIdRequestHeaderInfo r;
  r.BuildRawHeaders();
  EXPECT_EQ(Lines(r.RawHeaders()),
            (std::vector<String>{u"Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8",
                                 u"User-Agent: Mozilla/3.0 (compatible; Orva Library)"}));
  EXPECT_FALSE(r.HasContentLength());
  r.SetContentLength(0);
  EXPECT_TRUE(r.HasContentLength());
  r.BuildRawHeaders();
  EXPECT_EQ(r.RawHeaders().GetValue(u"Content-Length"), u"0");
  r.SetContentLength(-1);
  r.BuildRawHeaders();
  EXPECT_EQ(r.RawHeaders().IndexOfName(u"Content-Length"), -1);
}

TEST(RequestHeaderInfo, BuildThenParseGivesTheSameFields) {
  TTimeZoneGuard tz(test::kTZCentralEurope);
  TIdRequestHeaderInfo out;
  out.SetAccept(u"text/event-stream");
  out.SetAcceptCharSet(u"utf-8");
  out.SetAcceptEncoding(u"identity");
  out.SetAcceptLanguage(u"de");
  out.SetHost(u"127.0.0.1:8080");
  out.SetFrom(u"me@example.invalid");
  out.SetReferer(u"http://127.0.0.1/");
  out.SetUserAgent(u"agent/1.0");
  out.SetRange(u"bytes=0-99,-50");
  out.SetMethodOverride(u"PATCH");
  out.SetContentType(u"text/plain; charset=UTF-8");
  out.SetContentLength(12);
  out.SetConnection(u"keep-alive");
  out.SetCacheControl(u"no-store");
  out.SetContentEncoding(u"gzip");
  out.SetContentLanguage(u"en");
  out.SetContentVersion(u"1");
  out.SetContentDisposition(u"attachment; filename=\"a b.txt\"");
  out.SetETag(u"\"abc\"");
  out.SetPragma(u"no-cache");
  out.SetTransferEncoding(u"chunked");
  out.SetDate(At(2023, 7, 1, 10, 0, 0));
  out.SetExpires(At(2023, 12, 24, 18, 30, 15));
  out.BuildRawHeaders();

  TIdRequestHeaderInfo in;
  in.RawHeaders().Assign(&out.RawHeaders());
  in.ParseRawHeaders();
  EXPECT_EQ(in.Accept(), out.Accept());
  EXPECT_EQ(in.AcceptCharSet(), out.AcceptCharSet());
  EXPECT_EQ(in.AcceptEncoding(), out.AcceptEncoding());
  EXPECT_EQ(in.AcceptLanguage(), out.AcceptLanguage());
  EXPECT_EQ(in.Host(), out.Host());
  EXPECT_EQ(in.From(), out.From());
  EXPECT_EQ(in.Referer(), out.Referer());
  EXPECT_EQ(in.UserAgent(), out.UserAgent());
  EXPECT_EQ(in.Range(), u"bytes=0-99,-50");
  EXPECT_EQ(in.MethodOverride(), out.MethodOverride());
  EXPECT_EQ(in.ContentType(), u"text/plain");
  EXPECT_EQ(in.CharSet(), u"UTF-8");
  EXPECT_EQ(in.ContentLength(), 12);
  EXPECT_TRUE(in.HasContentLength());
  EXPECT_EQ(in.Connection(), out.Connection());
  EXPECT_EQ(in.CacheControl(), out.CacheControl());
  EXPECT_EQ(in.ContentEncoding(), out.ContentEncoding());
  EXPECT_EQ(in.ContentLanguage(), out.ContentLanguage());
  EXPECT_EQ(in.ContentVersion(), out.ContentVersion());
  EXPECT_EQ(in.ContentDisposition(), out.ContentDisposition());
  EXPECT_EQ(in.ETag(), out.ETag());
  EXPECT_EQ(in.Pragma(), out.Pragma());
  EXPECT_EQ(in.TransferEncoding(), out.TransferEncoding());
  EXPECT_EQ(DateTimeToUnixMSec(in.Date()), DateTimeToUnixMSec(out.Date()));
  EXPECT_EQ(DateTimeToUnixMSec(in.Expires()), DateTimeToUnixMSec(out.Expires()));
  EXPECT_EQ(out.RawHeaders().GetValue(u"Date"), u"Sat, 01 Jul 2023 08:00:00 GMT");
  EXPECT_EQ(out.RawHeaders().GetValue(u"Cache-control"), u"no-store");
}

TEST(RequestHeaderInfo, CustomHeadersAreAppendedAndOverwrittenInPlace) {
  TIdRequestHeaderInfo r;
  r.CustomHeaders().AddValue(u"X-First", u"1");
  r.CustomHeaders().AddValue(u"Accept", u"custom/accept");
  r.CustomHeaders().AddValue(u"Pragma", u"custom");
  r.CustomHeaders().AddValue(u"Authorization", u"Bearer token");
  r.SetPragma(u"no-cache");
  r.SetAccept(u"text/event-stream;charset=UTF-8");
  r.BuildRawHeaders();
  // Entity fields come before the custom lines (duplicates kept); request fields set
  // in place over a custom line of the same name or are appended after them.
  EXPECT_EQ(Lines(r.RawHeaders()),
            (std::vector<String>{u"Pragma: no-cache", u"X-First: 1", u"Accept: text/event-stream;charset=UTF-8",
                                 u"Pragma: custom", u"Authorization: Bearer token",
                                 u"User-Agent: Mozilla/3.0 (compatible; Orva Library)"}));
}

TEST(RequestHeaderInfo, SettingCustomHeadersCopiesLinesUnchanged) {
  TStringList plain;
  plain.Add(u"X-Token: a=b");
  plain.Add(u"X-Other:c");
  TIdRequestHeaderInfo r;
  r.CustomHeaders().AddValue(u"Old", u"1");
  r.SetCustomHeaders(plain);
  EXPECT_EQ(Lines(r.CustomHeaders()), (std::vector<String>{u"X-Token: a=b", u"X-Other:c"}));
  TIdResponseHeaderInfo response;
  response.SetWWWAuthenticate(plain);
  EXPECT_EQ(Lines(response.WWWAuthenticate()), Lines(plain));
}

TEST(RequestHeaderInfo, AuthorizationComesFromTheSchemeObject) {
  TIdRequestHeaderInfo r;
  r.SetUsername(u"user");
  r.SetPassword(u"pw");
  r.BuildRawHeaders();
  EXPECT_EQ(r.RawHeaders().IndexOfName(u"Authorization"), -1);

  {
    TBasicFactoryGuard guard(&CreateFake);
    r.SetBasicAuthentication(true);
    r.BuildRawHeaders();
    ASSERT_NE(r.Authentication(), nullptr);
    EXPECT_EQ(r.RawHeaders().GetValue(u"Authorization"), u"Fake user/pw");
  }
  // The object stays and keeps answering.
  r.SetBasicAuthentication(false);
  r.BuildRawHeaders();
  EXPECT_EQ(r.RawHeaders().GetValue(u"Authorization"), u"Fake user/pw");
  r.SetAuthentication(nullptr);
  r.BuildRawHeaders();
  EXPECT_EQ(r.RawHeaders().IndexOfName(u"Authorization"), -1);
}

TEST(RequestHeaderInfo, ClearResetsOnlyWhatItOwns) {
  TIdRequestHeaderInfo r;
  r.SetAccept(u"x/y");
  r.SetAcceptCharSet(u"utf-8");
  r.SetUserAgent(u"other");
  r.SetRange(u"bytes=1-2");
  r.SetBasicAuthentication(true);
  r.SetMethodOverride(u"PUT");
  r.SetContentLength(5);
  r.SetContentType(u"text/html; charset=utf-8");
  r.SetDate(At(2020, 1, 1, 0, 0, 0));
  r.SetHost(u"h");
  r.SetReferer(u"ref");
  r.SetPragma(u"p");
  r.SetTransferEncoding(u"chunked");
  r.CustomHeaders().AddValue(u"X", u"1");
  r.RawHeaders().AddValue(u"Raw", u"1");
  r.Clear();
  EXPECT_EQ(r.Accept(), u"text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8");
  EXPECT_EQ(r.AcceptCharSet(), u"");
  EXPECT_EQ(r.UserAgent(), GIdDefaultUserAgent);
  EXPECT_EQ(r.Ranges().Count(), 0);
  EXPECT_FALSE(r.BasicAuthentication());
  EXPECT_EQ(r.MethodOverride(), u"");
  EXPECT_EQ(r.ContentLength(), -1);
  EXPECT_FALSE(r.HasContentLength());
  EXPECT_EQ(r.ContentType(), u"");
  EXPECT_EQ(r.CharSet(), u"");
  EXPECT_EQ(r.Date(), 0);
  EXPECT_EQ(r.RawHeaders().Count(), 0);
  // Kept from request to request.
  EXPECT_EQ(r.Host(), u"h");
  EXPECT_EQ(r.Referer(), u"ref");
  EXPECT_EQ(r.Pragma(), u"p");
  EXPECT_EQ(r.TransferEncoding(), u"chunked");
  EXPECT_EQ(r.CustomHeaders().Count(), 1);
}

TEST(RequestHeaderInfo, AssignCopiesTheListedFields) {
  TIdRequestHeaderInfo a;
  a.SetAccept(u"acc");
  a.SetUsername(u"u");
  a.SetPassword(u"p");
  a.SetUserAgent(u"ua");
  a.SetRange(u"pages=3-4");
  a.SetBasicAuthentication(true);
  a.SetMethodOverride(u"DELETE");
  a.SetHost(u"not-copied");
  a.SetProxyConnection(u"not-copied");
  a.SetAuthentication(CreateFake());
  a.SetContentLength(7);
  a.SetETag(u"e");
  a.SetLastModified(At(2021, 5, 5, 5, 5, 5));
  a.CustomHeaders().AddValue(u"X", u"1");
  a.RawHeaders().AddValue(u"R", u"2");

  TIdRequestHeaderInfo b;
  b.Assign(&a);
  EXPECT_EQ(b.Accept(), u"acc");
  EXPECT_EQ(b.Username(), u"u");
  EXPECT_EQ(b.Password(), u"p");
  EXPECT_EQ(b.UserAgent(), u"ua");
  EXPECT_EQ(b.Range(), u"pages=3-4");
  EXPECT_TRUE(b.BasicAuthentication());
  EXPECT_EQ(b.MethodOverride(), u"DELETE");
  EXPECT_EQ(b.Host(), u"");
  EXPECT_EQ(b.ProxyConnection(), u"");
  EXPECT_EQ(b.Authentication(), nullptr);
  EXPECT_EQ(b.ContentLength(), 7);
  EXPECT_TRUE(b.HasContentLength());
  EXPECT_EQ(b.ETag(), u"e");
  EXPECT_EQ(b.LastModified(), a.LastModified());
  EXPECT_EQ(Lines(b.CustomHeaders()), Lines(a.CustomHeaders()));
  EXPECT_EQ(Lines(b.RawHeaders()), Lines(a.RawHeaders()));
  // Ranges are copied, not shared.
  a.SetRange(u"bytes=9-");
  EXPECT_EQ(b.Range(), u"pages=3-4");

  // A response record brings only its entity part.
  TIdResponseHeaderInfo response;
  response.SetLocation(u"/x");
  response.SetETag(u"r");
  b.Assign(&response);
  EXPECT_EQ(b.ETag(), u"r");
  EXPECT_EQ(b.Accept(), u"acc");

  TIdProxyConnectionInfo proxy;
  try {
    b.Assign(&proxy);
    FAIL() << "no error";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), u"Cannot assign a TIdProxyConnectionInfo to a TIdRequestHeaderInfo");
  }
}

TEST(ResponseHeaderInfo, ParseReadsLengthsRangesDatesAndChallenges) {
  TTimeZoneGuard tz(test::kTZUTC);
  struct LengthCase {
    const char16_t* Header;  // nullptr: absent
    int64_t Length;
  } lengths[] = {{nullptr, -1}, {u"abc", -1}, {u"0x10", -1}, {u" 42 ", 42}, {u"0", 0},
                 {u"99999999999999999999", -1}, {u"-5", -5}};
  for (const auto& c : lengths) {
    TIdResponseHeaderInfo r;
    if (c.Header) r.RawHeaders().SetValue(u"Content-Length", c.Header);
    r.ParseRawHeaders();
    EXPECT_EQ(r.ContentLength(), c.Length) << (c.Header ? ToUtf8(c.Header) : "absent");
    EXPECT_EQ(r.HasContentLength(), c.Length >= 0);
  }

  TIdResponseHeaderInfo r;
  TIdHeaderList& raw = r.RawHeaders();
  raw.SetText(u"Content-Range: bytes 100-199/1000\r\n"
              u"WWW-Authenticate: Negotiate\r\n"
              u"WWW-Authenticate: Basic realm=\"x\"\r\n"
              u"Proxy-Authenticate: Digest realm=\"p\",\r\n"
              u" nonce=\"n\"\r\n"
              u"Location: /next\r\nServer: test\r\nAccept-Ranges: bytes\r\nAccept-Patch: text/plain\r\n"
              u"Proxy-Connection: close\r\n"
              u"Date: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
              u"Last-Modified: Sat, 05 Nov 1994 08:49:37 GMT\r\n"
              u"Content-Type: text/html\r\n");
  r.ParseRawHeaders();
  EXPECT_EQ(r.ContentRangeUnits(), u"bytes");
  EXPECT_EQ(r.ContentRangeStart(), 100);
  EXPECT_EQ(r.ContentRangeEnd(), 199);
  EXPECT_EQ(r.ContentRangeInstanceLength(), 1000);
  EXPECT_TRUE(r.HasContentRange());
  EXPECT_EQ(Lines(r.WWWAuthenticate()), (std::vector<String>{u"Negotiate", u"Basic realm=\"x\""}));
  EXPECT_EQ(Lines(r.ProxyAuthenticate()), (std::vector<String>{u"Digest realm=\"p\", nonce=\"n\""}));
  EXPECT_EQ(r.Location(), u"/next");
  EXPECT_EQ(r.Server(), u"test");
  EXPECT_EQ(r.AcceptRanges(), u"bytes");
  EXPECT_EQ(r.AcceptPatch(), u"text/plain");
  EXPECT_EQ(r.ProxyConnection(), u"close");
  EXPECT_EQ(r.Date(), At(1994, 11, 6, 8, 49, 37));
  EXPECT_EQ(r.LastModified(), At(1994, 11, 5, 8, 49, 37));
  EXPECT_EQ(r.CharSet(), u"ISO-8859-1");

  // Parsing again refills the challenge lists instead of adding to them.
  r.ParseRawHeaders();
  EXPECT_EQ(r.WWWAuthenticate().Count(), 2);

  raw.SetText(u"Content-Range: bytes */1000\r\n");
  r.ParseRawHeaders();
  EXPECT_EQ(r.ContentRangeStart(), -1);
  EXPECT_EQ(r.ContentRangeEnd(), -1);
  EXPECT_FALSE(r.HasContentRange());
  EXPECT_EQ(r.ContentRangeInstanceLength(), 1000);
  // Without a Date header the date is now.
  EXPECT_NEAR(r.Date(), Now(), 5 * OneSecond);
  EXPECT_EQ(r.LastModified(), 0);
  EXPECT_EQ(r.WWWAuthenticate().Count(), 0);
}

TEST(ResponseHeaderInfo, ExpiresReadsSecondsDatesAndJunk) {
  TTimeZoneGuard tz(test::kTZUTC);
  struct Case {
    const char16_t* Value;
    double OffsetFromNow;  // in seconds; NAN: exactly 0
  } cases[] = {{u"0", 0}, {u"3600", 3600}, {u"-1", NAN}, {u"junk", -1}, {u"", NAN}};
  for (const auto& c : cases) {
    TIdResponseHeaderInfo r;
    if (*c.Value) r.RawHeaders().SetValue(u"Expires", c.Value);
    r.ParseRawHeaders();
    if (std::isnan(c.OffsetFromNow)) {
      EXPECT_EQ(r.Expires(), 0) << ToUtf8(c.Value);
    } else {
      EXPECT_NEAR(r.Expires(), Now() + c.OffsetFromNow * OneSecond, 2 * OneSecond) << ToUtf8(c.Value);
    }
  }
  TIdResponseHeaderInfo r;
  r.RawHeaders().SetValue(u"Expires", u"Thu, 01 Dec 1994 16:00:00 GMT");
  r.ParseRawHeaders();
  EXPECT_EQ(r.Expires(), At(1994, 12, 1, 16, 0, 0));
}

TEST(ResponseHeaderInfo, BuildWritesContentRangeForms) {
  TTimeZoneGuard tz(test::kTZCentralEurope);
  struct Case {
    int64_t Start, End, Length;
    const char16_t* Units;
    const char16_t* Expected;  // nullptr: no header
  } cases[] = {{0, 99, 1000, u"", u"bytes 0-99/1000"},
               {-1, -1, 1000, u"items", u"items */1000"},
               {5, 9, -1, u"", u"bytes 5-9/*"},
               {-1, -1, -1, u"", nullptr}};
  for (const auto& c : cases) {
    TIdResponseHeaderInfo r;
    r.SetContentRangeStart(c.Start);
    r.SetContentRangeEnd(c.End);
    r.SetContentRangeInstanceLength(c.Length);
    r.SetContentRangeUnits(c.Units);
    r.BuildRawHeaders();
    if (c.Expected) {
      EXPECT_EQ(r.RawHeaders().GetValue(u"Content-Range"), c.Expected);
    } else {
      EXPECT_EQ(r.RawHeaders().IndexOfName(u"Content-Range"), -1);
    }
  }
  TIdResponseHeaderInfo r;
  r.SetAcceptRanges(u"bytes");
  r.SetAcceptPatch(u"text/x");
  r.SetLastModified(At(2023, 7, 1, 10, 0, 0));
  r.BuildRawHeaders();
  EXPECT_EQ(r.RawHeaders().GetValue(u"Accept-Ranges"), u"bytes");
  EXPECT_EQ(r.RawHeaders().GetValue(u"Accept-Patch"), u"text/x");
  EXPECT_EQ(r.RawHeaders().GetValue(u"Last-Modified"), u"Sat, 01 Jul 2023 08:00:00 GMT");
}

TEST(ResponseHeaderInfo, ClearEmptiesTheResponseFields) {
  TIdResponseHeaderInfo r;
  r.RawHeaders().SetText(u"Location: /x\r\nServer: s\r\nWWW-Authenticate: Basic\r\n"
                         u"Content-Type: text/html; charset=utf-8\r\nAccept-Ranges: bytes\r\n");
  r.ParseRawHeaders();
  r.Clear();
  EXPECT_EQ(r.Location(), u"");
  EXPECT_EQ(r.Server(), u"");
  EXPECT_EQ(r.ContentType(), u"");
  EXPECT_EQ(r.CharSet(), u"");
  EXPECT_EQ(r.AcceptRanges(), u"");
  EXPECT_EQ(r.WWWAuthenticate().Count(), 0);
  EXPECT_EQ(r.RawHeaders().Count(), 0);
  EXPECT_EQ(r.ContentLength(), -1);
}

TEST(EntityRanges, TextBothWays) {
  struct Case {
    const char16_t* Text;
    const char16_t* Back;
  } cases[] = {
      {u"bytes=0-99,-50", u"bytes=0-99,-50"},
      {u"bytes=500-", u"bytes=500-"},
      {u" items = 5-10 , , 20- ", u"items=5-10,20-"},
      {u"=0-1", u"bytes=0-1"},
      {u"bytes=x-5", u""},
      {u"", u""},
  };
  for (const auto& c : cases) {
    TIdEntityRanges ranges;
    ranges.SetText(c.Text);
    EXPECT_EQ(ranges.Text(), c.Back) << ToUtf8(c.Text);
  }
  TIdEntityRanges ranges;
  ranges.SetText(u"bytes=0-99,-50,7-");
  ASSERT_EQ(ranges.Count(), 3);
  EXPECT_EQ(std::tuple(ranges.Items(0).StartPos(), ranges.Items(0).EndPos(), ranges.Items(0).SuffixLength()),
            std::tuple(int64_t(0), int64_t(99), int64_t(-1)));
  EXPECT_EQ(std::tuple(ranges.Items(1).StartPos(), ranges.Items(1).EndPos(), ranges.Items(1).SuffixLength()),
            std::tuple(int64_t(-1), int64_t(-1), int64_t(50)));
  EXPECT_EQ(std::tuple(ranges.Items(2).StartPos(), ranges.Items(2).EndPos()), std::tuple(int64_t(7), int64_t(-1)));
  // Text without units keeps the units.
  ranges.SetUnits(u"pages");
  ranges.SetText(u"1-2");
  EXPECT_EQ(ranges.Text(), u"pages=1-2");
}

struct MetaCase {
  const char* Html;
  std::vector<String> Lines;
  const char16_t* CharSet;
};

void PrintTo(const MetaCase& ACase, std::ostream* AOut) { *AOut << ACase.Html; }

class MetaScanner : public ::testing::TestWithParam<MetaCase> {};

TEST_P(MetaScanner, FindsHeadMetaTags) {
  const MetaCase& c = GetParam();
  TMemoryStream stream;
  stream.WriteBuffer(c.Html, static_cast<int64_t>(strlen(c.Html)));
  stream.SetPosition(3);
  TStringList headers;
  String charset = u"stale";
  ParseMetaHTTPEquiv(&stream, headers, charset);
  EXPECT_EQ(Lines(headers), c.Lines);
  EXPECT_EQ(charset, c.CharSet);
  EXPECT_EQ(stream.Position(), 3);
}

INSTANTIATE_TEST_SUITE_P(
    Html, MetaScanner,
    ::testing::Values(
        MetaCase{"<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1252\">"
                 "<title>x</title></head><body></body></html>",
                 {u"Content-Type: text/html; charset=windows-1252"},
                 u""},
        MetaCase{"<!DOCTYPE html>\n<?xml version=\"1.0\"?><html lang=en><head><meta charset=\"utf-8\">"
                 "<meta http-equiv='refresh' content='5; url=/x'/></head>",
                 {u"refresh: 5; url=/x"},
                 u"utf-8"},
        MetaCase{"<html><head><!-- <meta http-equiv=\"X-A\" content=\"no\"> --><meta http-equiv=X-B content=yes>",
                 {u"X-B: yes"},
                 u""},
        MetaCase{"<html><head><script>var s = \"<meta http-equiv='X-S' content='no'>\";</script>"
                 "<title>a <meta http-equiv='X-T' content='no'></title><link rel=x href='<meta>'>"
                 "<meta http-equiv=\"X-U\" data=\"d\" content=\"u\" />",
                 {u"X-U: u"},
                 u""},
        MetaCase{"<html><body><meta http-equiv=\"X-Late\" content=\"no\"></body></html>", {}, u""},
        MetaCase{"<head><meta http-equiv=\"X\" content=\"y\"></head>", {}, u""},
        MetaCase{"<html><title>t</title><head><meta http-equiv=\"X\" content=\"y\"></head>", {}, u""},
        // A value cut short by a stray quote goes on to the next quote.
        MetaCase{"<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=\"utf-8\"\">",
                 {u"Content-Type: text/html; charset=utf-8"},
                 u""},
        MetaCase{"<HTML>\n<HEAD>\r\n< META\tHTTP-EQUIV = \"Expires\" CONTENT = \"0\" >"
                 "<meta name=description content=none><meta charset = koi8-r >",
                 {u"Expires: 0"},
                 u"koi8-r"},
        // Text that ends inside a tag ends the scan.
        MetaCase{"<html><head><meta http-equiv=\"X\" content=\"abc", {u"X: abc"}, u""},
        MetaCase{"<html><head><meta charset", {}, u""},
        MetaCase{"", {}, u""}));

TEST(MetaHTTPEquiv, ResponseTakesTheMetaHeadersAndCharset) {
  const char* html =
      "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1252\">"
      "<meta http-equiv=\"Refresh\" content=\"5\"></head>";
  TMemoryStream body;
  body.WriteBuffer(html, static_cast<int64_t>(strlen(html)));
  TIdResponseHeaderInfo response;
  response.RawHeaders().SetText(u"Content-Type: text/html\r\nServer: s\r\n");
  response.ParseRawHeaders();
  ASSERT_EQ(response.CharSet(), u"ISO-8859-1");
  TIdMetaHTTPEquiv meta;
  response.ProcessMetaHTTPEquiv(meta, &body);
  EXPECT_EQ(response.RawHeaders().GetValue(u"Content-Type"), u"text/html; charset=windows-1252");
  EXPECT_EQ(response.RawHeaders().GetValue(u"Refresh"), u"5");
  EXPECT_EQ(response.Server(), u"s");
  EXPECT_EQ(response.CharSet(), u"windows-1252");
  EXPECT_EQ(meta.CharSet(), u"windows-1252");

  // A <meta charset> wins; a body without meta tags leaves the response alone.
  const char* html5 = "<html><head><meta charset=utf-8><meta http-equiv=\"Content-Type\" content=\"text/html; "
                      "charset=latin2\">";
  TMemoryStream body5;
  body5.WriteBuffer(html5, static_cast<int64_t>(strlen(html5)));
  TIdMetaHTTPEquiv meta5;
  response.ProcessMetaHTTPEquiv(meta5, &body5);
  EXPECT_EQ(response.CharSet(), u"utf-8");

  TMemoryStream plain;
  plain.WriteBuffer("<html><body>hi</body></html>", 28);
  TIdMetaHTTPEquiv none;
  response.ProcessMetaHTTPEquiv(none, &plain);
  EXPECT_EQ(response.CharSet(), u"utf-8");
}

class TOwnerComponent : public TComponent {
public:
  using TComponent::TComponent;
};

TEST(EntityHeaderInfo, OwnerComponentWalksUpTheOwners) {
  TOwnerComponent component;
  TIdResponseHeaderInfo response(&component);
  TIdMetaHTTPEquiv meta(&response);
  EXPECT_EQ(response.OwnerComponent(), &component);
  EXPECT_EQ(meta.OwnerComponent(), &component);
  TIdEntityHeaderInfo orphan;
  EXPECT_EQ(orphan.OwnerComponent(), nullptr);
}

TEST(ProxyConnectionInfo, CredentialsAndTheirLifetime) {
  TIdProxyConnectionInfo p;
  p.SetProxyServer(u"Proxy.Local");
  p.SetProxyPort(3128);
  p.SetProxyUsername(u"pu");
  p.SetProxyPassword(u"pp");
  TIdHeaderList headers(QuoteHTTP);
  p.SetHeaders(headers);
  EXPECT_EQ(headers.Count(), 0);
  {
    TBasicFactoryGuard guard(&CreateFake);
    p.SetBasicAuthentication(true);
    p.SetHeaders(headers);
  }
  EXPECT_EQ(headers.GetValue(u"Proxy-Authorization"), u"Fake pu/pp");
  ASSERT_NE(p.Authentication(), nullptr);
  // The same server in other letters and the same port keep the object.
  p.SetProxyServer(u"proxy.local");
  p.SetProxyPort(3128);
  EXPECT_NE(p.Authentication(), nullptr);
  p.SetProxyPort(8080);
  EXPECT_EQ(p.Authentication(), nullptr);
  p.SetAuthentication(CreateFake());
  p.SetProxyServer(u"other");
  EXPECT_EQ(p.Authentication(), nullptr);

  p.SetAuthentication(CreateFake());
  TIdProxyConnectionInfo copy;
  copy.Assign(&p);
  EXPECT_EQ(copy.ProxyServer(), u"other");
  EXPECT_EQ(copy.ProxyPort(), 8080);
  EXPECT_EQ(copy.ProxyUsername(), u"pu");
  EXPECT_EQ(copy.ProxyPassword(), u"pp");
  EXPECT_TRUE(copy.BasicAuthentication());
  EXPECT_EQ(copy.Authentication(), nullptr);

  p.Clear();
  EXPECT_EQ(p.ProxyServer(), u"");
  EXPECT_EQ(p.ProxyPort(), 0);
  EXPECT_EQ(p.ProxyUsername(), u"");
  EXPECT_EQ(p.ProxyPassword(), u"");
}

}  // namespace
}  // namespace vyn
