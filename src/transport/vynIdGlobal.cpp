#include "vynIdGlobal.h"

#include <time.h>

#include <algorithm>

#include "vynIdResourceStrings.h"
#include "vynIdTextEncoding.h"

namespace vyn {

namespace {
// Clamps a (start, count) range to an array of ASize; a negative count means "to the end".
void ClampRange(size_t ASize, int& AIndex, int& ACount) {
  const int have = static_cast<int>(ASize);
  AIndex = std::clamp(AIndex, 0, have);
  if (ACount < 0 || ACount > have - AIndex) ACount = have - AIndex;
}

const IIdTextEncoding& OrDefault(const IIdTextEncoding& AEncoding) {
  return AEncoding ? AEncoding : EncodingDefault();
}
}  // namespace

// ---- Bytes ------------------------------------------------------------------------------

TIdBytes BytesFromText(StringView AText, const IIdTextEncoding& AEncoding, int ALength, int AIndex) {
  int start = AIndex - 1;
  ClampRange(AText.size(), start, ALength);
  if (ALength == 0) return {};
  return OrDefault(AEncoding)->GetBytes(AText.substr(static_cast<size_t>(start), static_cast<size_t>(ALength)));
}

TIdBytes BytesFromChar(char16_t AChar, const IIdTextEncoding& AEncoding) {
  return OrDefault(AEncoding)->GetBytes(StringView(&AChar, 1));
}

void CheckBytesAt(const TIdBytes& ABytes, int AIndex, size_t ACount) {
  if (AIndex < 0 || static_cast<size_t>(AIndex) > ABytes.size() || ABytes.size() - AIndex < ACount)
    EIdException::Toss(RSInvalidIndex);
}

String IPv4TextFromBytes(const TIdBytes& ABytes, int AIndex) {
  CheckBytesAt(ABytes, AIndex, 4);
  const uint8_t* p = ABytes.data() + AIndex;
  return FormatInvariant(u"%d.%d.%d.%d", {p[0], p[1], p[2], p[3]});
}

TIdBytes BytesFromRaw(const void* ABuffer, int ASize) {
  if (!ABuffer || ASize <= 0) return {};
  const auto* p = static_cast<const uint8_t*>(ABuffer);
  return TIdBytes(p, p + ASize);
}

TIdBytes SliceBytes(const TIdBytes& ABytes, int ALength, int AIndex) {
  ClampRange(ABytes.size(), AIndex, ALength);
  return TIdBytes(ABytes.begin() + AIndex, ABytes.begin() + AIndex + ALength);
}

void CopyBytesInto(const TIdBytes& ASource, int ASourceIndex, TIdBytes& ADest, int ADestIndex, int ALength) {
  if (ALength <= 0) return;
  if (ASourceIndex < 0 || ADestIndex < 0 || static_cast<size_t>(ASourceIndex + ALength) > ASource.size() ||
      static_cast<size_t>(ADestIndex + ALength) > ADest.size())
    EIdException::Toss(RSInvalidIndex);
  std::memmove(ADest.data() + ADestIndex, ASource.data() + ASourceIndex, static_cast<size_t>(ALength));
}

void AppendBytesTo(TIdBytes& ABytes, const TIdBytes& AAdd, int AIndex, int ALength) {
  ClampRange(AAdd.size(), AIndex, ALength);
  ABytes.insert(ABytes.end(), AAdd.begin() + AIndex, AAdd.begin() + AIndex + ALength);
}

void AppendByteTo(TIdBytes& ABytes, uint8_t AByte) { ABytes.push_back(AByte); }

void AppendTextTo(TIdBytes& ABytes, StringView AText, int ALength, const IIdTextEncoding& AEncoding) {
  int start = 0;
  ClampRange(AText.size(), start, ALength);
  if (ALength == 0) return;
  OrDefault(AEncoding)->GetBytes(AText.substr(0, static_cast<size_t>(ALength)), ABytes,
                                 static_cast<int>(ABytes.size()));
}

void RemoveBytesAt(TIdBytes& ABytes, int ACount, int AIndex) {
  ClampRange(ABytes.size(), AIndex, ACount);
  ABytes.erase(ABytes.begin() + AIndex, ABytes.begin() + AIndex + ACount);
}

TIdBytes BytesFromString8Bit(StringView AText) { return Encoding8Bit()->GetBytes(AText); }

String TextFromBytes(const TIdBytes& ABytes, const IIdTextEncoding& AEncoding, int AStartIndex, int ALength) {
  ClampRange(ABytes.size(), AStartIndex, ALength);
  if (ALength == 0) return {};
  return OrDefault(AEncoding)->GetString(ABytes.data() + AStartIndex, static_cast<size_t>(ALength));
}

String TextFromBytes8Bit(const TIdBytes& ABytes, int AStartIndex, int ALength) {
  ClampRange(ABytes.size(), AStartIndex, ALength);
  return TextFromBytes8Bit(ABytes.data() + AStartIndex, static_cast<size_t>(ALength));
}

String TextFromBytes8Bit(const uint8_t* ABytes, size_t ACount) {
  // Widening copy: the loop vectorises, no per-byte call.
  return String(ABytes, ABytes + ACount);
}

// ---- Streams ----------------------------------------------------------------------------

int64_t TIdStreamHelperVCL::ReadBytes(TStream& AStream, TIdBytes& VBytes, int64_t ACount, int AOffset) {
  if (ACount < 0) ACount = std::max<int64_t>(0, AStream.Size() - AStream.Position());
  if (ACount == 0) return 0;
  if (static_cast<int64_t>(VBytes.size()) < AOffset + ACount) VBytes.resize(static_cast<size_t>(AOffset + ACount));
  int64_t done = 0;
  while (done < ACount) {
    const int64_t n = AStream.Read(VBytes.data() + AOffset + done, ACount - done);
    if (n <= 0) break;
    done += n;
  }
  return done;
}

int64_t TIdStreamHelperVCL::Write(TStream& AStream, const TIdBytes& ABytes, int64_t ACount, int AOffset) {
  int offset = AOffset;
  int count = ACount < 0 || ACount > INT32_MAX ? -1 : static_cast<int>(ACount);
  ClampRange(ABytes.size(), offset, count);
  if (count == 0) return 0;
  return AStream.Write(ABytes.data() + offset, count);
}

int64_t TIdStreamHelperVCL::Seek(TStream& AStream, int64_t AOffset, TSeekOrigin AOrigin) {
  return AStream.Seek(AOffset, AOrigin);
}

int64_t TIdBaseStream::Read(void* ABuffer, int64_t ACount) {
  if (ACount <= 0) return 0;
  const int count = static_cast<int>(std::min<int64_t>(ACount, INT32_MAX));
  const int n = DoRead(TIdBytesSpan(static_cast<uint8_t*>(ABuffer), static_cast<size_t>(count)), 0, count);
  return std::clamp(n, 0, count);
}

int64_t TIdBaseStream::Write(const void* ABuffer, int64_t ACount) {
  if (ACount <= 0) return 0;
  const int count = static_cast<int>(std::min<int64_t>(ACount, INT32_MAX));
  return DoWrite(TIdBytesView(static_cast<const uint8_t*>(ABuffer), static_cast<size_t>(count)), 0, count);
}

int TIdEventStream::DoRead(TIdBytesSpan VBuffer, int AOffset, int ACount) {
  int result = 0;
  if (OnRead) OnRead(VBuffer, AOffset, ACount, result);
  return result;
}

int TIdEventStream::DoWrite(TIdBytesView ABuffer, int AOffset, int ACount) {
  if (!OnWrite) return ACount;
  int result = 0;
  OnWrite(ABuffer, AOffset, ACount, result);
  return result;
}

int64_t TIdEventStream::DoSeek(int64_t AOffset, TSeekOrigin AOrigin) {
  int64_t position = 0;
  if (OnSeek) OnSeek(AOffset, AOrigin, position);
  return position;
}

void TIdEventStream::DoSetSize(int64_t ANewSize) {
  if (OnSetSize) OnSetSize(ANewSize);
}

String ReadTextFromStream(TStream& AStream, int64_t ACount, const IIdTextEncoding& AEncoding) {
  TIdBytes bytes;
  const int64_t n = TIdStreamHelperVCL::ReadBytes(AStream, bytes, ACount, 0);
  return TextFromBytes(bytes, AEncoding, 0, static_cast<int>(n));
}

void WriteTextToStream(TStream& AStream, StringView AText, int ALength, const IIdTextEncoding& AEncoding,
                       int AIndex) {
  const TIdBytes bytes = BytesFromText(AText, AEncoding, ALength, AIndex);
  TIdStreamHelperVCL::Write(AStream, bytes);
}

// ---- Text -------------------------------------------------------------------------------

String SplitOffToken(String& AInput, StringView ADelim, bool ADelete, bool ACaseSensitive) {
  size_t pos;
  if (ACaseSensitive) pos = AInput.find(ADelim);
  else pos = UpperCase(AInput).find(UpperCase(ADelim));
  if (ADelim.empty()) pos = String::npos;
  String token;
  if (pos == String::npos) {
    token = AInput;
    if (ADelete) AInput.clear();
  } else {
    token = AInput.substr(0, pos);
    if (ADelete) AInput.erase(0, pos + ADelim.size());
  }
  return token;
}

bool TextEqualsIgnoreCase(StringView A, StringView B) { return SameText(A, B); }

bool TextHasPrefix(StringView AText, StringView APrefix) {
  return AText.size() >= APrefix.size() && SameText(AText.substr(0, APrefix.size()), APrefix);
}

bool TextHasSuffix(StringView AText, StringView ASuffix) {
  return AText.size() >= ASuffix.size() && SameText(AText.substr(AText.size() - ASuffix.size()), ASuffix);
}

int IndexOfText(StringView AText, std::initializer_list<StringView> AList, bool ACaseSensitive) {
  int i = 0;
  for (StringView entry : AList) {
    if (ACaseSensitive ? entry == AText : SameText(entry, AText)) return i;
    ++i;
  }
  return -1;
}

bool CharIsOneOf(StringView AString, int ACharPos, StringView ASet) {
  if (ACharPos < 1) EIdException::Toss(RSInvalidCharPos);
  if (static_cast<size_t>(ACharPos) > AString.size()) return false;
  return ASet.find(AString[ACharPos - 1]) != StringView::npos;
}

bool CharAtEquals(StringView AString, int ACharPos, char16_t AChar) {
  if (ACharPos < 1) EIdException::Toss(RSInvalidCharPos);
  return static_cast<size_t>(ACharPos) <= AString.size() && AString[ACharPos - 1] == AChar;
}

bool ByteIsOneOf(const TIdBytes& ABytes, int AIndex, std::initializer_list<uint8_t> ASet) {
  if (AIndex < 0) EIdException::Toss(RSInvalidIndex);
  if (static_cast<size_t>(AIndex) >= ABytes.size()) return false;
  return std::find(ASet.begin(), ASet.end(), ABytes[AIndex]) != ASet.end();
}

String FormatInvariant(StringView AFormat, std::initializer_list<TVarRec> AArgs) {
  return Format(AFormat, AArgs);  // the run-time's Format always uses fixed English settings
}

int32_t TrimmedStrToInt(StringView AText) { return StrToInt(Trim(AText)); }
int32_t TrimmedStrToInt(StringView AText, int32_t ADefault) { return StrToIntDef(Trim(AText), ADefault); }
int64_t TrimmedStrToInt64(StringView AText) { return StrToInt64(Trim(AText)); }
int64_t TrimmedStrToInt64(StringView AText, int64_t ADefault) { return StrToInt64Def(Trim(AText), ADefault); }

// ---- Ticks ------------------------------------------------------------------------------

uint64_t TickCount64() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

uint64_t TicksSince(uint64_t AOld) { return TickDifference(AOld, TickCount64()); }

}  // namespace vyn
