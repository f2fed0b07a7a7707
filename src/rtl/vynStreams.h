// The stream family of the run-time base.
#pragma once

#include <vector>

#include "vynSysUtils.h"

namespace vyn {

enum TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream : public TObject {
public:
  // One transfer of at most ACount bytes; returns the count moved (0 at the end).
  virtual int64_t Read(void* ABuffer, int64_t ACount) = 0;
  virtual int64_t Write(const void* ABuffer, int64_t ACount) = 0;
  // Returns the new position.
  virtual int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) = 0;

  int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(int64_t APos) { Seek(APos, soBeginning); }
  virtual int64_t Size();
  virtual void SetSize(int64_t ASize);

  // Exact transfers: EReadError "Stream read error" / EWriteError "Stream write error"
  // when the stream moves fewer bytes.
  void ReadBuffer(void* ABuffer, int64_t ACount);
  void WriteBuffer(const void* ABuffer, int64_t ACount);
  // Copies ACount bytes from ASource (0: all of it from its start); returns the count.
  int64_t CopyFrom(TStream& ASource, int64_t ACount);
};

// A stream over a growable block of memory.
class TMemoryStream : public TStream {
public:
  int64_t Read(void* ABuffer, int64_t ACount) override;
  int64_t Write(const void* ABuffer, int64_t ACount) override;
  int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) override;
  int64_t Size() override { return static_cast<int64_t>(FData.size()); }
  void SetSize(int64_t ASize) override;
  void Clear();
  const uint8_t* Memory() const { return FData.data(); }
  const std::vector<uint8_t>& Bytes() const { return FData; }
  void LoadFromFile(const String& AFileName);
  void SaveToFile(const String& AFileName);

protected:
  std::vector<uint8_t> FData;
  int64_t FPosition = 0;
};

// A memory stream that holds text: DataString decodes its bytes as UTF-8.
class TStringStream : public TMemoryStream {
public:
  TStringStream() = default;
  explicit TStringStream(const String& AText);
  String DataString() const;
};

enum TFileMode : uint32_t {
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmShareDenyWrite = 0x0020,  // an advisory lock keeps other writers out
  fmCreate = 0xFF00,          // create or truncate, read and write
};

// A stream over a file. Failures raise EFOpenError "Cannot open file "%s". %s" or
// EFCreateError "Cannot create file "%s". %s" with the system's text.
class TFileStream : public TStream {
public:
  TFileStream(const String& AFileName, uint32_t AMode);
  ~TFileStream() override;
  int64_t Read(void* ABuffer, int64_t ACount) override;
  int64_t Write(const void* ABuffer, int64_t ACount) override;
  int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) override;
  void SetSize(int64_t ASize) override;
  const String& FileName() const { return FFileName; }
  int Handle() const { return FHandle; }

private:
  String FFileName;
  int FHandle = -1;
};

}  // namespace vyn
