#include "vynSysUtils.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace vyn {

Exception::Exception(String AMessage, std::exception_ptr AInner)
    : FMessage(std::move(AMessage)), FWhat(ToUtf8(FMessage)), FInner(std::move(AInner)) {}

void Exception::SetMessage(String AMessage) {
  FMessage = std::move(AMessage);
  FWhat = ToUtf8(FMessage);
}

const Exception* Exception::InnerException() const {
  if (!FInner) return nullptr;
  try {
    std::rethrow_exception(FInner);
  } catch (const Exception& e) {
    return &e;  // the object held by FInner, not a copy
  } catch (...) {
    return nullptr;
  }
}

namespace {

String Ascii(const std::string& s) { return String(s.begin(), s.end()); }

[[noreturn]] void FormatError(StringView AFormat) {
  EConvertError::Toss(u"Format '" + String(AFormat) + u"' invalid or incompatible with argument");
}

String Digits(uint64_t v, unsigned base) {
  if (v == 0) return u"0";
  String out;
  while (v) {
    out.insert(out.begin(), u"0123456789ABCDEF"[v % base]);
    v /= base;
  }
  return out;
}

String GroupThousands(const String& digits) {
  String out;
  const size_t n = digits.size();
  for (size_t i = 0; i < n; ++i) {
    if (i && (n - i) % 3 == 0) out += u',';
    out += digits[i];
  }
  return out;
}

// Delphi-style %e: mantissa with `prec` significant digits, exponent sign and 3 digits.
String FormatExponent(double v, int prec) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*E", prec > 0 ? prec - 1 : 0, v);
  std::string s = buf;
  const auto e = s.find('E');
  if (e == std::string::npos) return Ascii(s);
  std::string mant = s.substr(0, e);
  const char sign = s[e + 1];
  std::string exp = s.substr(e + 2);
  while (exp.size() < 3) exp.insert(exp.begin(), '0');
  return Ascii(mant + "E" + sign + exp);
}

String FormatNumber(double v, wchar_t type, int prec) {
  if (std::isnan(v)) return u"NAN";
  if (std::isinf(v)) return v > 0 ? u"INF" : u"-INF";
  char buf[512];
  switch (type) {
    case 'f':
    case 'n': {
      std::snprintf(buf, sizeof buf, "%.*f", prec < 0 ? 2 : prec, v);
      String s = Ascii(buf);
      if (type == 'f') return s;
      const bool neg = !s.empty() && s[0] == u'-';
      if (neg) s.erase(0, 1);
      const auto dot = s.find(u'.');
      String whole = s.substr(0, dot), frac = dot == String::npos ? String() : s.substr(dot);
      return (neg ? u"-" : u"") + GroupThousands(whole) + frac;
    }
    case 'e':
      return FormatExponent(v, prec < 0 ? 15 : prec);
    default: {  // 'g': shortest of fixed and exponent with `prec` significant digits
      const int p = prec < 0 || prec > 18 ? 15 : (prec == 0 ? 1 : prec);
      std::snprintf(buf, sizeof buf, "%.*G", p, v);
      std::string s = buf;
      const auto e = s.find('E');
      if (e == std::string::npos) return Ascii(s);
      std::string exp = s.substr(e + 2);
      while (exp.size() > 1 && exp[0] == '0') exp.erase(0, 1);
      return Ascii(s.substr(0, e) + "E" + s[e + 1] + exp);
    }
  }
}

}  // namespace

