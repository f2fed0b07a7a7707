#include "vynIdHeaderList.h"

namespace vyn {

namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

// Wraps AText at column AMaxCol by inserting CR LF + space after a tab, space or comma
// outside double quotes; CR LF already in the text ends a line too. A line without such
// a break stays longer than AMaxCol.
String WrapHeaderText(const String& AText, int32_t AMaxCol) {
  String out;
  out.reserve(AText.size());
  size_t lineStart = 0;
  size_t breakAt = String::npos;
  bool lineHasText = false;
  bool inQuote = false;
  for (size_t p = 0; p < AText.size(); ++p) {
    const char16_t c = AText[p];
    if (c == u'\r' && p + 1 < AText.size() && AText[p + 1] == u'\n') {
      out += u"\r\n";
      ++p;
      lineStart = out.size();
      breakAt = String::npos;
      lineHasText = false;
      continue;
    }
    out += c;
    if (c == u'"') inQuote = !inQuote;
    // A break only counts once the line has something to keep before it; otherwise the
    // leading blank of a continuation line would split off empty lines.
    if (!inQuote && (IsBlank(c) || c == u',') && (lineHasText || c == u',')) breakAt = out.size();
    if (!IsBlank(c)) lineHasText = true;
    if (out.size() - lineStart > static_cast<size_t>(AMaxCol) && breakAt != String::npos) {
      out.insert(breakAt, u"\r\n ");
      lineStart = breakAt + 2;
      breakAt = String::npos;
      lineHasText = false;
      for (size_t i = lineStart; i < out.size(); ++i)
        if (!IsBlank(out[i])) lineHasText = true;
    }
  }
  return out;
}

}  // namespace

TIdHeaderList::TIdHeaderList(TIdHeaderQuotingType AQuoteType)
    : FFoldLinesLength(AQuoteType == QuoteHTTP ? INT32_MAX : 78), FQuoteType(AQuoteType) {
  // Keeps the plain name=value access of the base consistent with header lines.
  TStrings::SetNameValueSeparator(u':');
}

String TIdHeaderList::NameSeparator() const { return TrimRight(FNameValueSeparator); }

String TIdHeaderList::GetName(int AIndex) const {
  const String line = Get(AIndex);
  const String sep = NameSeparator();
  const size_t pos = sep.empty() ? String::npos : line.find(sep);
  return pos == String::npos ? String() : line.substr(0, pos);
}

int TIdHeaderList::IndexOfName(const String& AName) const {
  for (int i = 0; i < Count(); ++i)
    if (TextEqualsIgnoreCase(GetName(i), AName)) return i;
  return -1;
}

String TIdHeaderList::GetValueFromLine(int& AIndex) const {
  const String line = Get(AIndex);
  const String sep = NameSeparator();
  const size_t pos = sep.empty() ? String::npos : line.find(sep);
  String value = pos == String::npos ? line : TrimLeft(StringView(line).substr(pos + sep.size()));
  ++AIndex;
  if (FUnfoldLines) {
    while (AIndex < Count()) {
      const String next = Get(AIndex);
      if (!IsContinuationLine(next)) break;
      value = Trim(value) + u' ' + Trim(next);
      ++AIndex;
    }
  }
  return Trim(value);
}

String TIdHeaderList::GetValue(const String& AName) const {
  int index = IndexOfName(AName);
  return index < 0 ? String() : GetValueFromLine(index);
}

void TIdHeaderList::DeleteFoldedLines(int AIndex) {
  while (AIndex + 1 < Count() && IsContinuationLine(Get(AIndex + 1))) Delete(AIndex + 1);
}

std::vector<String> TIdHeaderList::FoldedLines(const String& AText) const {
  std::vector<String> lines;
  if (!FFoldLines) {
    lines.push_back(AText);
    return lines;
  }
  const String wrapped = WrapHeaderText(AText, FFoldLinesLength);
  size_t start = 0;
  for (;;) {
    const size_t end = wrapped.find(u"\r\n", start);
    String piece = TrimRight(StringView(wrapped).substr(start, end == String::npos ? String::npos : end - start));
    // An empty line inside a header block would end the block on the wire.
    if (lines.empty() || !piece.empty()) lines.push_back(std::move(piece));
    if (end == String::npos) break;
    start = end + 2;
  }
  return lines;
}

