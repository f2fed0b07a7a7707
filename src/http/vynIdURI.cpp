#include "vynIdURI.h"

#include "vynIdResourceStrings.h"
#include "vynIdTextEncoding.h"

namespace vyn {

namespace {

// What may not appear raw in a query; a path also escapes "+", which some servers
// read as a blank there.
constexpr StringView QueryUnsafeChars = u"*<>#%\"{}|\\^[]`";
constexpr StringView PathUnsafeChars = u"*<>#%\"{}|\\^[]`+";

constexpr char16_t HexDigits[] = u"0123456789ABCDEF";

bool IsHexDigit(char16_t C) {
  return (C >= u'0' && C <= u'9') || (C >= u'A' && C <= u'F') || (C >= u'a' && C <= u'f');
}

int HexValue(char16_t C) {
  if (C <= u'9') return C - u'0';
  if (C <= u'F') return C - u'A' + 10;
  return C - u'a' + 10;
}

// Reads ACount hexadecimal digits at APos; false (and nothing read) when the text is
// too short or a character is not a digit, so no caller ever reads past the end.
bool ReadHex(StringView AText, size_t APos, size_t ACount, uint16_t& AValue) {
  if (APos > AText.size() || AText.size() - APos < ACount) return false;
  uint16_t v = 0;
  for (size_t i = 0; i < ACount; ++i) {
    const char16_t c = AText[APos + i];
    if (!IsHexDigit(c)) return false;
    v = static_cast<uint16_t>(v << 4 | HexValue(c));
  }
  AValue = v;
  return true;
}

bool IsHighSurrogate(char16_t C) { return C >= 0xD800 && C <= 0xDBFF; }
bool IsLowSurrogate(char16_t C) { return C >= 0xDC00 && C <= 0xDFFF; }

// Code units of the character at AIndex: 2 for a surrogate pair, else 1.
size_t CharLength(StringView AText, size_t AIndex) {
  return IsHighSurrogate(AText[AIndex]) && AIndex + 1 < AText.size() && IsLowSurrogate(AText[AIndex + 1])
             ? 2
             : 1;
}

bool IsSlash(char16_t C) { return C == u'/' || C == u'\\'; }

// Position of the "://" that ends a scheme, or npos. A "://" after a "/", "?" or "#"
// sits in a path, query or bookmark (a relative "/login?next=http://other/" must
// not turn "other" into the host).
size_t SchemeSeparator(StringView AText) {
  const size_t pos = AText.find(u"://");
  if (pos == StringView::npos || AText.substr(0, pos).find_first_of(u"/\\?#") != StringView::npos) {
    return StringView::npos;
  }
  return pos;
}

// Moves the query and the bookmark out of AText. Whichever of "?" and "#" comes
// first starts its part: a "?" inside a bookmark belongs to the bookmark.
void SplitOffQueryAndBookmark(String& AText, String& AParams, String& ABookmark) {
  const size_t q = AText.find(u'?');
  const size_t h = AText.find(u'#');
  if (q != String::npos && (h == String::npos || q < h)) {
    AParams = AText.substr(q + 1);
    AText.erase(q);
    const size_t ph = AParams.find(u'#');
    if (ph != String::npos) {
      ABookmark = AParams.substr(ph + 1);
      AParams.erase(ph);
    }
  } else if (h != String::npos) {
    ABookmark = AText.substr(h + 1);
    AText.erase(h);
  }
}

bool IsDefaultPort(StringView AProtocol, StringView APort) {
  return (SameText(AProtocol, u"HTTP") && APort == u"80") || (SameText(AProtocol, u"HTTPS") && APort == u"443") ||
         (SameText(AProtocol, u"FTP") && APort == u"21");
}

String EncodeUnsafe(StringView ASrc, StringView AUnsafe, const IIdTextEncoding& AByteEncoding) {
  if (ASrc.empty()) return {};
  const IIdTextEncoding& enc = ResolveEncoding(AByteEncoding, nullptr, encUTF8);
  String out;
  out.reserve(ASrc.size());
  size_t i = 0;
  while (i < ASrc.size()) {
    const char16_t c = ASrc[i];
    uint16_t ignored;
    if (c == u'%' && ReadHex(ASrc, i + 1, 2, ignored)) {
      out.append(ASrc.substr(i, 3));  // an existing escape: encoding twice changes nothing
      i += 3;
      continue;
    }
    // DEL is a control character like those below the blank: never sent raw.
    if (c > 0x20 && c < 0x7F && AUnsafe.find(c) == StringView::npos) {
      out += c;
      ++i;
      continue;
    }
    const size_t len = CharLength(ASrc, i);
    for (uint8_t b : enc->GetBytes(ASrc.substr(i, len))) {
      out += u'%';
      out += HexDigits[b >> 4];
      out += HexDigits[b & 0x0F];
    }
    i += len;
  }
  return out;
}

}  // namespace

TIdURI::TIdURI(const String& AURI) {
  if (!AURI.empty()) SetURI(AURI);
}

void TIdURI::SetURI(const String& AValue) {
  FURI = AValue;
  NormalizePath(FURI);
  String text = FURI;

  FDocument.clear();
  FProtocol.clear();
  FPort.clear();
  Fpath.clear();
  FHost.clear();
  FBookmark.clear();
  FUserName.clear();
  FPassword.clear();
  FParams.clear();
  FIPVersion = Id_IPv4;

  const size_t sep = SchemeSeparator(text);
  const bool schemeRelative = sep == String::npos && text.starts_with(u"//");

  if (sep == String::npos && !schemeRelative) {
    SplitOffQueryAndBookmark(text, FParams, FBookmark);
    const size_t slash = text.rfind(u'/');
    if (slash != String::npos) {
      Fpath = text.substr(0, slash + 1);
      text.erase(0, slash + 1);
    }
    FDocument = text;
    return;
  }

  if (schemeRelative) {
    text.erase(0, 2);
  } else {
    FProtocol = text.substr(0, sep);
    text.erase(0, sep + 3);
  }
  SplitOffQueryAndBookmark(text, FParams, FBookmark);

  String authority;
  const size_t firstSlash = text.find(u'/');
  if (firstSlash == String::npos) {
    authority = std::move(text);
    text.clear();
  } else {
    authority = text.substr(0, firstSlash);
    text.erase(0, firstSlash + 1);
  }

  // The last "@" ends the user information, so an "@" in a password survives.
  const size_t at = authority.rfind(u'@');
  if (at != String::npos) {
    const String userInfo = authority.substr(0, at);
    authority.erase(0, at + 1);
    const size_t colon = userInfo.find(u':');
    FUserName = userInfo.substr(0, colon);
    if (colon != String::npos) FPassword = userInfo.substr(colon + 1);
    if (FUserName.empty()) FPassword.clear();
  }

  const size_t open = authority.find(u'[');
  const size_t close = authority.find(u']');
  if (open != String::npos && close != String::npos && open < close) {
    FHost = authority.substr(open + 1, close - open - 1);
    const size_t colon = authority.find(u':', close + 1);
    if (colon != String::npos) FPort = authority.substr(colon + 1);
    FIPVersion = Id_IPv6;
  } else {
    const size_t colon = authority.find(u':');
    FHost = authority.substr(0, colon);
    if (colon != String::npos) FPort = authority.substr(colon + 1);
  }

  const size_t lastSlash = text.rfind(u'/');
  if (lastSlash != String::npos) {
    Fpath = u"/" + text.substr(0, lastSlash + 1);
    text.erase(0, lastSlash + 1);
  } else {
    Fpath = u"/";
  }
  FDocument = text;
}

String TIdURI::URI() {
  FURI = GetFullURI({ofAuthInfo, ofBookmark});
  return GetFullURI({});
}

String TIdURI::GetFullURI(TIdURIOptionalFieldsSet AOptionalFields) const {
  if (FProtocol.empty()) EIdURIException::Toss(RSURINoProto);
  if (FHost.empty()) EIdURIException::Toss(RSURINoHost);
  String out = FProtocol + u"://";
  if (AOptionalFields.Contains(ofAuthInfo) && !FUserName.empty()) {
    out += FUserName;
    if (!FPassword.empty()) out += u":" + FPassword;
    out += u'@';
  }
  if (FIPVersion == Id_IPv6) out += u"[" + FHost + u"]";
  else out += FHost;
  if (!FPort.empty() && !IsDefaultPort(FProtocol, FPort)) out += u":" + FPort;
  out += GetPathAndParams();
  if (AOptionalFields.Contains(ofBookmark) && !FBookmark.empty()) out += u"#" + FBookmark;
  return out;
}

String TIdURI::GetPathAndParams() const {
  String out = Fpath + FDocument;
  if (!FParams.empty()) out += u"?" + FParams;
  return out;
}

void TIdURI::NormalizePath(String& APath) {
  size_t start = 0;
  // Skip a scheme and its "//" (or "\\", kept as written). A ":" after a "/", "\",
  // "?" or "#" is part of the path or query, not the end of a scheme.
  const size_t colon = APath.find(u':');
  if (colon != String::npos && APath.find_first_of(u"/\\?#") > colon) {
    start = colon + 1;
    if (start + 1 < APath.size() && IsSlash(APath[start]) && IsSlash(APath[start + 1])) start += 2;
  }
  for (size_t i = start; i < APath.size(); ++i) {
    const char16_t c = APath[i];
    if (c == u'?' || c == u'#') break;
    if (c == u'\\') APath[i] = u'/';
  }
}

String TIdURI::URLDecode(StringView ASrc, const IIdTextEncoding& AByteEncoding) {
  const IIdTextEncoding& enc = ResolveEncoding(AByteEncoding, nullptr, encUTF8);
  TIdBytes bytes;
  bytes.reserve(ASrc.size());
  size_t i = 0;
  while (i < ASrc.size()) {
    if (ASrc[i] != u'%') {
      // Plain text is the caller's text: it goes through the same encoding as the
      // escapes so that it comes back unchanged (with the 8-bit encoding that is one
      // byte per character, its low 8 bits).
      size_t end = ASrc.find(u'%', i);
      if (end == StringView::npos) end = ASrc.size();
      AppendBytesTo(bytes, enc->GetBytes(ASrc.substr(i, end - i)));
      i = end;
      continue;
    }
    uint16_t unit;
    if (i + 1 < ASrc.size() && (ASrc[i + 1] == u'u' || ASrc[i + 1] == u'U') && ReadHex(ASrc, i + 2, 4, unit)) {
      String chars(1, static_cast<char16_t>(unit));
      size_t len = 6;
      // A pair written as two escapes is one character: encoding the halves one by one
      // would give two replacement characters.
      uint16_t low;
      if (IsHighSurrogate(unit) && i + 7 < ASrc.size() && ASrc[i + 6] == u'%' &&
          (ASrc[i + 7] == u'u' || ASrc[i + 7] == u'U') && ReadHex(ASrc, i + 8, 4, low) && IsLowSurrogate(low)) {
        chars += static_cast<char16_t>(low);
        len = 12;
      }
      AppendBytesTo(bytes, enc->GetBytes(chars));
      i += len;
      continue;
    }
    uint16_t value;
    if (ReadHex(ASrc, i + 1, 2, value)) {
      bytes.push_back(static_cast<uint8_t>(value));
      i += 3;
      continue;
    }
    // Not an escape ("100%", "%zz", "%u12"): the "%" is kept and what follows it is read
    // as ordinary text, so nothing the caller wrote is lost.
    AppendBytesTo(bytes, enc->GetBytes(u"%"));
    ++i;
  }
  return enc->GetString(bytes);
}

String TIdURI::URLEncode(const String& ASrc, const IIdTextEncoding& AByteEncoding) {
  TIdURI uri(ASrc);
  uri.SetPath(PathEncode(uri.Path(), AByteEncoding));
  uri.SetDocument(PathEncode(uri.Document(), AByteEncoding));
  uri.SetParams(ParamsEncode(uri.Params(), AByteEncoding));
  return uri.URI();
}

String TIdURI::ParamsEncode(StringView ASrc, const IIdTextEncoding& AByteEncoding) {
  return EncodeUnsafe(ASrc, QueryUnsafeChars, AByteEncoding);
}

String TIdURI::PathEncode(StringView ASrc, const IIdTextEncoding& AByteEncoding) {
  return EncodeUnsafe(ASrc, PathUnsafeChars, AByteEncoding);
}

}  // namespace vyn
