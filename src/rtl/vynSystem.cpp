#include "vynSystem.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>

namespace vyn {

size_t Utf16ToUtf8(const char16_t* ASource, size_t ACount, uint8_t* ADest) {
  size_t out = 0;
  auto put = [&](uint32_t b) {
    if (ADest) ADest[out] = static_cast<uint8_t>(b);
    ++out;
  };
  for (size_t i = 0; i < ACount; ++i) {
    uint32_t c = ASource[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < ACount && ASource[i + 1] >= 0xDC00 &&
        ASource[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (ASource[i + 1] - 0xDC00u);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      put(c);
    } else if (c < 0x800) {
      put(0xC0 | (c >> 6));
      put(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      put(0xE0 | (c >> 12));
      put(0x80 | ((c >> 6) & 0x3F));
      put(0x80 | (c & 0x3F));
    } else {
      put(0xF0 | (c >> 18));
      put(0x80 | ((c >> 12) & 0x3F));
      put(0x80 | ((c >> 6) & 0x3F));
      put(0x80 | (c & 0x3F));
    }
  }
  return out;
}

size_t Utf8ToUtf16(const uint8_t* ASource, size_t ACount, char16_t* ADest) {
  size_t out = 0;
  auto put = [&](uint32_t u) {
    if (ADest) ADest[out] = static_cast<char16_t>(u);
    ++out;
  };
  size_t i = 0;
  while (i < ACount) {
    const uint8_t b = ASource[i++];
    if (b < 0x80) {
      put(b);
      continue;
    }
    int extra;
    uint32_t c;
    uint8_t lo = 0x80, hi = 0xBF;  // allowed range of the first continuation byte
    if (b >= 0xC2 && b <= 0xDF) {
      extra = 1; c = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      extra = 2; c = b & 0x0F;
      if (b == 0xE0) lo = 0xA0;
      if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      extra = 3; c = b & 0x07;
      if (b == 0xF0) lo = 0x90;
      if (b == 0xF4) hi = 0x8F;
    } else {
      put(0xFFFD);
      continue;
    }
    bool complete = true;
    for (int e = 0; e < extra; ++e) {
      const uint8_t lower = e == 0 ? lo : 0x80, upper = e == 0 ? hi : 0xBF;
      if (i >= ACount || ASource[i] < lower || ASource[i] > upper) {
        complete = false;
        break;
      }
      c = (c << 6) | (ASource[i++] & 0x3F);
    }
    if (!complete) {
      put(0xFFFD);
    } else if (c >= 0x10000) {
      c -= 0x10000;
      put(0xD800 + (c >> 10));
      put(0xDC00 + (c & 0x3FF));
    } else {
      put(c);
    }
  }
  return out;
}

std::string ToUtf8(StringView AText) {
  std::string out(Utf16ToUtf8(AText.data(), AText.size(), nullptr), '\0');
  Utf16ToUtf8(AText.data(), AText.size(), reinterpret_cast<uint8_t*>(out.data()));
  return out;
}

String FromUtf8(std::string_view AText) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(AText.data());
  String out(AText.size(), u'\0');
  out.resize(Utf8ToUtf16(bytes, AText.size(), out.data()));
  return out;
}

String ClassNameOf(const std::type_info& AType) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(
      abi::__cxa_demangle(AType.name(), nullptr, nullptr, &status), std::free);
  std::string_view name = (status == 0 && demangled) ? demangled.get() : AType.name();
  if (const auto pos = name.rfind("::"); pos != std::string_view::npos) name.remove_prefix(pos + 2);
  return FromUtf8(name);
}

}  // namespace vyn
