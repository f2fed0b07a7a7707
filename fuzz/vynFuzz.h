// Shared by the fuzz targets: reading choices out of the fuzzer's bytes, turning bytes
// into the texts the parsers see, and failing loudly (an abort libFuzzer records as a
// crash, with the input saved) when a property does not hold.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "vynIdGlobal.h"
#include "vynIdTextEncoding.h"

namespace vyn::fuzz {

// A text as printable ASCII for a failure message: other code units as \xNN or \uNNNN.
inline std::string Show(StringView AText) {
  std::string out;
  char hex[8];
  for (char16_t c : AText) {
    if (c >= 0x20 && c < 0x7F && c != u'\\') {
      out += static_cast<char>(c);
    } else {
      std::snprintf(hex, sizeof hex, c < 0x100 ? "\\x%02X" : "\\u%04X", static_cast<unsigned>(c));
      out += hex;
    }
  }
  return out;
}

inline std::string Show(const TIdBytes& ABytes) {
  std::string out;
  char hex[4];
  for (uint8_t b : ABytes) {
    std::snprintf(hex, sizeof hex, "%02X", b);
    out += hex;
  }
  return out;
}

[[noreturn]] inline void Fail(const char* AFile, int ALine, const char* ACondition, const std::string& AInfo) {
  std::fprintf(stderr, "\n%s:%d: property failed: %s\n%s\n", AFile, ALine, ACondition, AInfo.c_str());
  std::fflush(stderr);
  std::abort();
}

// FUZZ_CHECK(condition, info): info is any expression giving a std::string, evaluated
// only on failure.
#define FUZZ_CHECK(cond, info)                                         \
  do {                                                                 \
    if (!(cond)) ::vyn::fuzz::Fail(__FILE__, __LINE__, #cond, (info)); \
  } while (0)

// Reads the fuzzer's bytes front to back; past the end every read gives zeros, so a
// target never has to check the length before it asks.
class TFuzzInput {
 public:
  TFuzzInput(const uint8_t* AData, size_t ASize) : FData(AData), FSize(ASize) {}

  size_t Remaining() const { return FSize - FPos; }
  bool Empty() const { return FPos >= FSize; }

  uint8_t Byte() { return FPos < FSize ? FData[FPos++] : 0; }
  bool Bool() { return Byte() & 1; }
  // A value in ALow..AHigh (inclusive), from one byte or two when the range needs it.
  int Range(int ALow, int AHigh) {
    const unsigned span = static_cast<unsigned>(AHigh - ALow) + 1;
    unsigned v = Byte();
    if (span > 256) v = v << 8 | Byte();
    return ALow + static_cast<int>(v % span);
  }
  TIdBytes Bytes(size_t ACount) {
    const size_t n = std::min(ACount, Remaining());
    TIdBytes out(FData + FPos, FData + FPos + n);
    FPos += n;
    return out;
  }
  TIdBytes Rest() { return Bytes(Remaining()); }
  // The bytes up to the next AStop (which is consumed), or the rest.
  TIdBytes Until(uint8_t AStop) {
    TIdBytes out;
    while (FPos < FSize) {
      const uint8_t b = FData[FPos++];
      if (b == AStop) break;
      out.push_back(b);
    }
    return out;
  }

 private:
  const uint8_t* FData;
  size_t FSize;
  size_t FPos = 0;
};

// How bytes become text for a parser: one character per byte (what the wire gives the
// header code), UTF-8 (what an application types), or raw UTF-16 code units, lone
// surrogates included.
enum TTextForm { tfLatin1, tfUTF8, tfUTF16 };

inline String TextOf(const TIdBytes& ABytes, TTextForm AForm) {
  switch (AForm) {
    case tfLatin1:
      return TextFromBytes8Bit(ABytes);
    case tfUTF8:
      return EncodingUTF8()->GetString(ABytes);
    case tfUTF16:
      return EncodingUTF16LE()->GetString(ABytes);
  }
  return {};
}

inline bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
inline bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// The index of the first surrogate that is not half of a pair, or -1.
inline int LoneSurrogateAt(StringView AText) {
  for (size_t i = 0; i < AText.size(); ++i) {
    if (IsHighSurrogate(AText[i])) {
      if (i + 1 < AText.size() && IsLowSurrogate(AText[i + 1])) {
        ++i;
        continue;
      }
      return static_cast<int>(i);
    }
    if (IsLowSurrogate(AText[i])) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace vyn::fuzz
