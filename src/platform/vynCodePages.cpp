#include "vynCodePages.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "vynSystem.h"

namespace vyn {

namespace {

struct TCodePageRow {
  uint32_t CodePage;
  const char* IconvName;
  int MaxCharSize;
};

// The code pages this platform can convert, by Windows number.
constexpr TCodePageRow kCodePages[] = {
    {37, "IBM037", 1},          {437, "IBM437", 1},        {500, "IBM500", 1},
    {708, "ASMO-708", 1},       {737, "CP737", 1},         {775, "IBM775", 1},
    {850, "IBM850", 1},         {852, "IBM852", 1},        {855, "IBM855", 1},
    {857, "IBM857", 1},         {858, "IBM00858", 1},      {860, "IBM860", 1},
    {861, "IBM861", 1},         {862, "IBM862", 1},        {863, "IBM863", 1},
    {864, "IBM864", 1},         {865, "IBM865", 1},        {866, "IBM866", 1},
    {869, "IBM869", 1},         {870, "IBM870", 1},        {874, "CP874", 1},
    {875, "CP875", 1},          {932, "CP932", 2},         {936, "CP936", 2},
    {949, "CP949", 2},          {950, "BIG5", 2},          {1026, "IBM1026", 1},
    {1047, "IBM1047", 1},       {1140, "IBM1140", 1},      {1141, "IBM1141", 1},
    {1142, "IBM1142", 1},       {1143, "IBM1143", 1},      {1144, "IBM1144", 1},
    {1145, "IBM1145", 1},       {1146, "IBM1146", 1},      {1147, "IBM1147", 1},
    {1148, "IBM1148", 1},       {1149, "IBM1149", 1},      {1200, "UTF-16LE", 4},
    {1201, "UTF-16BE", 4},      {1250, "CP1250", 1},       {1251, "CP1251", 1},
    {1252, "CP1252", 1},        {1253, "CP1253", 1},       {1254, "CP1254", 1},
    {1255, "CP1255", 1},        {1256, "CP1256", 1},       {1257, "CP1257", 1},
    {1258, "CP1258", 1},        {1361, "JOHAB", 2},        {10000, "MACINTOSH", 1},
    {10007, "MAC-CYRILLIC", 1}, {10029, "MAC-CENTRALEUROPE", 1},
    {12000, "UTF-32LE", 4},     {12001, "UTF-32BE", 4},    {20127, "ANSI_X3.4-1968", 1},
    {20273, "IBM273", 1},       {20277, "IBM277", 1},      {20278, "IBM278", 1},
    {20280, "IBM280", 1},       {20284, "IBM284", 1},      {20285, "IBM285", 1},
    {20290, "IBM290", 1},       {20297, "IBM297", 1},      {20420, "IBM420", 1},
    {20423, "IBM423", 1},       {20424, "IBM424", 1},      {20866, "KOI8-R", 1},
    {20871, "IBM871", 1},       {20880, "IBM880", 1},      {20905, "IBM905", 1},
    {20932, "EUC-JP", 3},       {20936, "GB2312", 2},      {21025, "CP1025", 1},
    {21866, "KOI8-U", 1},       {28591, "ISO-8859-1", 1},  {28592, "ISO-8859-2", 1},
    {28593, "ISO-8859-3", 1},   {28594, "ISO-8859-4", 1},  {28595, "ISO-8859-5", 1},
    {28596, "ISO-8859-6", 1},   {28597, "ISO-8859-7", 1},  {28598, "ISO-8859-8", 1},
    {28599, "ISO-8859-9", 1},   {28603, "ISO-8859-13", 1}, {28605, "ISO-8859-15", 1},
    {38598, "ISO-8859-8", 1},   {50220, "ISO-2022-JP", 5}, {50221, "ISO-2022-JP", 5},
    {50222, "ISO-2022-JP", 5},  {50225, "ISO-2022-KR", 5}, {50227, "ISO-2022-CN", 5},
    {51932, "EUC-JP", 3},       {51936, "GB2312", 2},      {51949, "EUC-KR", 2},
    {52936, "HZ-GB-2312", 5},   {54936, "GB18030", 4},     {65000, "UTF-7", 5},
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

// Runs iconv over the whole input. On an input sequence it cannot convert it emits
// AReplacement and skips ASkip(position) bytes; on a truncated tail it emits the
// replacement once and stops.
template <class Skip>
std::vector<char> Convert(const char* ATo, const char* AFrom, const char* AInput, size_t ACount,
                          const std::string& AReplacement, Skip ASkip) {
  std::vector<char> out;
  iconv_t cd = iconv_open(ATo, AFrom);
  if (cd == reinterpret_cast<iconv_t>(-1)) return out;
  out.resize(ACount * 4 + 16);
  char* in = const_cast<char*>(AInput);
  size_t inLeft = ACount;
  size_t used = 0;
  while (true) {
    char* dst = out.data() + used;
    size_t dstLeft = out.size() - used;
    const size_t r = inLeft ? iconv(cd, &in, &inLeft, &dst, &dstLeft) : iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    used = out.size() - dstLeft;
    if (r != static_cast<size_t>(-1)) {
      if (inLeft == 0) {
        // Flush any shift state, then done.
        dst = out.data() + used;
        dstLeft = out.size() - used;
        if (iconv(cd, nullptr, nullptr, &dst, &dstLeft) != static_cast<size_t>(-1)) {
          used = out.size() - dstLeft;
          break;
        }
        if (errno != E2BIG) break;
        out.resize(out.size() * 2);
      }
      continue;
    }
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    if (out.size() - used < AReplacement.size()) out.resize(out.size() * 2 + AReplacement.size());
    std::memcpy(out.data() + used, AReplacement.data(), AReplacement.size());
    used += AReplacement.size();
    if (errno == EILSEQ) {
      const size_t skip = std::min(inLeft, ASkip(in, inLeft));
      in += skip;
      inLeft -= skip;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial shift state
      continue;
    }
    break;  // EINVAL: the input ends inside a sequence
  }
  iconv_close(cd);
  out.resize(used);
  return out;
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
  const std::string replacement("\xFD\xFF", 2);  // U+FFFD, low byte first
  const auto data = Convert("UTF-16LE", row->IconvName, reinterpret_cast<const char*>(ASource), ACount,
                            replacement, [](const char*, size_t) { return size_t(1); });
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
  // "?" in the target code page (not 0x3F in every one of them).
  const char16_t question = u'?';
  const auto mark = Convert(row->IconvName, "UTF-16LE", reinterpret_cast<const char*>(&question), 2,
                            std::string(), [](const char*, size_t) { return size_t(2); });
  const auto data = Convert(row->IconvName, "UTF-16LE", reinterpret_cast<const char*>(ASource),
                            ACount * sizeof(char16_t), std::string(mark.begin(), mark.end()),
                            [](const char* AAt, size_t ALeft) {
                              // A surrogate pair is one character: skip both halves.
                              const auto unit = [&](size_t k) {
                                return static_cast<uint16_t>(static_cast<uint8_t>(AAt[k]) |
                                                             static_cast<uint8_t>(AAt[k + 1]) << 8);
                              };
                              if (ALeft >= 4 && unit(0) >= 0xD800 && unit(0) <= 0xDBFF &&
                                  unit(2) >= 0xDC00 && unit(2) <= 0xDFFF)
                                return size_t(4);
                              return size_t(2);
                            });
  return CopyOut(data, ADest, ACapacity, 1);
}

}  // namespace vyn