String Format(StringView AFormat, std::initializer_list<TVarRec> AArgs) {
  String out;
  const TVarRec* args = AArgs.begin();
  const size_t argc = AArgs.size();
  size_t next = 0;
  size_t i = 0;
  const size_t n = AFormat.size();
  auto readNumber = [&](size_t& pos) -> int {
    int v = 0;
    bool any = false;
    while (pos < n && AFormat[pos] >= u'0' && AFormat[pos] <= u'9') {
      v = v * 10 + (AFormat[pos++] - u'0');
      any = true;
    }
    return any ? v : -1;
  };
  auto takeInt = [&]() -> int64_t {
    if (next >= argc) FormatError(AFormat);
    const auto& v = args[next++].Get();
    if (auto p = std::get_if<int64_t>(&v)) return *p;
    if (auto p = std::get_if<uint64_t>(&v)) return static_cast<int64_t>(*p);
    FormatError(AFormat);
  };
  while (i < n) {
    const char16_t c = AFormat[i];
    if (c != u'%') {
      out += c;
      ++i;
      continue;
    }
    ++i;
    if (i < n && AFormat[i] == u'%') {
      out += u'%';
      ++i;
      continue;
    }
    // [index:]
    size_t save = i;
    int num = readNumber(i);
    if (i < n && AFormat[i] == u':') {
      if (num < 0) num = 0;
      next = static_cast<size_t>(num);
      ++i;
    } else {
      i = save;
    }
    bool left = false;
    if (i < n && AFormat[i] == u'-') {
      left = true;
      ++i;
    }
    int width = -1;
    if (i < n && AFormat[i] == u'*') {
      ++i;
      width = static_cast<int>(takeInt());
    } else {
      width = readNumber(i);
    }
    int prec = -1;
    if (i < n && AFormat[i] == u'.') {
      ++i;
      if (i < n && AFormat[i] == u'*') {
        ++i;
        prec = static_cast<int>(takeInt());
      } else {
        prec = readNumber(i);
        if (prec < 0) prec = 0;
      }
    }
    if (i >= n) FormatError(AFormat);
    const char16_t type = AFormat[i] | 0x20;  // the type letter is case-insensitive
    ++i;
    if (next >= argc) FormatError(AFormat);
    const auto& v = args[next++].Get();
    String piece;
    switch (type) {
      case u'd':
      case u'u':
      case u'x': {
        bool neg = false;
        uint64_t mag;
        if (auto p = std::get_if<int64_t>(&v)) {
          if (type == u'd' && *p < 0) {
            neg = true;
            mag = 0 - static_cast<uint64_t>(*p);
          } else if (type == u'u' && *p < 0) {
            mag = static_cast<uint32_t>(*p);  // the run-time prints a negative %u as 32-bit
          } else {
            mag = static_cast<uint64_t>(*p);
          }
        } else if (auto q = std::get_if<uint64_t>(&v)) {
          mag = *q;
        } else {
          FormatError(AFormat);
        }
        piece = Digits(mag, type == u'x' ? 16 : 10);
        if (prec > 0 && piece.size() < static_cast<size_t>(prec)) piece.insert(0, prec - piece.size(), u'0');
        if (neg) piece.insert(piece.begin(), u'-');
        break;
      }
      case u's': {
        auto p = std::get_if<String>(&v);
        if (!p) FormatError(AFormat);
        piece = prec >= 0 && static_cast<size_t>(prec) < p->size() ? p->substr(0, prec) : *p;
        break;
      }
      case u'f':
      case u'e':
      case u'g':
      case u'n': {
        double d;
        if (auto p = std::get_if<double>(&v)) d = *p;
        else if (auto p = std::get_if<int64_t>(&v)) d = static_cast<double>(*p);
        else if (auto p = std::get_if<uint64_t>(&v)) d = static_cast<double>(*p);
        else FormatError(AFormat);
        piece = FormatNumber(d, static_cast<wchar_t>(type), prec);
        break;
      }
      case u'p': {
        auto p = std::get_if<const void*>(&v);
        if (!p) FormatError(AFormat);
        piece = Digits(reinterpret_cast<uintptr_t>(*p), 16);
        piece.insert(0, 16 - piece.size(), u'0');
        break;
      }
      default:
        FormatError(AFormat);
    }
    if (width > 0 && piece.size() < static_cast<size_t>(width)) {
      if (left) piece.append(width - piece.size(), u' ');
      else piece.insert(0, width - piece.size(), u' ');
    }
    out += piece;
  }
  return out;
}

String UpperCase(StringView S) {
  String out(S);
  for (auto& c : out)
    if (c >= u'a' && c <= u'z') c -= 32;
  return out;
}

