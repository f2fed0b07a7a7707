#include "vynIdGlobalProtocols.h"

namespace vyn {

String MergePath(StringView ABasePath, StringView APath, StringView ADelimiter) {
  if (ADelimiter.empty()) return String(ABasePath) + String(APath);
  if (APath.starts_with(ADelimiter)) return String(APath);
  const bool keepTrailing = APath.empty() || APath.ends_with(ADelimiter);

  String work(ABasePath);
  if (!work.empty() && !work.ends_with(ADelimiter)) work += ADelimiter;
  work += APath;

  const size_t d = ADelimiter.size();
  // A ".." kept because there was nothing to take back is not taken back by the next.
  const String keptParent = u".." + String(ADelimiter);
  const auto endsWithKeptParent = [&](const String& AOut) {
    return AOut == keptParent || AOut.ends_with(String(ADelimiter) + keptParent);
  };
  String out;
  out.reserve(work.size());
  size_t i = 0;
  while (i < work.size()) {
    const StringView rest = StringView(work).substr(i);
    if (rest.starts_with(ADelimiter)) {
      // Only a leading delimiter makes the result absolute: a relative path whose
      // segments were all taken back by ".." stays relative.
      if (i == 0 || (!out.empty() && !out.ends_with(ADelimiter))) out += ADelimiter;
      i += d;
      continue;
    }
    // Only a whole ".." segment goes up: "..foo" and "..." are names like any other.
    // At the root it stays there; with nothing left to take back it is kept.
    if (rest.starts_with(u"..") && !out.empty() && out.ends_with(ADelimiter) &&
        (rest.size() == 2 || rest.substr(2).starts_with(ADelimiter)) && !endsWithKeptParent(out)) {
      if (out != ADelimiter) {
        out.erase(out.size() - d);
        while (!out.empty() && !out.ends_with(ADelimiter)) out.pop_back();
      }
      i += 2;
      continue;
    }
    out += work[i];
    ++i;
  }
  if (out != ADelimiter && out.ends_with(ADelimiter) && !keepTrailing) out.erase(out.size() - d);
  return out;
}

namespace {

StringView SpecialsOf(TIdHeaderQuotingType AQuoteType) {
  switch (AQuoteType) {
    case QuoteRFC822: return u"()<>@,;:\\\"./";
    case QuoteMIME: return u"()<>@,;:\\\"/[]?=";
    case QuoteHTTP: return u"()<>@,;:\\\"/[]?={} \t";
    case QuotePlain: break;
  }
  return {};
}

}  // namespace

bool CharForcesQuotes(char16_t AChar, TIdHeaderQuotingType AQuoteType) {
  if (AChar <= 32 || AChar == 127) return true;
  return SpecialsOf(AQuoteType).find(AChar) != StringView::npos;
}

std::vector<TIdHeaderParam> SplitHeaderParams(StringView ALine, TIdHeaderQuotingType AQuoteType) {
  std::vector<TIdHeaderParam> params;
  const size_t semi = ALine.find(u';');
  if (semi == StringView::npos) return params;
  String text(ALine.substr(semi + 1));
  for (;;) {
    text = TrimLeft(text);
    if (text.empty()) break;
    TIdHeaderParam param;
    param.Name = Trim(SplitOffToken(text, u"="));
    text = TrimLeft(text);
    if (!text.empty() && text[0] == u'"') {
      param.Quoted = true;
      bool closed = false;
      size_t i = 1;
      String value;
      while (i < text.size()) {
        const char16_t c = text[i];
        if (c == u'\\' && i + 1 < text.size()) {
          value += text[i + 1];
          i += 2;
          continue;
        }
        if (c == u'"') {
          closed = true;
          ++i;
          break;
        }
        value += c;
        ++i;
      }
      // A value whose closing quote is missing is not trusted: it comes out empty.
      if (closed) param.Value = std::move(value);
      text.erase(0, closed ? i : 1);
      const size_t next = text.find(u';');
      text.erase(0, next == String::npos ? String::npos : next + 1);
    } else {
      size_t i = 0;
      while (i < text.size() && !CharForcesQuotes(text[i], AQuoteType)) ++i;
      param.Value = text.substr(0, i);
      // Blanks may stand before the ";" that ends the parameter ("a=1 ; b=2").
      size_t j = i;
      while (j < text.size() && (text[j] == u' ' || text[j] == u'\t')) ++j;
      if (j < text.size() && text[j] == u';') i = j;
      if (i < text.size() && text[i] == u';') ++i;
      text.erase(0, i);
    }
    if (!param.Name.empty() && (param.Quoted || !param.Value.empty())) params.push_back(std::move(param));
  }
  return params;
}

String HeaderMainValue(StringView ALine) {
  return Trim(ALine.substr(0, ALine.find(u';')));
}

String HeaderParamValue(StringView ALine, StringView AName, TIdHeaderQuotingType AQuoteType) {
  for (const auto& param : SplitHeaderParams(ALine, AQuoteType))
    if (TextEqualsIgnoreCase(param.Name, AName)) return param.Value;
  return {};
}

String WithHeaderParam(StringView ALine, StringView AName, StringView AValue,
                       TIdHeaderQuotingType AQuoteType) {
  auto params = SplitHeaderParams(ALine, AQuoteType);
  auto found = params.end();
  for (auto it = params.begin(); it != params.end(); ++it)
    if (TextEqualsIgnoreCase(it->Name, AName)) {
      found = it;
      break;
    }
  const String value = Trim(AValue);
  if (!value.empty()) {
    if (found != params.end()) found->Value = value;
    else params.push_back({String(AName), value, false});
  } else {
    if (found == params.end()) return String(ALine);
    params.erase(found);
  }
  String result = HeaderMainValue(ALine);
  if (result.empty()) return {};
  for (const auto& param : params) {
    result += u"; ";
    result += param.Name;
    result += u'=';
    result += QuoteParamValue(param.Value, param.Quoted, AQuoteType);
  }
  return result;
}

String WithoutHeaderParam(StringView ALine, StringView AName, TIdHeaderQuotingType AQuoteType,
                          String& AOld) {
  AOld = HeaderParamValue(ALine, AName, AQuoteType);
  return WithHeaderParam(ALine, AName, u"", AQuoteType);
}

String QuoteParamValue(StringView AValue, bool AForceQuotes, TIdHeaderQuotingType AQuoteType) {
  if (AValue.empty()) return {};
  const bool escapeCR = AQuoteType == QuoteRFC822 || AQuoteType == QuoteMIME;
  bool quote = AForceQuotes;
  String out;
  out.reserve(AValue.size() + 2);
  for (const char16_t c : AValue) {
    if (c == u'"' || c == u'\\' || (escapeCR && c == u'\r')) {
      out += u'\\';
      quote = true;
    } else if (CharForcesQuotes(c, AQuoteType)) {
      quote = true;
    }
    out += c;
  }
  return quote ? u'"' + out + u'"' : out;
}

bool MediaTypeIs(StringView AValue, StringView AType) {
  if (AType.find(u'/') == StringView::npos) return TextHasPrefix(AValue, String(AType) + u'/');
  return TextEqualsIgnoreCase(AValue, AType);
}

bool HasMediaType(StringView ALine, StringView AType) { return MediaTypeIs(HeaderMainValue(ALine), AType); }

bool HasAnyMediaType(StringView ALine, std::initializer_list<StringView> ATypes) {
  const String main = HeaderMainValue(ALine);
  for (const auto type : ATypes)
    if (MediaTypeIs(main, type)) return true;
  return false;
}

bool HasAnyMediaType(StringView ALine, const std::vector<String>& ATypes) {
  const String main = HeaderMainValue(ALine);
  for (const auto& type : ATypes)
    if (MediaTypeIs(main, type)) return true;
  return false;
}

String MediaSubType(StringView ALine) {
  const String main = HeaderMainValue(ALine);
  const size_t slash = main.find(u'/');
  return slash == String::npos ? String() : main.substr(slash + 1);
}

}  // namespace vyn
