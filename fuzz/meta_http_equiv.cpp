// The meta http-equiv scanner over an HTML body, and its results copied into a
// response record.
//
// Two kinds of input, chosen by the first byte:
// - any bytes: the scan ends, keeps the stream's position, and every line it adds has
//   a name separator; the response takes the lines without failing.
// - a document built from pieces (meta tags in both quote styles, charset tags, and
//   meta tags hidden in comments, scripts, titles and processing instructions, with
//   text in between): exactly the visible http-equiv tags become lines, in order, the
//   last charset tag wins, and the response ends up with each header's last value.
#include "vynFuzz.h"
#include "vynIdHTTPHeaderInfo.h"

using namespace vyn;
using namespace vyn::fuzz;

namespace {

std::string ShowLines(const TStrings& ALines) {
  std::string out;
  for (int i = 0; i < ALines.Count(); ++i) out += "  [" + Show(ALines[i]) + "]\n";
  return out;
}

// A word of letters, digits and "-" (what http-equiv names and charsets are), from 1
// to 8 characters.
String Word(TFuzzInput& AIn) {
  static constexpr char16_t kChars[] = u"abcXYZ019-";
  String out;
  const int n = AIn.Range(1, 8);
  for (int i = 0; i < n; ++i) out += kChars[AIn.Range(0, 9)];
  return out;
}

// A content value: words with blanks and the punctuation header values use.
String ContentValue(TFuzzInput& AIn) {
  static constexpr char16_t kChars[] = u"ab;=/,.- 9\t";
  String out;
  const int n = AIn.Range(0, 12);
  for (int i = 0; i < n; ++i) out += kChars[AIn.Range(0, 10)];
  return out;
}

String Cased(const String& AText, bool AUpper) {
  String out = AText;
  for (auto& c : out)
    if (AUpper && c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
  return out;
}

String Quoted(const String& AText, TFuzzInput& AIn) {
  const char16_t q = AIn.Bool() ? u'"' : u'\'';
  return q + AText + q;
}

void ArbitraryBytes(TFuzzInput& AIn) {
  const TIdBytes body = AIn.Rest();
  TMemoryStream stream;
  if (!body.empty()) stream.WriteBuffer(body.data(), static_cast<int64_t>(body.size()));
  const int64_t position = static_cast<int64_t>(body.size() / 2);
  stream.SetPosition(position);
  TStringList lines;
  String charset;
  ParseMetaHTTPEquiv(&stream, lines, charset);
  FUZZ_CHECK(stream.Position() == position, "position moved");
  for (int i = 0; i < lines.Count(); ++i) FUZZ_CHECK(lines[i].find(u':') != String::npos, ShowLines(lines));
  TIdResponseHeaderInfo response;
  TIdMetaHTTPEquiv meta;
  response.ProcessMetaHTTPEquiv(meta, &stream);
}

void BuiltDocument(TFuzzInput& AIn) {
  String html = AIn.Bool() ? u"<!DOCTYPE html>\n<html lang=en>" : u"<?xml version=\"1.0\"?><HTML>";
  html += AIn.Bool() ? u"<head>" : u"<HEAD profile=x>";
  std::vector<std::pair<String, String>> expected;
  String expectedCharset;
  const int pieces = AIn.Range(0, 12);
  for (int i = 0; i < pieces; ++i) {
    const bool upper = AIn.Bool();
    switch (AIn.Range(0, 7)) {
      case 0:
      case 1: {  // <meta http-equiv="Name" content="value">
        const String name = Word(AIn), value = ContentValue(AIn);
        html += Cased(u"<meta http-equiv", upper) + (AIn.Bool() ? u" = " : u"=");
        html += AIn.Bool() ? name : Quoted(name, AIn);
        if (AIn.Bool()) html += u" scheme=\"x\"";
        html += Cased(u" content=", upper) + Quoted(value, AIn);
        html += AIn.Bool() ? u">" : u" />";
        expected.emplace_back(name, value);
        break;
      }
      case 2: {  // <meta charset="x">
        const String name = Word(AIn);
        html += Cased(u"<meta charset", upper) + u'=' + (AIn.Bool() ? name : Quoted(name, AIn)) + u'>';
        expectedCharset = name;
        break;
      }
      case 3:  // a comment hides what is in it
        html += u"<!-- <meta http-equiv=\"Hidden\" content=\"x\"> -->";
        break;
      case 4:  // so do a script and a title
        html += Cased(u"<script>", upper) + u"if (a<b) document.write('<meta http-equiv=Hidden content=x>');" +
                Cased(u"</script>", !upper);
        break;
      case 5:
        html += u"<title>A <meta http-equiv=\"Hidden\" content=\"x\"> title</TITLE>";
        break;
      case 6:  // other tags and text change nothing
        html += AIn.Bool() ? u"<link rel=stylesheet href=a.css>" : u"<meta name=\"viewport\" content=\"w\">";
        html += u"\n  text & more text\n";
        break;
      case 7:
        html += u"<?php echo 1 ?><base href=\"/\">";
        break;
    }
  }
  // Once in the head, only the end of the text ends the scan: a meta tag in the body
  // still counts.
  html += u"</head><body><meta http-equiv=\"Late\" content=\"x\"></body></html>";
  expected.emplace_back(u"Late", u"x");

  TStringStream stream(html);
  TStringList lines;
  String charset;
  ParseMetaHTTPEquiv(&stream, lines, charset);
  const auto context = [&] { return std::string("document [" + Show(html) + "]\nlines:\n" + ShowLines(lines)); };
  FUZZ_CHECK(charset == expectedCharset, context() + "charset [" + Show(charset) + "]");
  FUZZ_CHECK(lines.Count() == static_cast<int>(expected.size()), context());
  for (size_t i = 0; i < expected.size(); ++i) {
    const String line = expected[i].first + u": " + expected[i].second;
    FUZZ_CHECK(lines[static_cast<int>(i)] == line, context() + "expected [" + Show(line) + "]");
  }

  TIdResponseHeaderInfo response;
  response.RawHeaders().Add(u"Content-Type: text/html; charset=ISO-8859-1");
  response.ParseRawHeaders();
  TIdMetaHTTPEquiv meta;
  stream.SetPosition(0);
  response.ProcessMetaHTTPEquiv(meta, &stream);
  for (const auto& [name, value] : expected) {
    String last;
    for (const auto& [n, v] : expected)
      if (TextEqualsIgnoreCase(n, name)) last = v;
    // An empty value sets nothing (and so deletes a header of that name).
    if (Trim(last).empty()) continue;
    FUZZ_CHECK(response.RawHeaders().GetValue(name) == Trim(last),
               context() + "response headers:\n" + ShowLines(response.RawHeaders()));
  }
  if (!expectedCharset.empty()) FUZZ_CHECK(response.CharSet() == expectedCharset, context());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  TFuzzInput in(AData, ASize);
  if (in.Byte() & 1)
    BuiltDocument(in);
  else
    ArbitraryBytes(in);
  return 0;
}