String LowerCase(StringView S) {
  String out(S);
  for (auto& c : out)
    if (c >= u'A' && c <= u'Z') c += 32;
  return out;
}

bool SameText(StringView A, StringView B) {
  if (A.size() != B.size()) return false;
  for (size_t i = 0; i < A.size(); ++i) {
    char16_t a = A[i], b = B[i];
    if (a >= u'a' && a <= u'z') a -= 32;
    if (b >= u'a' && b <= u'z') b -= 32;
    if (a != b) return false;
  }
  return true;
}

String TrimLeft(StringView S) {
  size_t b = 0;
  while (b < S.size() && S[b] <= u' ') ++b;
  return String(S.substr(b));
}

String TrimRight(StringView S) {
  size_t e = S.size();
  while (e > 0 && S[e - 1] <= u' ') --e;
  return String(S.substr(0, e));
}

String Trim(StringView S) {
  size_t b = 0, e = S.size();
  while (b < e && S[b] <= u' ') ++b;
  while (e > b && S[e - 1] <= u' ') --e;
  return String(S.substr(b, e - b));
}

String IntToStr(int64_t AValue) {
  if (AValue < 0) return u"-" + Digits(0 - static_cast<uint64_t>(AValue), 10);
  return Digits(static_cast<uint64_t>(AValue), 10);
}

String UIntToStr(uint64_t AValue) { return Digits(AValue, 10); }

String IntToHex(uint64_t AValue, int ADigits) {
  String s = Digits(AValue, 16);
  if (ADigits > 0 && s.size() < static_cast<size_t>(ADigits)) s.insert(0, ADigits - s.size(), u'0');
  return s;
}

bool TryStrToInt64(StringView S, int64_t& AValue) {
  size_t i = 0;
  const size_t n = S.size();
  while (i < n && S[i] == u' ') ++i;  // the run-time tolerates leading blanks only
  bool neg = false;
  if (i < n && (S[i] == u'-' || S[i] == u'+')) neg = S[i++] == u'-';
  unsigned base = 10;
  if (i < n && S[i] == u'$') {
    base = 16;
    ++i;
  } else if (i + 1 < n && S[i] == u'0' && (S[i + 1] == u'x' || S[i + 1] == u'X')) {
    base = 16;
    i += 2;
  }
  if (i >= n) return false;
  uint64_t v = 0;
  const uint64_t limit = neg ? uint64_t(1) << 63 : (uint64_t(1) << 63) - 1;
  for (; i < n; ++i) {
    const char16_t c = S[i];
    unsigned d;
    if (c >= u'0' && c <= u'9') d = c - u'0';
    else if (base == 16 && c >= u'a' && c <= u'f') d = c - u'a' + 10;
    else if (base == 16 && c >= u'A' && c <= u'F') d = c - u'A' + 10;
    else return false;
    if (v > (limit - d) / base) return false;
    v = v * base + d;
  }
  AValue = neg ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
  return true;
}

namespace {
[[noreturn]] void NotAnInteger(StringView S) {
  EConvertError::Toss(u"'" + String(S) + u"' is not a valid integer value");
}
}  // namespace

int64_t StrToInt64(StringView S) {
  int64_t v;
  if (!TryStrToInt64(S, v)) NotAnInteger(S);
  return v;
}

int32_t StrToInt(StringView S) {
  int64_t v;
  if (!TryStrToInt64(S, v) || v < std::numeric_limits<int32_t>::min() ||
      v > std::numeric_limits<int32_t>::max())
    NotAnInteger(S);
  return static_cast<int32_t>(v);
}

int32_t StrToIntDef(StringView S, int32_t ADefault) {
  int64_t v;
  if (!TryStrToInt64(S, v) || v < std::numeric_limits<int32_t>::min() ||
      v > std::numeric_limits<int32_t>::max())
    return ADefault;
  return static_cast<int32_t>(v);
}

int64_t StrToInt64Def(StringView S, int64_t ADefault) {
  int64_t v;
  return TryStrToInt64(S, v) ? v : ADefault;
}

}  // namespace vyn
