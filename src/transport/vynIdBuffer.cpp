#include "vynIdBuffer.h"

#include <algorithm>
#include <climits>

#include "vynIdResourceStrings.h"
#include "vynIdStack.h"
#include "vynIdTextEncoding.h"

namespace vyn {

namespace {
// Up to this much memory stays allocated when the storage shrinks or is cleared: a
// receive buffer's worth plus slack, so a streaming connection reuses one block.
constexpr int kRetainLimit = 128 * 1024;
}  // namespace

TIdBuffer::TIdBuffer() { TIdStack::IncUsage(); }

TIdBuffer::TIdBuffer(TIdBufferBytesRemoved AOnBytesRemoved) : TIdBuffer() {
  OnBytesRemoved = std::move(AOnBytesRemoved);
}

TIdBuffer::TIdBuffer(int AGrowthFactor) : TIdBuffer() { FGrowthFactor = AGrowthFactor; }

TIdBuffer::TIdBuffer(const TIdBytes& ABytes, int ALength) : TIdBuffer() {
  const int have = static_cast<int>(ABytes.size());
  const int n = ALength < 0 ? have : std::min(ALength, have);
  SetStorageLength(n);
  std::copy_n(ABytes.data(), n, FBytes.get());
  FSize = n;
}

TIdBuffer::~TIdBuffer() {
  Clear();
  TIdStack::DecUsage();
}

void TIdBuffer::SetStorageLength(int ALength) {
  const bool grow = ALength > FAllocated;
  const bool release = FAllocated > kRetainLimit && ALength < FAllocated / 2;
  if (grow || release) {
    auto fresh = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(ALength));
    const int keep = std::min(FHeadIndex + FSize, ALength);
    if (keep > 0) std::copy_n(FBytes.get(), keep, fresh.get());
    FBytes = std::move(fresh);
    FAllocated = ALength;
  }
  FCapacity = ALength;
}

void TIdBuffer::ReleaseStorage() {
  if (FAllocated > kRetainLimit) {
    FBytes.reset();
    FAllocated = 0;
  }
  FCapacity = 0;
}

void TIdBuffer::SetCapacity(int AValue) {
  if (AValue < FSize) EIdException::Toss(RSBufferCapacityTooSmall);
  CompactHead(true);
  SetStorageLength(AValue);
}

void TIdBuffer::CheckTooMuch(int ACount) const {
  if (INT_MAX - ACount < FSize) EIdTooMuchDataInBuffer::Toss(RSTooMuchDataInBuffer);
}

void TIdBuffer::Append(const uint8_t* ABytes, int ACount) {
  if (ACount <= 0) return;
  uint8_t* tail = PrepareAppend(ACount);
  std::copy_n(ABytes, ACount, tail);
  CommitAppend(ACount);
}

uint8_t* TIdBuffer::PrepareAppend(int ACount) {
  CheckTooMuch(ACount);
  if (FSize == 0) {
    FHeadIndex = 0;
    SetStorageLength(ACount);
  } else {
    CompactHead(false);
    if (FCapacity - FSize < ACount) SetStorageLength(FSize + ACount + Slack());
  }
  return FBytes.get() + FHeadIndex + FSize;
}

void TIdBuffer::CommitAppend(int ACount) {
  if (ACount > 0) FSize += std::min(ACount, FCapacity - FHeadIndex - FSize);
}

void TIdBuffer::Insert(const uint8_t* ABytes, int ACount, int ADestIndex) {
  if (ACount <= 0) return;
  const int at = std::min(ADestIndex, FSize);
  if (at == FSize) {
    Append(ABytes, ACount);
    return;
  }
  CheckTooMuch(ACount);
  CompactHead(false);
  if (FCapacity - FSize < ACount) SetStorageLength(FSize + ACount + Slack());
  uint8_t* base = FBytes.get();
  std::copy_backward(base + at, base + FSize, base + FSize + ACount);
  std::copy_n(ABytes, ACount, base + at);
  FSize += ACount;
}

void TIdBuffer::Write(const TIdBytes& ABytes, int ALength, int AOffset, int ADestIndex) {
  const int have = static_cast<int>(ABytes.size());
  if (AOffset < 0 || AOffset >= have) return;
  const int n = ALength < 0 ? have - AOffset : std::min(ALength, have - AOffset);
  if (ADestIndex < 0) Append(ABytes.data() + AOffset, n);
  else Insert(ABytes.data() + AOffset, n, ADestIndex);
}

