// TIdHeaderList over lines from the wire: look-up by name, reading values with their
// continuation lines, extracting every header of a name, converting to name=value
// lines, and writing a value back (folded for the non-HTTP lists).
//
// Properties: nothing fails; IndexOfName finds the first line of that name; values are
// trimmed; Extract gives one entry per line of the name; a value set or added reads
// back as given (exactly for HTTP lists, up to blanks where folding wraps it), SetValue
// touches only the header it replaces, and folding never makes an empty line or a line
// that does not continue the header.
#include "vynFuzz.h"
#include "vynIdHeaderList.h"

using namespace vyn;
using namespace vyn::fuzz;

namespace {

std::vector<String> LinesOf(const TStrings& AList) {
  std::vector<String> out;
  for (int i = 0; i < AList.Count(); ++i) out.push_back(AList[i]);
  return out;
}

std::string ShowLines(const std::vector<String>& ALines) {
  std::string out;
  for (const auto& l : ALines) out += "  [" + Show(l) + "]\n";
  return out;
}

// Folding trims each line it makes, so controls next to a break go with the blanks.
String WithoutBlanks(StringView AText) {
  String out;
  for (char16_t c : AText)
    if (c > u' ') out += c;
  return out;
}

// A header name that look-ups find again and folding leaves whole: not empty, no
// ":", and none of the blanks, controls and commas that folding may break after.
bool UsableName(StringView AName) {
  if (AName.empty()) return false;
  for (char16_t c : AName)
    if (c <= u' ' || c == u':' || c == u',') return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  TFuzzInput in(AData, ASize);
  const uint8_t flags = in.Byte();
  const bool http = (flags & 1) == 0;
  TIdHeaderList list(http ? QuoteHTTP : static_cast<TIdHeaderQuotingType>(flags >> 1 & 1 ? QuoteMIME : QuoteRFC822));
  list.SetUnfoldLines((flags & 4) == 0);
  list.SetFoldLines((flags & 8) == 0);
  if (!http) list.SetFoldLength(in.Range(-2, 100));
  const String name = TextFromBytes8Bit(in.Until(0));
  // The value to write: a CR LF inside starts a line of its own by design, so the
  // value is one line.
  String value = TextFromBytes8Bit(in.Until(0));
  std::erase_if(value, [](char16_t c) { return c == u'\r' || c == u'\n'; });
  const String text = TextFromBytes8Bit(in.Rest());
  size_t start = 0;
  while (start < text.size()) {
    const size_t lf = text.find(u'\n', start);
    list.Add(text.substr(start, lf == String::npos ? String::npos : lf - start));
    if (lf == String::npos) break;
    start = lf + 1;
  }
  const std::vector<String> before = LinesOf(list);
  const auto context = [&] {
    return std::string("flags " + std::to_string(flags) + ", fold length " + std::to_string(list.FoldLength()) +
                       ", name [" + Show(name) + "], value [" + Show(value) + "], lines:\n" + ShowLines(before));
  };

  // Reading.
  for (int i = 0; i < list.Count(); ++i) {
    const String n = list.GetName(i);
    if (n.empty()) continue;
    const int found = list.IndexOfName(n);
    FUZZ_CHECK(found >= 0 && found <= i && TextEqualsIgnoreCase(list.GetName(found), n), context());
    const String v = list.GetValue(n);
    FUZZ_CHECK(Trim(v) == v, context());
    if (n[0] != u' ' && n[0] != u'\t') {
      TStringList all;
      list.Extract(n, all);
      int named = 0;
      for (int j = 0; j < list.Count(); ++j) named += TextEqualsIgnoreCase(list.GetName(j), n);
      FUZZ_CHECK(all.Count() == named && all[0] == v, context() + "extract of [" + Show(n) + "]");
    }
  }
  TStringList std;
  list.ConvertToStdValues(std);
  // Every header gives a name=value line (a name may hold "=" itself).
  for (int i = 0; i < std.Count(); ++i) FUZZ_CHECK(std[i].find(u'=') != String::npos, context());
  (void)list.GetParam(name, value);
  (void)list.GetAllParams(name);

  if (!UsableName(name) || value.empty()) return 0;
  // Writing: SetValue replaces the first header of the name (with its continuation
  // lines when folding) or appends one; nothing else changes.
  const int index = list.IndexOfName(name);
  list.SetValue(name, value);
  const std::vector<String> after = LinesOf(list);
  const auto written = [&] { return std::string(context() + "after SetValue:\n" + ShowLines(after)); };
  const size_t at = index >= 0 ? static_cast<size_t>(index) : before.size();
  size_t oldEnd = index >= 0 ? at + 1 : at;
  if (index >= 0 && list.FoldLines())
    while (oldEnd < before.size() && TIdHeaderList::IsContinuationLine(before[oldEnd])) ++oldEnd;
  const size_t tail = before.size() - oldEnd;
  FUZZ_CHECK(after.size() >= at + 1 + tail, written());
  FUZZ_CHECK(std::equal(before.begin(), before.begin() + static_cast<std::ptrdiff_t>(at), after.begin()), written());
  FUZZ_CHECK(std::equal(before.begin() + static_cast<std::ptrdiff_t>(oldEnd), before.end(),
                        after.end() - static_cast<std::ptrdiff_t>(tail)),
             written());
  const size_t newEnd = after.size() - tail;
  FUZZ_CHECK(TextEqualsIgnoreCase(list.GetName(static_cast<int>(at)), name), written());
  for (size_t i = at + 1; i < newEnd; ++i) FUZZ_CHECK(TIdHeaderList::IsContinuationLine(after[i]), written());
  const String expected = Trim(value);
  if (list.FoldLines() && list.UnfoldLines()) {
    const String got = list.GetValue(name);
    if (http)
      FUZZ_CHECK(got == expected, written() + "reads back [" + Show(got) + "]");
    else
      FUZZ_CHECK(WithoutBlanks(got) == WithoutBlanks(expected), written() + "reads back [" + Show(got) + "]");
  }

  // AddValue appends a header that Extract gives last.
  list.AddValue(name, value);
  TStringList all;
  list.Extract(name, all);
  FUZZ_CHECK(all.Count() >= 2, context() + "after AddValue:\n" + ShowLines(LinesOf(list)));
  if (list.UnfoldLines() && list.FoldLines()) {
    const String last = all[all.Count() - 1];
    if (http)
      FUZZ_CHECK(last == expected, context() + "AddValue reads back [" + Show(last) + "]");
    else
      FUZZ_CHECK(WithoutBlanks(last) == WithoutBlanks(expected),
                 context() + "AddValue reads back [" + Show(last) + "]");
  }
  return 0;
}
