#include "vynCodePages.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "vynSystem.h"

namespace vyn {

namespace {

struct TCodePageRow {
  uint32_t CodePage;
  const char* IconvName;
  int MaxCharSize;
};

// The code pages this platform can convert, by Windows number, with the most bytes one
// UTF-16 character (a code unit or a surrogate pair) can take in that code page, shift
// sequences included: encoders size their output by it, so it must never be too small.
// glibc decomposes into base and combining marks for 1255 (up to 3 bytes) and 1258 (2),
// and ISO-2022-CN may designate a new set before every character (6).
// Windows code pages that charsets map to but glibc has no converter for, and which are
// therefore unknown here: 20105 (IA5 IRV), 20838 (IBM EBCDIC Thai), 20924 (IBM EBCDIC
// Latin-9), 52936 (HZ-GB-2312).
constexpr TCodePageRow kCodePages[] = {
    {37, "IBM037", 1},
    {437, "IBM437", 1},
    {500, "IBM500", 1},
    {708, "ASMO-708", 1},
    {737, "CP737", 1},
    {775, "IBM775", 1},
    {850, "IBM850", 1},
    {852, "IBM852", 1},
    {855, "IBM855", 1},
    {857, "IBM857", 1},
    {858, "IBM858", 1},
    {860, "IBM860", 1},
    {861, "IBM861", 1},
    {862, "IBM862", 1},
    {863, "IBM863", 1},
    {864, "IBM864", 1},
    {865, "IBM865", 1},
    {866, "IBM866", 1},
    {869, "IBM869", 1},
    {870, "IBM870", 1},
    {874, "CP874", 1},
    {875, "CP875", 1},
    {932, "CP932", 2},
    {936, "CP936", 2},
    {949, "CP949", 2},
    {950, "BIG5", 2},
    {1026, "IBM1026", 1},
    {1047, "IBM1047", 1},
    {1140, "IBM1140", 1},
    {1141, "IBM1141", 1},
    {1142, "IBM1142", 1},
    {1143, "IBM1143", 1},
    {1144, "IBM1144", 1},
    {1145, "IBM1145", 1},
    {1146, "IBM1146", 1},
    {1147, "IBM1147", 1},
    {1148, "IBM1148", 1},
    {1149, "IBM1149", 1},
    {1200, "UTF-16LE", 4},
    {1201, "UTF-16BE", 4},
    {1250, "CP1250", 1},
    {1251, "CP1251", 1},
    {1252, "CP1252", 1},
    {1253, "CP1253", 1},
    {1254, "CP1254", 1},
    {1255, "CP1255", 3},
    {1256, "CP1256", 1},
    {1257, "CP1257", 1},
    {1258, "CP1258", 2},
    {1361, "JOHAB", 2},
    {10000, "MACINTOSH", 1},
    {10007, "MAC-CYRILLIC", 1},
    {10029, "MAC-CENTRALEUROPE", 1},
    {12000, "UTF-32LE", 4},
    {12001, "UTF-32BE", 4},
    {20106, "ISO646-DE", 1},
    {20107, "ISO646-SE", 1},
    {20108, "ISO646-NO", 1},
    {20127, "ANSI_X3.4-1968", 1},
    {20261, "T.61-8BIT", 2},
    {20273, "IBM273", 1},
    {20277, "IBM277", 1},
    {20278, "IBM278", 1},
    {20280, "IBM280", 1},
    {20284, "IBM284", 1},
    {20285, "IBM285", 1},
    {20290, "IBM290", 1},
    {20297, "IBM297", 1},
    {20420, "IBM420", 1},
    {20423, "IBM423", 1},
    {20424, "IBM424", 1},
    {20866, "KOI8-R", 1},
    {20871, "IBM871", 1},
    {20880, "IBM880", 1},
    {20905, "IBM905", 1},
    {20932, "EUC-JP", 3},
    {20936, "GB2312", 2},
    {21025, "CP1025", 1},
    {21866, "KOI8-U", 1},
    {28591, "ISO-8859-1", 1},
    {28592, "ISO-8859-2", 1},
    {28593, "ISO-8859-3", 1},
    {28594, "ISO-8859-4", 1},
    {28595, "ISO-8859-5", 1},
    {28596, "ISO-8859-6", 1},
    {28597, "ISO-8859-7", 1},
    {28598, "ISO-8859-8", 1},
    {28599, "ISO-8859-9", 1},
    {28603, "ISO-8859-13", 1},
    {28605, "ISO-8859-15", 1},
    {38598, "ISO-8859-8", 1},
    {50220, "ISO-2022-JP", 5},
    {50221, "ISO-2022-JP", 5},
    {50222, "ISO-2022-JP", 5},
    {50225, "ISO-2022-KR", 5},
    {50227, "ISO-2022-CN", 6},
    {51932, "EUC-JP", 3},
    {51936, "GB2312", 2},
    {51949, "EUC-KR", 2},
    {54936, "GB18030", 4},
    {65000, "UTF-7", 5},
    {65001, "UTF-8", 4},
};

const TCodePageRow* FindRow(uint32_t ACodePage) {
  for (const auto& row : kCodePages)
    if (row.CodePage == ACodePage) return &row;
  return nullptr;
}

bool ConverterExists(const char* AName) {
  iconv_t cd = iconv_open("UTF-16LE", AName);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  iconv_close(cd);
  return true;
}

// One iconv conversion into a growing output buffer.
class TConversion {
public:
  TConversion(const char* ATo, const char* AFrom) : FCd(iconv_open(ATo, AFrom)) {}
  ~TConversion() {
    if (Valid()) iconv_close(FCd);
  }
  TConversion(const TConversion&) = delete;
  TConversion& operator=(const TConversion&) = delete;