void TIdBuffer::Write(const String& AString, const IIdTextEncoding& AByteEncoding, int ADestIndex) {
  const TIdBytes bytes = ResolveEncoding(AByteEncoding, FByteEncoding)->GetBytes(AString);
  Write(bytes, -1, 0, ADestIndex);
}

void TIdBuffer::Write(TStream& AStream, int64_t AByteCount) {
  if (AByteCount == 0) {
    AStream.SetPosition(0);
    AByteCount = AStream.Size();
  } else {
    const int64_t remaining = AStream.Size() - AStream.Position();
    AByteCount = AByteCount < 0 ? remaining : std::min(AByteCount, remaining);
  }
  if (AByteCount < 1) return;
  if (AByteCount > INT_MAX) EIdTooMuchDataInBuffer::Toss(RSTooMuchDataInBuffer);
  const int count = static_cast<int>(AByteCount);
  CheckTooMuch(count);
  CompactHead(true);
  SetStorageLength(FSize + count);
  uint8_t* tail = FBytes.get() + FSize;
  int got = 0;
  while (got < count) {
    const int64_t n = AStream.Read(tail + got, count - got);
    if (n <= 0) break;
    got += static_cast<int>(n);
  }
  FSize += got;
}

int TIdBuffer::CheckByteCount(int AByteCount, int AIndex) const {
  const int from = AIndex < 0 ? 0 : AIndex;
  const int readable = std::max(FSize - from, 0);
  if (AByteCount < 0) return readable;
  if (AByteCount > readable)
    EIdNotEnoughDataInBuffer::Toss(FormatInvariant(RSNotEnoughDataInBuffer, {AByteCount, FSize}));
  return AByteCount;
}

void TIdBuffer::ExtractToBytes(TIdBytes& VBytes, int AByteCount, bool AAppend, int AIndex) {
  const int n = CheckByteCount(AByteCount, AIndex);
  if (n == 0) return;
  const uint8_t* from = Head() + std::max(AIndex, 0);
  if (AAppend) {
    VBytes.insert(VBytes.end(), from, from + n);
  } else {
    if (static_cast<int>(VBytes.size()) < n) VBytes.resize(static_cast<size_t>(n));
    std::copy_n(from, n, VBytes.data());
  }
  if (AIndex < 0) Remove(n);
}

String TIdBuffer::ExtractToString(int AByteCount, const IIdTextEncoding& AByteEncoding) {
  const int n = CheckByteCount(AByteCount, -1);
  if (n < 1) return {};
  String text = ResolveEncoding(AByteEncoding, FByteEncoding)->GetString(Head(), static_cast<size_t>(n));
  Remove(n);
  return text;
}

void TIdBuffer::ExtractToStream(TStream& AStream, int AByteCount, int AIndex) {
  // The unread bytes are contiguous from the head: they go out without a move. (A
  // compaction here would move what is left on every extract, which for a receive
  // of many small chunks costs the square of its size.)
  const int n = CheckByteCount(AByteCount, AIndex);
  if (n == 0) return;
  AStream.WriteBuffer(Head() + std::max(AIndex, 0), n);
  if (AIndex < 0) Remove(n);
}

void TIdBuffer::ExtractToIdBuffer(TIdBuffer& ABuffer, int AByteCount, int AIndex) {
  const int n = CheckByteCount(AByteCount, AIndex);
  if (n == 0) return;
  const uint8_t* from = Head() + std::max(AIndex, 0);
  if (&ABuffer == this) {
    // Appending to itself may move the storage under the source: go through a copy.
    const TIdBytes bytes(from, from + n);
    if (AIndex < 0) Remove(n);
    Append(bytes.data(), n);
    return;
  }
  ABuffer.Append(from, n);
  if (AIndex < 0) Remove(n);
}

template <class T>
T TIdBuffer::ExtractNumber(int AIndex) {
  CheckByteCount(static_cast<int>(sizeof(T)), AIndex);
  T value;
  std::memcpy(&value, Head() + std::max(AIndex, 0), sizeof(T));
  if (AIndex < 0) Remove(sizeof(T));
  return value;
}

