#include "vynIdTextEncoding.h"

#include <algorithm>
#include <atomic>

#include "vynCodePages.h"
#include "vynIdResourceStrings.h"

namespace vyn {

// ---- Built on the six -------------------------------------------------------------------

int TIdTextEncodingBase::GetByteCount(StringView AChars) const {
  return GetByteCount(AChars.data(), static_cast<int>(AChars.size()));
}

TIdBytes TIdTextEncodingBase::GetBytes(StringView AChars) const {
  TIdBytes out;
  GetBytes(AChars, out, 0);
  return out;
}

TIdBytes TIdTextEncodingBase::GetBytes(const TIdWideChars& AChars, int ACharIndex, int ACharCount) const {
  const int have = static_cast<int>(AChars.size());
  ACharIndex = std::clamp(ACharIndex, 0, have);
  if (ACharCount < 0 || ACharCount > have - ACharIndex) ACharCount = have - ACharIndex;
  return GetBytes(StringView(AChars.data() + ACharIndex, static_cast<size_t>(ACharCount)));
}

int TIdTextEncodingBase::GetBytes(StringView AChars, TIdBytes& ABytes, int AByteIndex) const {
  if (AByteIndex < 0) EIdException::Toss(RSInvalidIndex);
  if (AChars.empty()) return 0;
  const int chars = static_cast<int>(AChars.size());
  // Size by the upper bound and trim the growth afterwards: one conversion instead of
  // two. Bytes already in the array past what was written stay.
  const size_t had = ABytes.size();
  const int room = GetMaxByteCount(chars);
  if (ABytes.size() < static_cast<size_t>(AByteIndex) + room) ABytes.resize(static_cast<size_t>(AByteIndex) + room);
  const int n = GetBytes(AChars.data(), chars, ABytes.data() + AByteIndex, room);
  ABytes.resize(std::max(had, static_cast<size_t>(AByteIndex) + n));
  return n;
}

namespace {
// Clamps a (start, count) range to an array of ASize; a negative count means "to the end".
void ClampRange(size_t ASize, int& AIndex, int& ACount) {
  const int have = static_cast<int>(ASize);
  AIndex = std::clamp(AIndex, 0, have);
  if (ACount < 0 || ACount > have - AIndex) ACount = have - AIndex;
}
}  // namespace

int TIdTextEncodingBase::GetCharCount(const TIdBytes& ABytes, int AByteIndex, int AByteCount) const {
  ClampRange(ABytes.size(), AByteIndex, AByteCount);
  return AByteCount ? GetCharCount(ABytes.data() + AByteIndex, AByteCount) : 0;
}

TIdWideChars TIdTextEncodingBase::GetChars(const TIdBytes& ABytes, int AByteIndex, int AByteCount) const {
  const String s = GetString(ABytes, AByteIndex, AByteCount);
  return TIdWideChars(s.begin(), s.end());
}

String TIdTextEncodingBase::GetString(const TIdBytes& ABytes, int AByteIndex, int AByteCount) const {
  ClampRange(ABytes.size(), AByteIndex, AByteCount);
  return GetString(ABytes.data() + AByteIndex, static_cast<size_t>(AByteCount));
}

String TIdTextEncodingBase::GetString(const uint8_t* ABytes, size_t AByteCount) const {
  if (AByteCount == 0) return {};
  const int count = static_cast<int>(AByteCount);
  String out(static_cast<size_t>(GetMaxCharCount(count)), u'\0');
  out.resize(static_cast<size_t>(GetChars(ABytes, count, out.data(), static_cast<int>(out.size()))));
  return out;
}

// ---- ASCII ----------------------------------------------------------------------------

TIdASCIIEncoding::TIdASCIIEncoding() {
  FIsSingleByte = true;
  FMaxCharSize = 1;
}

int TIdASCIIEncoding::GetByteCount(const char16_t*, int ACharCount) const { return ACharCount; }

int TIdASCIIEncoding::GetBytes(const char16_t* AChars, int ACharCount, uint8_t* ABytes, int AByteCount) const {
  const int n = std::min(ACharCount, AByteCount);
  for (int i = 0; i < n; ++i) ABytes[i] = AChars[i] < 128 ? static_cast<uint8_t>(AChars[i]) : '?';
  return n;
}

int TIdASCIIEncoding::GetCharCount(const uint8_t*, int AByteCount) const { return AByteCount; }

int TIdASCIIEncoding::GetChars(const uint8_t* ABytes, int AByteCount, char16_t* AChars, int ACharCount) const {
  const int n = std::min(ACharCount, AByteCount);
  for (int i = 0; i < n; ++i) AChars[i] = ABytes[i] < 128 ? ABytes[i] : u'\uFFFD';
  return n;
}

// ---- 8-bit ----------------------------------------------------------------------------

TId8BitEncoding::TId8BitEncoding() {
  FIsSingleByte = true;
  FMaxCharSize = 1;
}

int TId8BitEncoding::GetByteCount(const char16_t*, int ACharCount) const { return ACharCount; }

int TId8BitEncoding::GetBytes(const char16_t* AChars, int ACharCount, uint8_t* ABytes, int AByteCount) const {
  const int n = std::min(ACharCount, AByteCount);
  for (int i = 0; i < n; ++i) ABytes[i] = AChars[i] < 256 ? static_cast<uint8_t>(AChars[i]) : '?';
  return n;
}

int TId8BitEncoding::GetCharCount(const uint8_t*, int AByteCount) const { return AByteCount; }

int TId8BitEncoding::GetChars(const uint8_t* ABytes, int AByteCount, char16_t* AChars, int ACharCount) const {
  const int n = std::min(ACharCount, AByteCount);
  for (int i = 0; i < n; ++i) AChars[i] = ABytes[i];
  return n;
}

// ---- UTF-16 ---------------------------------------------------------------------------

TIdUTF16LittleEndianEncoding::TIdUTF16LittleEndianEncoding() {
  FIsSingleByte = false;
  FMaxCharSize = 4;
}

int TIdUTF16LittleEndianEncoding::GetByteCount(const char16_t*, int ACharCount) const { return ACharCount * 2; }

int TIdUTF16LittleEndianEncoding::GetBytes(const char16_t* AChars, int ACharCount, uint8_t* ABytes,
                                           int AByteCount) const {
  const int n = std::min(ACharCount, AByteCount / 2);
  const bool big = BigEndian();
  for (int i = 0; i < n; ++i) {
    const uint8_t lo = static_cast<uint8_t>(AChars[i]), hi = static_cast<uint8_t>(AChars[i] >> 8);
    ABytes[2 * i] = big ? hi : lo;
    ABytes[2 * i + 1] = big ? lo : hi;
  }
  return n * 2;
}

int TIdUTF16LittleEndianEncoding::GetCharCount(const uint8_t*, int AByteCount) const { return AByteCount / 2; }

int TIdUTF16LittleEndianEncoding::GetChars(const uint8_t* ABytes, int AByteCount, char16_t* AChars,
                                           int ACharCount) const {
  const int n = std::min(ACharCount, AByteCount / 2);
  const bool big = BigEndian();
  for (int i = 0; i < n; ++i) {
    const uint8_t a = ABytes[2 * i], b = ABytes[2 * i + 1];
    AChars[i] = big ? static_cast<char16_t>(a << 8 | b) : static_cast<char16_t>(b << 8 | a);
  }
  return n;
}

// ---- Code-page encodings --------------------------------------------------------------

TIdMBCSEncoding::TIdMBCSEncoding(uint32_t ACodePage) : TIdMBCSEncoding(ACodePage, 0, 0) {}

TIdMBCSEncoding::TIdMBCSEncoding(uint32_t ACodePage, uint32_t AMBToWCharFlags, uint32_t AWCharToMBFlags)
    : FMBToWCharFlags(AMBToWCharFlags), FWCharToMBFlags(AWCharToMBFlags) {
  TCodePageInfo info;
  bool known = GetCodePageInfo(ACodePage, info);
  if (!known && ACodePage == 20127) known = GetCodePageInfo(1252, info) || GetCodePageInfo(437, info);
  if (!known) EIdException::Toss(FormatInvariant(RSInvalidCodePage, {ACodePage}));
  FCodePage = info.CodePage;
  FMaxCharSize = info.MaxCharSize;
  FIsSingleByte = FMaxCharSize == 1;
}

// Counts go to the converter as sizes: a negative one converts nothing.
namespace {
size_t Size(int ACount) { return static_cast<size_t>(std::max(ACount, 0)); }
}  // namespace

int TIdMBCSEncoding::GetByteCount(const char16_t* AChars, int ACharCount) const {
  return static_cast<int>(Utf16ToCodePage(FCodePage, AChars, Size(ACharCount), nullptr, 0));
}

int TIdMBCSEncoding::GetBytes(const char16_t* AChars, int ACharCount, uint8_t* ABytes, int AByteCount) const {
  return static_cast<int>(Utf16ToCodePage(FCodePage, AChars, Size(ACharCount), ABytes, Size(AByteCount)));
}

int TIdMBCSEncoding::GetCharCount(const uint8_t* ABytes, int AByteCount) const {
  return static_cast<int>(CodePageToUtf16(FCodePage, ABytes, Size(AByteCount), nullptr, 0));
}

int TIdMBCSEncoding::GetChars(const uint8_t* ABytes, int AByteCount, char16_t* AChars, int ACharCount) const {
  return static_cast<int>(CodePageToUtf16(FCodePage, ABytes, Size(AByteCount), AChars, Size(ACharCount)));
}

TIdBytes TIdMBCSEncoding::GetPreamble() const {
  switch (FCodePage) {
    case 1200: return {0xFF, 0xFE};
    case 1201: return {0xFE, 0xFF};
    case 12000: return {0xFF, 0xFE, 0x00, 0x00};
    case 12001: return {0x00, 0x00, 0xFE, 0xFF};
    case 65001: return {0xEF, 0xBB, 0xBF};
    default: return {};
  }
}

TIdUTF8Encoding::TIdUTF8Encoding() : TIdMBCSEncoding(65001) {}

TIdUTF7Encoding::TIdUTF7Encoding() : TIdMBCSEncoding(65000) {}

// ---- Shared instances -----------------------------------------------------------------

namespace {

// A slot published once by compare-and-swap: racing creators build an instance each,
// the loser drops its own and takes the winner's. Instances live until the process ends.
template <class T>
const IIdTextEncoding& SharedSlot(std::atomic<const IIdTextEncoding*>& ASlot) {
  if (const IIdTextEncoding* p = ASlot.load(std::memory_order_acquire)) return *p;
  auto* mine = new IIdTextEncoding(std::make_shared<T>());  // kept for the process's life
  const IIdTextEncoding* expected = nullptr;
  if (ASlot.compare_exchange_strong(expected, mine, std::memory_order_acq_rel)) return *mine;
  delete mine;
  return *expected;
}

class TIdOSDefaultEncoding : public TIdMBCSEncoding {
public:
  TIdOSDefaultEncoding() : TIdMBCSEncoding(DefaultCodePage()) {}
};

std::atomic<const IIdTextEncoding*> gASCII, g8Bit, gUTF8, gUTF7, gUTF16LE, gUTF16BE, gOSDefault;

}  // namespace

const IIdTextEncoding& EncodingASCII() { return SharedSlot<TIdASCIIEncoding>(gASCII); }
const IIdTextEncoding& Encoding8Bit() { return SharedSlot<TId8BitEncoding>(g8Bit); }
const IIdTextEncoding& EncodingUTF8() { return SharedSlot<TIdUTF8Encoding>(gUTF8); }
const IIdTextEncoding& EncodingUTF7() { return SharedSlot<TIdUTF7Encoding>(gUTF7); }
const IIdTextEncoding& EncodingUTF16LE() { return SharedSlot<TIdUTF16LittleEndianEncoding>(gUTF16LE); }
const IIdTextEncoding& EncodingUTF16BE() { return SharedSlot<TIdUTF16BigEndianEncoding>(gUTF16BE); }
const IIdTextEncoding& EncodingOSDefault() { return SharedSlot<TIdOSDefaultEncoding>(gOSDefault); }

namespace {
// The process-wide default; nothing in the system changes it.
constexpr TIdEncoding kDefaultEncodingKind = encASCII;
}  // namespace

const IIdTextEncoding& EncodingDefault() { return EncodingOfKind(kDefaultEncodingKind); }

const IIdTextEncoding& EncodingOfKind(TIdEncoding AKind) {
  switch (AKind) {
    case encDefault: return EncodingDefault();
    case encASCII: return EncodingASCII();
    case enc8Bit: return Encoding8Bit();
    case encUTF8: return EncodingUTF8();
    case encUTF7: return EncodingUTF7();
    case encUTF16LE: return EncodingUTF16LE();
    case encUTF16BE: return EncodingUTF16BE();
    case encOSDefault: return EncodingOSDefault();
  }
  return EncodingASCII();
}

IIdTextEncoding EncodingForCodePage(uint32_t ACodePage) {
  switch (ACodePage) {
    case 1200: return EncodingUTF16LE();
    case 1201: return EncodingUTF16BE();
    case 20127: return EncodingASCII();
    case 65000: return EncodingUTF7();
    case 65001: return EncodingUTF8();
    default: return std::make_shared<TIdMBCSEncoding>(ACodePage);
  }
}

const IIdTextEncoding& ResolveEncoding(const IIdTextEncoding& AEncoding, const IIdTextEncoding& AFallback,
                                       TIdEncoding AKind) {
  if (AEncoding) return AEncoding;
  if (AFallback) return AFallback;
  return EncodingOfKind(AKind);
}

}  // namespace vyn
