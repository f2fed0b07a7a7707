// The text encodings: every encoding's decoder over arbitrary bytes and encoder over
// arbitrary UTF-16 (lone surrogates included), the own ASCII, 8-bit and UTF-16 classes
// and every code page of the converter table.
//
// Properties: nothing fails; the counts agree with what the conversions produce and
// stay within the maximum sizes the string forms allocate by (a maximum too small
// would cut text silently); a range decodes like the same bytes on their own; decoders
// other than the own UTF-16 classes, which pass code units through, never produce a
// lone surrogate; ASCII, 8-bit and UTF-16 decode byte for byte; valid UTF-8 encodes back
// to the same bytes; and for the encodings that cover all of Unicode, text without lone
// surrogates comes back unchanged from encoding and decoding.
#include "vynFuzz.h"
#include "vynIdTextEncoding.h"

using namespace vyn;
using namespace vyn::fuzz;

namespace {

// The code pages of the converter table (those this platform lacks raise on creation).
constexpr uint32_t kCodePages[] = {
    37,    437,   500,   708,   737,   775,   850,   852,   855,   857,   858,   860,   861,   862,   863,
    864,   865,   866,   869,   870,   874,   875,   932,   936,   949,   950,   1026,  1047,  1140,  1141,
    1142,  1143,  1144,  1145,  1146,  1147,  1148,  1149,  1200,  1201,  1250,  1251,  1252,  1253,  1254,
    1255,  1256,  1257,  1258,  1361,  10000, 10007, 10029, 12000, 12001, 20106, 20107, 20108, 20127, 20261,
    20273, 20277, 20278, 20280, 20284, 20285, 20290, 20297, 20420, 20423, 20424, 20866, 20871, 20880, 20905,
    20932, 20936, 21025, 21866, 28591, 28592, 28593, 28594, 28595, 28596, 28597, 28598, 28599, 28603, 28605,
    38598, 50220, 50221, 50222, 50225, 50227, 51932, 51936, 51949, 54936, 65000, 65001};

enum TKind { kASCII, k8Bit, kUTF16LE, kUTF16BE, kCodePage };

// GB18030 is not among them: the converter leaves some private-use characters out.
bool CoversUnicode(uint32_t ACodePage) {
  return ACodePage == 1200 || ACodePage == 1201 || ACodePage == 12000 || ACodePage == 12001 || ACodePage == 65000 ||
         ACodePage == 65001;
}

// Well-formed UTF-8, by the table of valid byte sequences.
bool ValidUtf8(const TIdBytes& A) {
  size_t i = 0;
  while (i < A.size()) {
    const uint8_t b = A[i];
    int extra;
    uint8_t lo = 0x80, hi = 0xBF;
    if (b < 0x80)
      extra = 0;
    else if (b >= 0xC2 && b <= 0xDF)
      extra = 1;
    else if (b == 0xE0)
      extra = 2, lo = 0xA0;
    else if (b == 0xED)
      extra = 2, hi = 0x9F;
    else if (b >= 0xE1 && b <= 0xEF)
      extra = 2;
    else if (b == 0xF0)
      extra = 3, lo = 0x90;
    else if (b == 0xF4)
      extra = 3, hi = 0x8F;
    else if (b >= 0xF1 && b <= 0xF3)
      extra = 3;
    else
      return false;
    if (i + static_cast<size_t>(extra) >= A.size()) return false;
    for (int e = 1; e <= extra; ++e) {
      const uint8_t c = A[i + e];
      if (c < (e == 1 ? lo : 0x80) || c > (e == 1 ? hi : 0xBF)) return false;
    }
    i += 1 + extra;
  }
  return true;
}

void CheckDecode(const TIdTextEncodingBase& AEnc, TKind AKind, uint32_t ACodePage, const TIdBytes& ABytes,
                 const std::string& AContext) {
  const auto context = [&] { return std::string(AContext + " bytes " + Show(ABytes)); };
  const int n = static_cast<int>(ABytes.size());
  const String text = AEnc.GetString(ABytes);
  const int count = AEnc.GetCharCount(ABytes);
  FUZZ_CHECK(static_cast<int>(text.size()) == count, context() + " decodes to " + std::to_string(text.size()) +
                                                         " code units, counted " + std::to_string(count));
  FUZZ_CHECK(
      n == 0 || count <= AEnc.GetMaxCharCount(n),
      context() + " count " + std::to_string(count) + " above the maximum " + std::to_string(AEnc.GetMaxCharCount(n)));
  FUZZ_CHECK(AEnc.GetString(ABytes) == text, context() + " decodes differently the second time");
  const TIdWideChars chars = AEnc.GetChars(ABytes);
  FUZZ_CHECK(String(chars.begin(), chars.end()) == text, context());
  if (n > 2) {
    const TIdBytes middle(ABytes.begin() + 1, ABytes.end() - 1);
    FUZZ_CHECK(AEnc.GetString(ABytes, 1, n - 2) == AEnc.GetString(middle), context() + " range");
  }
  const int lone = LoneSurrogateAt(text);
  if (AKind != kUTF16LE && AKind != kUTF16BE)
    FUZZ_CHECK(lone < 0,
               context() + " decodes to [" + Show(text) + "] with a lone surrogate at " + std::to_string(lone));

  switch (AKind) {
    case kASCII:
      for (int i = 0; i < n; ++i) FUZZ_CHECK(text[i] == (ABytes[i] < 128 ? ABytes[i] : 0xFFFD), context());
      break;
    case k8Bit:
      FUZZ_CHECK(text == TextFromBytes8Bit(ABytes) && AEnc.GetBytes(text) == ABytes, context());
      break;
    case kUTF16LE:
    case kUTF16BE: {
      FUZZ_CHECK(count == n / 2, context());
      const TIdBytes back = AEnc.GetBytes(text);
      FUZZ_CHECK(back == TIdBytes(ABytes.begin(), ABytes.begin() + (n / 2) * 2),
                 context() + " encodes back as " + Show(back));
      break;
    }
    case kCodePage:
      if ((ACodePage == 65001) && ValidUtf8(ABytes)) {
        const TIdBytes back = AEnc.GetBytes(text);
        FUZZ_CHECK(back == ABytes, context() + " encodes back as " + Show(back));
      }
      break;
  }
}

void CheckEncode(const TIdTextEncodingBase& AEnc, TKind AKind, uint32_t ACodePage, const String& AText,
                 const std::string& AContext) {
  const auto context = [&] { return std::string(AContext + " text [" + Show(AText) + "]"); };
  const int n = static_cast<int>(AText.size());
  const TIdBytes bytes = AEnc.GetBytes(AText);
  const int count = AEnc.GetByteCount(AText);
  FUZZ_CHECK(static_cast<int>(bytes.size()) == count,
             context() + " encodes to " + std::to_string(bytes.size()) + " bytes, counted " + std::to_string(count));
  FUZZ_CHECK(
      n == 0 || count <= AEnc.GetMaxByteCount(n),
      context() + " count " + std::to_string(count) + " above the maximum " + std::to_string(AEnc.GetMaxByteCount(n)));
  // Encoding into the middle of an array leaves what is around it.
  TIdBytes framed{0xA5, 0xA5, 0xA5};
  const int written = AEnc.GetBytes(AText, framed, 1);
  FUZZ_CHECK(written == count && framed[0] == 0xA5 && std::equal(bytes.begin(), bytes.end(), framed.begin() + 1) &&
                 (count >= 2 || framed[static_cast<size_t>(count) + 1] == 0xA5),
             context() + " framed " + Show(framed));
  const bool unicode = AKind == kUTF16LE || AKind == kUTF16BE || (AKind == kCodePage && CoversUnicode(ACodePage));
  if (unicode && LoneSurrogateAt(AText) < 0) {
    const String back = AEnc.GetString(bytes);
    FUZZ_CHECK(back == AText, context() + " as " + Show(bytes) + " decodes to [" + Show(back) + "]");
  }
  if (AKind == kASCII || AKind == k8Bit) FUZZ_CHECK(count == n, context());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  TFuzzInput in(AData, ASize);
  const int choice = in.Range(0, 4 + static_cast<int>(std::size(kCodePages)) - 1);
  IIdTextEncoding enc;
  TKind kind = kCodePage;
  uint32_t codePage = 0;
  switch (choice) {
    case 0:
      enc = EncodingASCII(), kind = kASCII;
      break;
    case 1:
      enc = Encoding8Bit(), kind = k8Bit;
      break;
    case 2:
      enc = EncodingUTF16LE(), kind = kUTF16LE;
      break;
    case 3:
      enc = EncodingUTF16BE(), kind = kUTF16BE;
      break;
    default:
      codePage = kCodePages[choice - 4];
      try {
        enc = std::make_shared<TIdMBCSEncoding>(codePage);
      } catch (const EIdException&) {
        return 0;  // no converter for it here
      }
  }
  const auto context = [&] {
    return std::string("encoding " + std::to_string(choice) + " (code page " + std::to_string(codePage) + ")");
  };
  const TIdBytes bytes = in.Rest();
  CheckDecode(*enc, kind, codePage, bytes, context());
  CheckEncode(*enc, kind, codePage, EncodingUTF16LE()->GetString(bytes), context());
  return 0;
}
