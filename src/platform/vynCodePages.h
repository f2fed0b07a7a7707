// Stand-in for the platform's code-page converter: Windows code-page numbers mapped to
// iconv converters. Decoding never fails: invalid or truncated input becomes U+FFFD;
// characters the code page cannot encode become "?".
#pragma once

#include <cstddef>
#include <cstdint>

namespace vyn {

struct TCodePageInfo {
  uint32_t CodePage = 0;
  int MaxCharSize = 0;  // most bytes one character takes
};

// False when the code page is unknown or its converter is not available here.
bool GetCodePageInfo(uint32_t ACodePage, TCodePageInfo& VInfo);

// The code page the system's own text uses (UTF-8 on this platform).
uint32_t DefaultCodePage();

// Converts ACount bytes of ACodePage into at most ACapacity UTF-16 code units at ADest;
// returns the number produced. With a null ADest it only counts. The code page must
// be one GetCodePageInfo knows.
size_t CodePageToUtf16(uint32_t ACodePage, const uint8_t* ASource, size_t ACount, char16_t* ADest,
                       size_t ACapacity);
// Converts ACount UTF-16 code units into at most ACapacity bytes of ACodePage.
size_t Utf16ToCodePage(uint32_t ACodePage, const char16_t* ASource, size_t ACount, uint8_t* ADest,
                       size_t ACapacity);

}  // namespace vyn
