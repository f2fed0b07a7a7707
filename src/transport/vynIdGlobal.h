// What every part of the library shares: byte arrays and their operations, text
// operations the protocol code parses with, invariant formatting, the tick counter,
// and the stream helpers. The text encodings live in vynIdTextEncoding.h.
#pragma once

#include <array>
#include <cstring>
#include <initializer_list>
#include <functional>
#include <memory>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "vynIdException.h"
#include "vynIdResourceStrings.h"
#include "vynStreams.h"

namespace vyn {

// A byte array; empty and missing are the same value.
using TIdBytes = std::vector<uint8_t>;
// Views of bytes owned by someone else, valid for the duration of a call.
using TIdBytesView = std::span<const uint8_t>;
using TIdBytesSpan = std::span<uint8_t>;
using TIdWideChars = std::vector<char16_t>;

enum TIdIPVersion { Id_IPv4, Id_IPv6 };
inline constexpr TIdIPVersion ID_DEFAULT_IP_VERSION = Id_IPv4;

// Eight 16-bit groups in host byte order.
using TIdIPv6Address = std::array<uint16_t, 8>;

// Time-outs in milliseconds: passed to an operation, TimeoutUseDefault means the
// handler's ReadTimeout and TimeoutInfinite waits without limit.
inline constexpr int32_t TimeoutUseDefault = -1;
inline constexpr int32_t TimeoutInfinite = -2;

class TIdTextEncodingBase;
// Text encodings are shared, reference-counted objects.
using IIdTextEncoding = std::shared_ptr<TIdTextEncodingBase>;

// ---- Byte operations. A length of -1 means "up to the end". -------------------------

// Encodes ALength characters of AText from the 1-based AIndex (clamped to the text);
// a missing encoding means the library default.
TIdBytes BytesFromText(StringView AText, const IIdTextEncoding& AEncoding = nullptr,
                       int ALength = -1, int AIndex = 1);
TIdBytes BytesFromChar(char16_t AChar, const IIdTextEncoding& AEncoding = nullptr);

// A value's bytes in the machine's byte order (convert with the stack's HostToNetwork first).
template <class T>
  requires std::is_integral_v<T>
TIdBytes BytesFromNumber(T AValue) {
  TIdBytes out(sizeof(T));
  std::memcpy(out.data(), &AValue, sizeof(T));
  return out;
}

// EIdException "Invalid AIndex" unless ABytes holds ACount bytes from the 0-based AIndex.
void CheckBytesAt(const TIdBytes& ABytes, int AIndex, size_t ACount);

// Reads a value at the 0-based AIndex in the machine's byte order; an array that does
// not hold AIndex + sizeof(T) bytes raises EIdException "Invalid AIndex".
template <class T>
  requires std::is_integral_v<T>
T NumberFromBytes(const TIdBytes& ABytes, int AIndex = 0) {
  CheckBytesAt(ABytes, AIndex, sizeof(T));
  T v;
  std::memcpy(&v, ABytes.data() + AIndex, sizeof(T));
  return v;
}

String IPv4TextFromBytes(const TIdBytes& ABytes, int AIndex = 0);  // '192.0.2.1'
TIdBytes BytesFromRaw(const void* ABuffer, int ASize);
// ALength bytes from the 0-based AIndex, clamped to what is there.
TIdBytes SliceBytes(const TIdBytes& ABytes, int ALength, int AIndex = 0);
// Copies without resizing: the source must hold ASourceIndex + ALength bytes and the
// destination ADestIndex + ALength.
void CopyBytesInto(const TIdBytes& ASource, int ASourceIndex, TIdBytes& ADest, int ADestIndex,
                   int ALength);
void AppendBytesTo(TIdBytes& ABytes, const TIdBytes& AAdd, int AIndex = 0, int ALength = -1);
void AppendByteTo(TIdBytes& ABytes, uint8_t AByte);
void AppendTextTo(TIdBytes& ABytes, StringView AText, int ALength = -1,
                  const IIdTextEncoding& AEncoding = nullptr);
void RemoveBytesAt(TIdBytes& ABytes, int ACount, int AIndex);
TIdBytes BytesFromString8Bit(StringView AText);

// Decodes a range (default all); a missing encoding means the library default.
String TextFromBytes(const TIdBytes& ABytes, const IIdTextEncoding& AEncoding = nullptr,
                     int AStartIndex = 0, int ALength = -1);
// One character per byte, each byte value becoming the code unit of the same value.
String TextFromBytes8Bit(const TIdBytes& ABytes, int AStartIndex = 0, int ALength = -1);
String TextFromBytes8Bit(const uint8_t* ABytes, size_t ACount);

// ---- Stream operations ---------------------------------------------------------------

class TIdStreamHelperVCL {
public:
  // Reads ACount bytes (negative: up to the end) into VBytes from AOffset, growing it
  // as needed; returns what the stream delivered.
  static int64_t ReadBytes(TStream& AStream, TIdBytes& VBytes, int64_t ACount = -1, int AOffset = 0);
  // Writes ACount bytes (negative: to the end) from AOffset, clamped; returns the count.
  static int64_t Write(TStream& AStream, const TIdBytes& ABytes, int64_t ACount = -1, int AOffset = 0);
  static int64_t Seek(TStream& AStream, int64_t AOffset, TSeekOrigin AOrigin);
};

// A stream adapter: the platform's stream operations forwarded to four operations on
// byte views. A block is handed on as a view of the caller's memory, never copied.
class TIdBaseStream : public TStream {
public:
  int64_t Read(void* ABuffer, int64_t ACount) override;
  int64_t Write(const void* ABuffer, int64_t ACount) override;
  int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) override { return DoSeek(AOffset, AOrigin); }
  void SetSize(int64_t ASize) override { DoSetSize(ASize); }

protected:
  virtual int DoRead(TIdBytesSpan VBuffer, int AOffset, int ACount) = 0;
  virtual int DoWrite(TIdBytesView ABuffer, int AOffset, int ACount) = 0;
  virtual int64_t DoSeek(int64_t AOffset, TSeekOrigin AOrigin) = 0;
  virtual void DoSetSize(int64_t ANewSize) = 0;
};