  bool Valid() const { return FCd != reinterpret_cast<iconv_t>(-1); }

  // Converts input until it is used up (true) or stops at a sequence it cannot convert
  // (false, errno EILSEQ) or at a truncated tail (false, errno EINVAL).
  bool Run(const char*& AInput, size_t& ALeft) {
    while (true) {
      Reserve(ALeft * 4 + 16);
      char* in = const_cast<char*>(AInput);
      char* dst = FOut.data() + FUsed;
      size_t dstLeft = FOut.size() - FUsed;
      const size_t r = iconv(FCd, &in, &ALeft, &dst, &dstLeft);
      AInput = in;
      FUsed = FOut.size() - dstLeft;
      if (r != static_cast<size_t>(-1)) return true;
      if (errno != E2BIG) return false;
      FOut.resize(FOut.size() * 2);
    }
  }

  // Writes the sequence that returns the output to the initial shift state.
  void Finish() {
    while (true) {
      Reserve(16);
      char* dst = FOut.data() + FUsed;
      size_t dstLeft = FOut.size() - FUsed;
      const size_t r = iconv(FCd, nullptr, nullptr, &dst, &dstLeft);
      FUsed = FOut.size() - dstLeft;
      if (r != static_cast<size_t>(-1) || errno != E2BIG) return;
      FOut.resize(FOut.size() * 2);
    }
  }

  // Forgets the input's shift state without writing anything.
  void ResetInput() { iconv(FCd, nullptr, nullptr, nullptr, nullptr); }

  void AppendRaw(std::string_view ABytes) {
    Reserve(ABytes.size());
    std::memcpy(FOut.data() + FUsed, ABytes.data(), ABytes.size());
    FUsed += ABytes.size();
  }

  std::vector<char> Take() {
    FOut.resize(FUsed);
    return std::move(FOut);
  }

private:
  void Reserve(size_t AMore) {
    if (FOut.size() - FUsed < AMore) FOut.resize(std::max(FOut.size() * 2, FUsed + AMore));
  }

