// The first-in, first-out byte queue behind every I/O handler: receives append at
// the tail, readers consume from the head. Reading from the head moves a head index
// instead of memory; the consumed prefix is compacted only once it grows past
// GrowthFactor bytes and past what is left unread, or an append needs the room.
#pragma once

#include <algorithm>
#include <functional>
#include <memory>

#include "vynIdGlobal.h"

namespace vyn {

class TIdBuffer;
// Reported after every removal with the count requested (which may exceed what was buffered).
using TIdBufferBytesRemoved = std::function<void(TIdBuffer* ASender, int ABytes)>;

class TIdBuffer : public TObject {
public:
  TIdBuffer();
  explicit TIdBuffer(TIdBufferBytesRemoved AOnBytesRemoved);
  explicit TIdBuffer(int AGrowthFactor);
  // With a negative ALength the buffer takes all of ABytes; otherwise the first ALength.
  TIdBuffer(const TIdBytes& ABytes, int ALength);
  ~TIdBuffer() override;
  TIdBuffer(const TIdBuffer&) = delete;
  TIdBuffer& operator=(const TIdBuffer&) = delete;

  int Size() const { return FSize; }
  int Capacity() const { return FCapacity; }
  // EIdException "Capacity cannot be smaller than Size" below Size.
  void SetCapacity(int AValue);
  const IIdTextEncoding& Encoding() const { return FByteEncoding; }
  void SetEncoding(const IIdTextEncoding& AValue) { FByteEncoding = AValue; }
  int GrowthFactor() const { return FGrowthFactor; }
  void SetGrowthFactor(int AValue) { FGrowthFactor = AValue; }

  // Appends at the tail when ADestIndex is negative; otherwise inserts at that
  // position (counted from the head, clamped to Size).
  void Write(const TIdBytes& ABytes, int ALength = -1, int AOffset = 0, int ADestIndex = -1);
  void Write(const String& AString, const IIdTextEncoding& AByteEncoding = nullptr, int ADestIndex = -1);
  // Negative: the rest of the stream; positive: at most that many; 0: all of it from its start.
  void Write(TStream& AStream, int64_t AByteCount = 0);

  // Direct receive into the tail: PrepareAppend gives room for ACount bytes (valid until
  // the next call on this buffer), CommitAppend then adds the count actually written.
  uint8_t* PrepareAppend(int ACount);
  void CommitAppend(int ACount);

  // The extracts take from the head and remove (AIndex negative); with AIndex >= 0 they
  // read at that position and remove nothing. A negative count means all of Size; more
  // than is buffered raises EIdNotEnoughDataInBuffer and changes nothing.
  void ExtractToBytes(TIdBytes& VBytes, int AByteCount = -1, bool AAppend = true, int AIndex = -1);
  String ExtractToString(int AByteCount = -1, const IIdTextEncoding& AByteEncoding = nullptr);
  String Extract(int AByteCount = -1, const IIdTextEncoding& AByteEncoding = nullptr) {
    return ExtractToString(AByteCount, AByteEncoding);
  }
  // The bytes reach AStream in one single write.
  void ExtractToStream(TStream& AStream, int AByteCount = -1, int AIndex = -1);
  void ExtractToIdBuffer(TIdBuffer& ABuffer, int AByteCount = -1, int AIndex = -1);
  uint8_t ExtractToUInt8(int AIndex = -1);
  uint16_t ExtractToUInt16(int AIndex = -1, bool AConvert = true);
  uint32_t ExtractToUInt32(int AIndex = -1, bool AConvert = true);
  uint64_t ExtractToUInt64(int AIndex = -1, bool AConvert = true);
  void ExtractToIPv6(int AIndex, TIdIPv6Address& VAddress);
  uint8_t ExtractToByte(int AIndex = -1) { return ExtractToUInt8(AIndex); }
  uint16_t ExtractToWord(int AIndex = -1) { return ExtractToUInt16(AIndex, true); }
  uint32_t ExtractToLongWord(int AIndex = -1) { return ExtractToUInt32(AIndex, true); }

  void Remove(int AByteCount);
  // Drops the storage; does not fire OnBytesRemoved.
  void Clear();

  // Positions count from the head. IndexOf gives -1 when not found and on an empty
  // buffer; an empty pattern or a start outside 0..Size-1 raises.
  int IndexOf(const TIdBytes& ABytes, int AStartPos = 0) const;
  int IndexOf(const String& AString, int AStartPos = 0, const IIdTextEncoding& AByteEncoding = nullptr) const;
  int IndexOf(uint8_t AByte, int AStartPos = 0) const;
  uint8_t PeekByte(int AIndex) const;
  // The unread bytes from the head, for reading in place; valid until the buffer changes.
  TIdBytesView Peek() const { return FSize > 0 ? TIdBytesView(Head(), static_cast<size_t>(FSize)) : TIdBytesView(); }
  void CompactHead(bool ACanShrink = true);

  TIdBufferBytesRemoved OnBytesRemoved;

private:
  const uint8_t* Head() const { return FBytes.get() + FHeadIndex; }
  // The growth factor as room: a negative one adds none (and so never shrinks the
  // storage below the unread bytes).
  int Slack() const { return std::max(FGrowthFactor, 0); }
  void Append(const uint8_t* ABytes, int ACount);
  void Insert(const uint8_t* ABytes, int ACount, int ADestIndex);
  void CheckTooMuch(int ACount) const;
  // Resolves a negative count to what is readable from AIndex and checks the rest.
  int CheckByteCount(int AByteCount, int AIndex) const;
  template <class T>
  T ExtractNumber(int AIndex);
  // Sets the storage length to ALength, keeping its first min(old, new) bytes.
  void SetStorageLength(int ALength);
  void ReleaseStorage();

  // FBytes holds FAllocated bytes, of which the first FCapacity are the storage the
  // buffer's rules speak of; the rest is kept so that a busy connection does not
  // reallocate on every receive.
  std::unique_ptr<uint8_t[]> FBytes;
  int FAllocated = 0;
  int FCapacity = 0;
  IIdTextEncoding FByteEncoding;
  int FGrowthFactor = 2048;
  int FHeadIndex = 0;
  int FSize = 0;
};

}  // namespace vyn
