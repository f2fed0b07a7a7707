#include "vynWSHTTPProtocol.h"

#include <cstdio>

namespace vyn {

namespace {

bool IsTokenChar(char16_t C) {
  if (C >= u'0' && C <= u'9') return true;
  if ((C | 0x20) >= u'a' && (C | 0x20) <= u'z') return true;
  switch (C) {
    case u'!': case u'#': case u'$': case u'%': case u'&': case u'\'': case u'*': case u'+':
    case u'-': case u'.': case u'^': case u'_': case u'`': case u'|': case u'~':
      return true;
    default:
      return false;
  }
}

bool IsToken(StringView S) {
  if (S.empty()) return false;
  for (char16_t c : S)
    if (!IsTokenChar(c)) return false;
  return true;
}

bool IsDigit(char16_t C) { return C >= u'0' && C <= u'9'; }

int HexValue(char16_t C) {
  if (C >= u'0' && C <= u'9') return C - u'0';
  if (C >= u'a' && C <= u'f') return C - u'a' + 10;
  if (C >= u'A' && C <= u'F') return C - u'A' + 10;
  return -1;
}

}  // namespace

TvynWSRequestLineResult ParseRequestLine(StringView ALine, TvynWSRequestLine& VLine) {
  const size_t sp1 = ALine.find(u' ');
  if (sp1 == StringView::npos) return rlMalformed;
  const size_t sp2 = ALine.find(u' ', sp1 + 1);
  if (sp2 == StringView::npos || ALine.find(u' ', sp2 + 1) != StringView::npos) return rlMalformed;
  const StringView method = ALine.substr(0, sp1);
  const StringView target = ALine.substr(sp1 + 1, sp2 - sp1 - 1);
  const StringView version = ALine.substr(sp2 + 1);
  if (!IsToken(method) || target.empty()) return rlMalformed;
  for (char16_t c : target)
    if (c <= 0x20 || c >= 0x7F) return rlMalformed;
  if (version.size() != 8 || version.substr(0, 5) != u"HTTP/" || !IsDigit(version[5]) || version[6] != u'.' ||
      !IsDigit(version[7]))
    return rlMalformed;
  VLine.Command = String(method);
  VLine.Target = String(target);
  VLine.Version = String(version);
  VLine.Major = version[5] - u'0';
  VLine.Minor = version[7] - u'0';
  return VLine.Major == 1 ? rlOK : rlVersionNotSupported;
}

bool SplitRequestTarget(StringView ATarget, String& VPath, String& VQuery) {
  StringView t = ATarget;
  const size_t hash = t.find(u'#');
  if (hash != StringView::npos) t = t.substr(0, hash);
  if (t.empty()) return false;
  if (t[0] != u'/') {
    // The absolute form: scheme "://" authority, then the path.
    const size_t scheme = t.find(u"://");
    if (scheme == StringView::npos || scheme == 0 || !IsToken(t.substr(0, scheme))) return false;
    const size_t pathStart = t.find_first_of(u"/?", scheme + 3);
    if (pathStart == StringView::npos) {
      VPath = u"/";
      VQuery.clear();
      return true;
    }
    t = t.substr(pathStart);
  }
  const size_t q = t.find(u'?');
  VPath = String(t.substr(0, q));
  if (VPath.empty()) VPath = u"/";
  VQuery = q == StringView::npos ? String() : String(t.substr(q + 1));
  return true;
}

String DecodeURLComponent(StringView AText, bool APlusIsSpace) {
  std::string bytes;
  bytes.reserve(AText.size());
  for (size_t i = 0; i < AText.size(); ++i) {
    const char16_t c = AText[i];
    if (c == u'%' && i + 2 < AText.size() && HexValue(AText[i + 1]) >= 0 && HexValue(AText[i + 2]) >= 0) {
      bytes.push_back(static_cast<char>(HexValue(AText[i + 1]) * 16 + HexValue(AText[i + 2])));
      i += 2;
    } else if (c == u'+' && APlusIsSpace) {
      bytes.push_back(' ');
    } else {
      bytes.push_back(static_cast<char>(c & 0xFF));
    }
  }
  return FromUtf8(bytes);
}

void DecodeQueryParams(StringView AQuery, TStrings& AParams) {
  size_t start = 0;
  while (start <= AQuery.size()) {
    size_t end = AQuery.find(u'&', start);
    if (end == StringView::npos) end = AQuery.size();
    const StringView part = AQuery.substr(start, end - start);
    if (!part.empty()) {
      const size_t eq = part.find(u'=');
      const String name = DecodeURLComponent(part.substr(0, eq), true);
      const String value = eq == StringView::npos ? String() : DecodeURLComponent(part.substr(eq + 1), true);
      AParams.Add(name + u"=" + value);
    }
    start = end + 1;
  }
}

bool ParseHeaderLine(StringView ALine, String& VName, String& VValue) {
  const size_t colon = ALine.find(u':');
  if (colon == StringView::npos || !IsToken(ALine.substr(0, colon))) return false;
  StringView value = ALine.substr(colon + 1);
  for (char16_t c : value)
    if ((c < 0x20 && c != u'\t') || c == 0x7F) return false;
  while (!value.empty() && (value.front() == u' ' || value.front() == u'\t')) value.remove_prefix(1);
  while (!value.empty() && (value.back() == u' ' || value.back() == u'\t')) value.remove_suffix(1);
  VName = String(ALine.substr(0, colon));
  VValue = String(value);
  return true;
}

String HTTPStatusText(int ACode) {
  switch (ACode) {
    case 100: return u"Continue";
    case 101: return u"Switching Protocols";
    case 200: return u"OK";
    case 201: return u"Created";
    case 202: return u"Accepted";
    case 204: return u"No Content";
    case 206: return u"Partial Content";
    case 301: return u"Moved Permanently";
    case 302: return u"Found";
    case 303: return u"See Other";
    case 304: return u"Not Modified";
    case 307: return u"Temporary Redirect";
    case 308: return u"Permanent Redirect";
    case 400: return u"Bad Request";
    case 401: return u"Unauthorized";
    case 403: return u"Forbidden";
    case 404: return u"Not Found";
    case 405: return u"Method Not Allowed";
    case 408: return u"Request Timeout";
    case 411: return u"Length Required";
    case 413: return u"Content Too Large";
    case 414: return u"URI Too Long";
    case 431: return u"Request Header Fields Too Large";
    case 500: return u"Internal Server Error";
    case 501: return u"Not Implemented";
    case 502: return u"Bad Gateway";
    case 503: return u"Service Unavailable";
    case 505: return u"HTTP Version Not Supported";
    default: return u"Unknown";
  }
}

std::string ChunkSizeLine(size_t ASize) {
  char text[24];
  const int n = std::snprintf(text, sizeof text, "%zx\r\n", ASize);
  return std::string(text, static_cast<size_t>(n));
}

}  // namespace vyn