  iconv_t FCd;
  std::vector<char> FOut;
  size_t FUsed = 0;
};

// Decodes code-page bytes to UTF-16LE. A byte that starts no valid sequence becomes
// U+FFFD and is skipped, and the input's shift state starts over; a truncated tail
// becomes one U+FFFD.
std::vector<char> Decode(const char* AIconvName, const char* AInput, size_t ACount) {
  TConversion conv("UTF-16LE", AIconvName);
  if (!conv.Valid()) return {};
  const std::string_view replacement("\xFD\xFF", 2);  // U+FFFD, low byte first
  while (!conv.Run(AInput, ACount)) {
    const bool truncated = errno != EILSEQ;
    conv.AppendRaw(replacement);
    if (truncated) break;
    ++AInput;
    --ACount;
    conv.ResetInput();
  }
  conv.Finish();
  return conv.Take();
}

// Encodes UTF-16LE into the code page. A character it cannot encode (a surrogate pair
// counts as one) becomes "?" and is skipped. The "?" goes through the converter too,
// so that a stateful code page (ISO-2022, UTF-7) leaves its current set for it first.
std::vector<char> Encode(const char* AIconvName, const char* AInput, size_t ACount) {
  TConversion conv(AIconvName, "UTF-16LE");
  if (!conv.Valid()) return {};
  const auto unit = [&](size_t k) {
    return static_cast<uint16_t>(static_cast<uint8_t>(AInput[k]) | static_cast<uint8_t>(AInput[k + 1]) << 8);
  };
  while (!conv.Run(AInput, ACount)) {
    const bool truncated = errno != EILSEQ;
    const char question[2] = {'?', 0};
    const char* q = question;
    size_t qLeft = sizeof question;
    conv.Run(q, qLeft);  // a code page without "?" writes nothing
    if (truncated || ACount < 2) break;
    const bool pair = ACount >= 4 && unit(0) >= 0xD800 && unit(0) <= 0xDBFF && unit(2) >= 0xDC00 &&
                      unit(2) <= 0xDFFF;
    const size_t skip = pair ? 4 : 2;
    AInput += skip;
    ACount -= skip;
  }
  conv.Finish();
  return conv.Take();
}

size_t CopyOut(const std::vector<char>& AData, void* ADest, size_t ACapacity, size_t AUnit) {
  const size_t units = AData.size() / AUnit;
  if (!ADest) return units;
  const size_t n = std::min(units, ACapacity);
  std::memcpy(ADest, AData.data(), n * AUnit);
  return n;
}

}  // namespace

bool GetCodePageInfo(uint32_t ACodePage, TCodePageInfo& VInfo) {
  const TCodePageRow* row = FindRow(ACodePage);
  if (!row || (ACodePage != 65001 && !ConverterExists(row->IconvName))) return false;
  VInfo.CodePage = row->CodePage;
  VInfo.MaxCharSize = row->MaxCharSize;
  return true;
}

uint32_t DefaultCodePage() { return 65001; }

size_t CodePageToUtf16(uint32_t ACodePage, const uint8_t* ASource, size_t ACount, char16_t* ADest,
                       size_t ACapacity) {
  if (ACount == 0) return 0;
  if (ACodePage == 65001) {
    if (ADest && ACapacity >= ACount) return Utf8ToUtf16(ASource, ACount, ADest);
    std::u16string tmp(ACount, u'\0');
    tmp.resize(Utf8ToUtf16(ASource, ACount, tmp.data()));
    if (!ADest) return tmp.size();
    const size_t n = std::min(tmp.size(), ACapacity);
    std::memcpy(ADest, tmp.data(), n * sizeof(char16_t));
    return n;
  }
  const TCodePageRow* row = FindRow(ACodePage);
  if (!row) return 0;
  const auto data = Decode(row->IconvName, reinterpret_cast<const char*>(ASource), ACount);
  return CopyOut(data, ADest, ACapacity, sizeof(char16_t));
}

size_t Utf16ToCodePage(uint32_t ACodePage, const char16_t* ASource, size_t ACount, uint8_t* ADest,
                       size_t ACapacity) {
  if (ACount == 0) return 0;
  if (ACodePage == 65001) {
    if (ADest && ACapacity >= ACount * 3) return Utf16ToUtf8(ASource, ACount, ADest);
    std::vector<uint8_t> tmp(ACount * 3);
    tmp.resize(Utf16ToUtf8(ASource, ACount, tmp.data()));
    if (!ADest) return tmp.size();
    const size_t n = std::min(tmp.size(), ACapacity);
    std::memcpy(ADest, tmp.data(), n);
    return n;
  }
  const TCodePageRow* row = FindRow(ACodePage);
  if (!row) return 0;
  const auto data = Encode(row->IconvName, reinterpret_cast<const char*>(ASource), ACount * sizeof(char16_t));
  return CopyOut(data, ADest, ACapacity, 1);
}

}  // namespace vyn
