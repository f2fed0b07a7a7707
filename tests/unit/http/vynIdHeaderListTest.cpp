#include "vynIdHeaderList.h"

#include <gtest/gtest.h>

#include <vector>

namespace vyn {
namespace {

std::vector<String> Lines(const TStrings& AList) {
  std::vector<String> out;
  for (int i = 0; i < AList.Count(); ++i) out.push_back(AList[i]);
  return out;
}

void Load(TStrings& AList, std::initializer_list<const char16_t*> ALines) {
  AList.Clear();
  for (const auto* line : ALines) AList.Add(line);
}

TEST(HeaderList, LookupIgnoresCaseAndNeedsTheSeparator) {
  TIdHeaderList h(QuoteHTTP);
  Load(h, {u"Content-Type: text/html; charset=UTF-8", u"NoColon", u"Spaced : x", u"\tcont: y",
           u"content-type: second"});
  EXPECT_EQ(h.GetValue(u"content-type"), u"text/html; charset=UTF-8");
  EXPECT_EQ(h.Values(u"CONTENT-TYPE"), u"text/html; charset=UTF-8");
  EXPECT_EQ(h.GetParam(u"Content-Type", u"charset"), u"UTF-8");
  EXPECT_EQ(h.GetAllParams(u"Content-Type"), u"charset=UTF-8");
  EXPECT_EQ(h.GetName(1), u"");
  EXPECT_EQ(h.IndexOfName(u"NoColon"), -1);
  // Names are not trimmed, and continuation lines are looked at too.
  EXPECT_EQ(h.GetName(2), u"Spaced ");
  EXPECT_EQ(h.IndexOfName(u"Spaced"), -1);
  EXPECT_EQ(h.IndexOfName(u"\tcont"), 3);
  EXPECT_EQ(h.GetValue(u"Absent"), u"");
  EXPECT_EQ(h.GetParam(u"Absent", u"charset"), u"");
}

TEST(HeaderList, ContinuationLinesJoinWithOneBlank) {
  TIdHeaderList h(QuoteHTTP);
  Load(h, {u"Subject: first  ", u"\t second", u"   third ", u"Next: n", u"Subject: again"});
  EXPECT_EQ(h.GetValue(u"Subject"), u"first second third");
  int index = 0;
  EXPECT_EQ(h.GetValueFromLine(index), u"first second third");
  EXPECT_EQ(index, 3);

  TIdHeaderList extracted(QuoteHTTP);
  h.Extract(u"subject", extracted);
  EXPECT_EQ(Lines(extracted), (std::vector<String>{u"first second third", u"again"}));

  TStringList std;
  h.ConvertToStdValues(std);
  EXPECT_EQ(Lines(std), (std::vector<String>{u"Subject=first second third", u"Next=n", u"Subject=again"}));

  h.SetUnfoldLines(false);
  EXPECT_EQ(h.GetValue(u"Subject"), u"first");
}

TEST(HeaderList, SetValueReplacesTheFirstAndDeletesWithEmpty) {
  TIdHeaderList h(QuoteHTTP);
  Load(h, {u"A: 1", u"B: folded", u" more", u"a: 2"});
  h.SetValue(u"a", u"x");
  EXPECT_EQ(Lines(h), (std::vector<String>{u"a: x", u"B: folded", u" more", u"a: 2"}));
  // Replacing a folded header drops its continuation lines.
  h.SetValue(u"B", u"y");
  EXPECT_EQ(Lines(h), (std::vector<String>{u"a: x", u"B: y", u"a: 2"}));
  h.SetValue(u"C", u"new");
  EXPECT_EQ(h[3], u"C: new");
  h.SetValue(u"A", u"");
  EXPECT_EQ(Lines(h), (std::vector<String>{u"B: y", u"a: 2", u"C: new"}));
  h.SetValue(u"Absent", u"");
  EXPECT_EQ(h.Count(), 3);
}

TEST(HeaderList, WrittenValuesLoseTrailingBlanksAndSplitAtLineBreaks) {
  TIdHeaderList h(QuoteHTTP);
  h.SetValue(u"X", u"value   ");
  EXPECT_EQ(h[0], u"X: value");
  h.SetValue(u"Y", u"one\r\n two\r\n\r\nthree");
  // No empty line may end up inside the block: it would end the header block.
  EXPECT_EQ(Lines(h), (std::vector<String>{u"X: value", u"Y: one", u" two", u"three"}));
  EXPECT_EQ(h.GetValue(u"Y"), u"one two");
  // An HTTP list never wraps.
  const String longValue(500, u'a');
  h.SetValue(u"Z", longValue + u", " + longValue);
  EXPECT_EQ(h.Count(), 5);
}

TEST(HeaderList, FoldingWrapsAtBreaksOutsideQuotes) {
  TIdHeaderList h(QuoteMIME);
  ASSERT_EQ(h.FoldLength(), 78);
  String value;
  for (int i = 0; i < 20; ++i) value += u"word" + IntToStr(i) + (i % 3 ? u" " : u",");
  value += u"\"a quoted stretch that is long enough to pass the fold column by itself alone\" end";
  h.SetValue(u"Long", value);
  ASSERT_GT(h.Count(), 1);
  for (int i = 0; i < h.Count(); ++i) {
    const String line = h[i];
    if (i > 0) {
      EXPECT_EQ(line[0], u' ');
    }
    EXPECT_NE(line.back(), u' ');
    // Only the line holding the quoted stretch may pass the column.
    if (line.find(u'"') == String::npos) {
      EXPECT_LE(line.size(), 78u) << ToUtf8(line);
    }
  }
  bool quoteWhole = false;
  for (int i = 0; i < h.Count(); ++i)
    quoteWhole |= h[i].find(u"\"a quoted stretch that is long enough to pass the fold column by itself alone\"") !=
                  String::npos;
  EXPECT_TRUE(quoteWhole);
  // Reading unfolds it back; a fold after a comma adds no blank that was not there,
  // a fold at a blank keeps one.
  String expected;
  for (int i = 0; i < 20; ++i) expected += u"word" + IntToStr(i) + (i % 3 ? u" " : u",");
  expected += u"\"a quoted stretch that is long enough to pass the fold column by itself alone\" end";
  const String read = h.GetValue(u"Long");
  String squeezedRead, squeezedExpected;
  for (char16_t c : read)
    if (c != u' ') squeezedRead += c;
  for (char16_t c : expected)
    if (c != u' ') squeezedExpected += c;
  EXPECT_EQ(squeezedRead, squeezedExpected);
}

TEST(HeaderList, AddValueAndAddStrings) {
  TIdHeaderList h(QuoteHTTP);
  h.AddValue(u"Set-Cookie", u"a=1");
  h.AddValue(u"Set-Cookie", u"b=2");
  h.AddValue(u"", u"x");
  h.AddValue(u"Empty", u"");
  EXPECT_EQ(Lines(h), (std::vector<String>{u"Set-Cookie: a=1", u"Set-Cookie: b=2"}));

  TStringList plain;
  Load(plain, {u"Name=Value=more", u"Other="});
  TIdHeaderList fromPlain(QuoteHTTP);
  fromPlain.AddStrings(plain);
  EXPECT_EQ(Lines(fromPlain), (std::vector<String>{u"Name: Value=more"}));

  TIdHeaderList raw(QuoteHTTP);
  Load(raw, {u"X:y", u" folded"});
  TIdHeaderList copy(QuoteHTTP);
  copy.AddStrings(raw);
  EXPECT_EQ(Lines(copy), Lines(raw));
  // Assign replaces the lines through the same conversion.
  copy.Assign(&plain);
  EXPECT_EQ(Lines(copy), (std::vector<String>{u"Name: Value=more"}));
}

TEST(HeaderList, ParametersAreSetReplacedAndRemoved) {
  TIdHeaderList h(QuoteHTTP);
  h.SetValue(u"Content-Type", u"text/plain;format=flowed");
  h.SetParam(u"Content-Type", u"charset", u"utf-8");
  EXPECT_EQ(h.GetValue(u"Content-Type"), u"text/plain; format=flowed; charset=utf-8");
  h.SetParam(u"content-type", u"Charset", u"iso-8859-1");
  EXPECT_EQ(h.GetValue(u"Content-Type"), u"text/plain; format=flowed; charset=iso-8859-1");
  h.SetParam(u"Content-Type", u"name", u"my file");
  EXPECT_EQ(h.GetParam(u"Content-Type", u"name"), u"my file");
  EXPECT_NE(h.GetValue(u"Content-Type").find(u"name=\"my file\""), String::npos);
  h.SetParam(u"Content-Type", u"title", u"say \"hi\"");
  EXPECT_NE(h.GetValue(u"Content-Type").find(u"title=\"say \\\"hi\\\"\""), String::npos);
  EXPECT_EQ(h.GetParam(u"Content-Type", u"title"), u"say \"hi\"");
  h.SetParam(u"Content-Type", u"format", u"");
  h.SetParam(u"Content-Type", u"name", u"");
  h.SetParam(u"Content-Type", u"title", u"");
  EXPECT_EQ(h.GetValue(u"Content-Type"), u"text/plain; charset=iso-8859-1");
  // A parameter of an absent header does not create it.
  h.SetParam(u"Content-Disposition", u"filename", u"x");
  EXPECT_EQ(h.IndexOfName(u"Content-Disposition"), -1);

  h.SetAllParams(u"Content-Type", u"a=1; b=2");
  EXPECT_EQ(h.GetValue(u"Content-Type"), u"text/plain; a=1; b=2");
  h.SetAllParams(u"Content-Type", u"");
  EXPECT_EQ(h.GetValue(u"Content-Type"), u"text/plain");
  h.SetAllParams(u"Absent", u"a=1");
  EXPECT_EQ(h.Count(), 1);
}

TEST(HeaderList, MimeAndRfc822ListsSwapQuotingForContentHeaders) {
  // "." ends an RFC 822 value but not a MIME one.
  struct Case {
    TIdHeaderQuotingType List;
    const char16_t* Header;
    const char16_t* Expected;
  } cases[] = {
      {QuoteRFC822, u"Content-Type", u"1.5"},
      {QuoteRFC822, u"Content-Disposition", u"1.5"},
      {QuoteRFC822, u"X-Other", u"1"},
      {QuoteMIME, u"Content-Type", u"1.5"},
      {QuoteMIME, u"X-Other", u"1"},
      {QuoteHTTP, u"X-Other", u"1.5"},
  };
  for (const auto& c : cases) {
    TIdHeaderList h(c.List);
    h.SetValue(c.Header, u"main; v=1.5");
    EXPECT_EQ(h.GetParam(c.Header, u"v"), c.Expected) << ToUtf8(c.Header) << " " << c.List;
  }
}

}  // namespace
}  // namespace vyn