void TIdHeaderList::SetValue(const String& AName, const String& AValue) {
  int index = IndexOfName(AName);
  if (!AValue.empty()) {
    if (index < 0) index = Add(String());
    if (FFoldLines) {
      DeleteFoldedLines(index);
      const auto lines = FoldedLines(AName + FNameValueSeparator + AValue);
      Put(index, lines[0]);
      for (size_t i = 1; i < lines.size(); ++i) Insert(index + static_cast<int>(i), lines[i]);
    } else {
      Put(index, AName + FNameValueSeparator + AValue);
    }
  } else if (index >= 0) {
    if (FFoldLines) DeleteFoldedLines(index);
    Delete(index);
  }
}

void TIdHeaderList::AddValue(const String& AName, const String& AValue) {
  if (AName.empty() || AValue.empty()) return;
  for (const auto& line : FoldedLines(AName + FNameValueSeparator + AValue)) Add(line);
}

void TIdHeaderList::AddStdValues(const TStrings& ASrc) {
  for (int i = 0; i < ASrc.Count(); ++i) AddValue(ASrc.Names(i), ASrc.ValueFromIndex(i));
}

void TIdHeaderList::AddStrings(const TStrings& AStrings) {
  if (dynamic_cast<const TIdHeaderList*>(&AStrings)) {
    TStringList::AddStrings(AStrings);
    return;
  }
  AddStdValues(AStrings);
}

void TIdHeaderList::Assign(const TPersistent* ASource) {
  TStringList::Assign(ASource);
  TStrings::SetNameValueSeparator(u':');  // the base copies the source's separator
}

void TIdHeaderList::ConvertToStdValues(TStrings& ADest) const {
  const char16_t sep = ADest.NameValueSeparator();
  int i = 0;
  while (i < Count()) {
    const String name = GetName(i);
    if (name.empty()) {
      ++i;
      continue;
    }
    const String value = GetValueFromLine(i);
    ADest.Add(name + sep + value);
  }
}

void TIdHeaderList::Extract(const String& AName, TStrings& ADest) const {
  int i = 0;
  while (i < Count()) {
    if (TextEqualsIgnoreCase(GetName(i), AName)) ADest.Add(GetValueFromLine(i));
    else ++i;
  }
}

TIdHeaderQuotingType TIdHeaderList::ParamQuoteType(const String& AName) const {
  const bool mimeHeader =
      TextEqualsIgnoreCase(AName, u"Content-Type") || TextEqualsIgnoreCase(AName, u"Content-Disposition");
  if (FQuoteType == QuoteRFC822 && mimeHeader) return QuoteMIME;
  if (FQuoteType == QuoteMIME && !mimeHeader) return QuoteRFC822;
  return FQuoteType;
}

String TIdHeaderList::GetParam(const String& AName, const String& AParam) const {
  return HeaderParamValue(GetValue(AName), AParam, ParamQuoteType(AName));
}

void TIdHeaderList::SetParam(const String& AName, const String& AParam, const String& AValue) {
  SetValue(AName, WithHeaderParam(GetValue(AName), AParam, AValue, ParamQuoteType(AName)));
}

String TIdHeaderList::GetAllParams(const String& AName) const {
  const String value = GetValue(AName);
  const size_t pos = value.find(u';');
  return pos == String::npos ? String() : Trim(StringView(value).substr(pos + 1));
}

void TIdHeaderList::SetAllParams(const String& AName, const String& AValue) {
  if (IndexOfName(AName) < 0) return;
  String value = HeaderMainValue(GetValue(AName));
  if (!AValue.empty()) value += u"; " + AValue;
  SetValue(AName, value);
}

}  // namespace vyn