using TIdStreamReadEvent = std::function<void(TIdBytesSpan VBuffer, int AOffset, int ACount, int& VResult)>;
using TIdStreamWriteEvent = std::function<void(TIdBytesView ABuffer, int AOffset, int ACount, int& VResult)>;
using TIdStreamSeekEvent = std::function<void(int64_t AOffset, TSeekOrigin AOrigin, int64_t& VPosition)>;
using TIdStreamSetSizeEvent = std::function<void(int64_t ANewSize)>;

// A stream that turns every operation into an event. Without OnWrite a write counts as
// done; without OnSeek the position (and so the size) is always 0.
class TIdEventStream : public TIdBaseStream {
public:
  TIdStreamReadEvent OnRead;
  TIdStreamWriteEvent OnWrite;
  TIdStreamSeekEvent OnSeek;
  TIdStreamSetSizeEvent OnSetSize;

protected:
  int DoRead(TIdBytesSpan VBuffer, int AOffset, int ACount) override;
  int DoWrite(TIdBytesView ABuffer, int AOffset, int ACount) override;
  int64_t DoSeek(int64_t AOffset, TSeekOrigin AOrigin) override;
  void DoSetSize(int64_t ANewSize) override;
};

String ReadTextFromStream(TStream& AStream, int64_t ACount = -1,
                          const IIdTextEncoding& AEncoding = nullptr);
void WriteTextToStream(TStream& AStream, StringView AText, int ALength = -1,
                       const IIdTextEncoding& AEncoding = nullptr, int AIndex = 1);

// ---- Text operations -----------------------------------------------------------------

// The text before the first ADelim (all of AInput when there is none); with ADelete
// the text after the delimiter stays in AInput (nothing when there was none).
String SplitOffToken(String& AInput, StringView ADelim, bool ADelete = true,
                     bool ACaseSensitive = true);
bool TextEqualsIgnoreCase(StringView A, StringView B);
bool TextHasPrefix(StringView AText, StringView APrefix);
bool TextHasSuffix(StringView AText, StringView ASuffix);
// 0-based index of the first entry equal to AText, or -1.
int IndexOfText(StringView AText, std::initializer_list<StringView> AList, bool ACaseSensitive = false);
// Whether the character at the 1-based ACharPos is one of ASet; false past the end;
// EIdException "Invalid ACharPos" below 1.
bool CharIsOneOf(StringView AString, int ACharPos, StringView ASet);
bool CharAtEquals(StringView AString, int ACharPos, char16_t AChar);
// The same for a 0-based byte index; EIdException "Invalid AIndex" when negative.
bool ByteIsOneOf(const TIdBytes& ABytes, int AIndex, std::initializer_list<uint8_t> ASet);

// Every protocol text the library formats goes through this: fixed English settings.
String FormatInvariant(StringView AFormat, std::initializer_list<TVarRec> AArgs);

// Trim blanks, then convert. Without a default a non-number raises EConvertError.
int32_t TrimmedStrToInt(StringView AText);
int32_t TrimmedStrToInt(StringView AText, int32_t ADefault);
int64_t TrimmedStrToInt64(StringView AText);
int64_t TrimmedStrToInt64(StringView AText, int64_t ADefault);

// ---- Scope ----------------------------------------------------------------------------

// Runs AAction when the scope ends, also by an exception. The action must not raise
// while an exception is on its way out.
template <class F>
class TScopeExit {
public:
  explicit TScopeExit(F AAction) : FAction(std::move(AAction)) {}
  ~TScopeExit() { FAction(); }
  TScopeExit(const TScopeExit&) = delete;
  TScopeExit& operator=(const TScopeExit&) = delete;

private:
  F FAction;
};

// ---- Ticks ----------------------------------------------------------------------------

// Milliseconds of a monotonic clock; compare only through TickDifference.
uint64_t TickCount64();
// ANew - AOld modulo 2^64.
inline uint64_t TickDifference(uint64_t AOld, uint64_t ANew) { return ANew - AOld; }
uint64_t TicksSince(uint64_t AOld);

}  // namespace vyn