uint8_t TIdBuffer::ExtractToUInt8(int AIndex) { return ExtractNumber<uint8_t>(AIndex); }

uint16_t TIdBuffer::ExtractToUInt16(int AIndex, bool AConvert) {
  const uint16_t v = ExtractNumber<uint16_t>(AIndex);
  return AConvert ? GStack()->NetworkToHost(v) : v;
}

uint32_t TIdBuffer::ExtractToUInt32(int AIndex, bool AConvert) {
  const uint32_t v = ExtractNumber<uint32_t>(AIndex);
  return AConvert ? GStack()->NetworkToHost(v) : v;
}

uint64_t TIdBuffer::ExtractToUInt64(int AIndex, bool AConvert) {
  const uint64_t v = ExtractNumber<uint64_t>(AIndex);
  return AConvert ? GStack()->NetworkToHost(v) : v;
}

void TIdBuffer::ExtractToIPv6(int AIndex, TIdIPv6Address& VAddress) {
  TIdIPv6Address raw;
  CheckByteCount(static_cast<int>(sizeof raw), AIndex);
  std::memcpy(raw.data(), Head() + std::max(AIndex, 0), sizeof raw);
  if (AIndex < 0) Remove(sizeof raw);
  VAddress = GStack()->NetworkToHost(raw);
}

void TIdBuffer::Remove(int AByteCount) {
  if (AByteCount < 0) return;
  if (AByteCount >= FSize) {
    Clear();
  } else {
    FHeadIndex += AByteCount;
    FSize -= AByteCount;
    // Compacting only once the consumed prefix is at least as long as what is left
    // keeps the moves in proportion to the bytes consumed, however small the pieces.
    if (FHeadIndex > FGrowthFactor && FHeadIndex >= FSize) CompactHead(true);
  }
  if (OnBytesRemoved) OnBytesRemoved(this, AByteCount);
}

void TIdBuffer::Clear() {
  ReleaseStorage();
  FHeadIndex = 0;
  FSize = 0;
}

int TIdBuffer::IndexOf(const TIdBytes& ABytes, int AStartPos) const {
  if (FSize == 0) return -1;
  if (ABytes.empty()) EIdException::Toss(RSBufferMissingTerminator);
  if (AStartPos < 0 || AStartPos >= FSize) EIdException::Toss(RSBufferInvalidStartPos);
  const int m = static_cast<int>(ABytes.size());
  const uint8_t* base = Head();
  const uint8_t first = ABytes[0];
  for (int pos = AStartPos; pos <= FSize - m;) {
    const void* hit = std::memchr(base + pos, first, static_cast<size_t>(FSize - m - pos + 1));
    if (!hit) return -1;
    pos = static_cast<int>(static_cast<const uint8_t*>(hit) - base);
    if (std::memcmp(base + pos, ABytes.data(), static_cast<size_t>(m)) == 0) return pos;
    ++pos;
  }
  return -1;
}

int TIdBuffer::IndexOf(const String& AString, int AStartPos, const IIdTextEncoding& AByteEncoding) const {
  return IndexOf(ResolveEncoding(AByteEncoding, FByteEncoding)->GetBytes(AString), AStartPos);
}

int TIdBuffer::IndexOf(uint8_t AByte, int AStartPos) const {
  if (FSize == 0) return -1;
  if (AStartPos < 0 || AStartPos >= FSize) EIdException::Toss(RSBufferInvalidStartPos);
  const void* hit = std::memchr(Head() + AStartPos, AByte, static_cast<size_t>(FSize - AStartPos));
  return hit ? static_cast<int>(static_cast<const uint8_t*>(hit) - Head()) : -1;
}

uint8_t TIdBuffer::PeekByte(int AIndex) const {
  if (FSize == 0) EIdException::Toss(RSBufferEmpty);
  if (AIndex < 0 || AIndex >= FSize) EIdException::Toss(RSBufferIndexOutOfBounds);
  return Head()[AIndex];
}

void TIdBuffer::CompactHead(bool ACanShrink) {
  if (FHeadIndex == 0) return;
  uint8_t* base = FBytes.get();
  std::copy(base + FHeadIndex, base + FHeadIndex + FSize, base);
  FHeadIndex = 0;
  if (ACanShrink && FCapacity - FSize > Slack()) SetStorageLength(FSize + Slack());
}

}  // namespace vyn
