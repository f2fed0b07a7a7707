// Text encodings: conversion between strings (UTF-16 code units) and bytes. Decoding
// never fails and carries no state from one call to the next: invalid or truncated
// sequences decode as U+FFFD.
#pragma once

#include "vynIdGlobal.h"

namespace vyn {

class TIdTextEncodingBase : public TObject {
public:
  // The six conversions every encoding supplies. Counts are code units and bytes; a
  // conversion writes at most the capacity it is given and returns what it wrote.
  virtual int GetByteCount(const char16_t* AChars, int ACharCount) const = 0;
  virtual int GetBytes(const char16_t* AChars, int ACharCount, uint8_t* ABytes, int AByteCount) const = 0;
  virtual int GetCharCount(const uint8_t* ABytes, int AByteCount) const = 0;
  virtual int GetChars(const uint8_t* ABytes, int AByteCount, char16_t* AChars, int ACharCount) const = 0;
  virtual int GetMaxByteCount(int ACharCount) const = 0;
  virtual int GetMaxCharCount(int AByteCount) const = 0;
  virtual TIdBytes GetPreamble() const { return {}; }

  // Everything else is built on those.
  int GetByteCount(StringView AChars) const;
  TIdBytes GetBytes(StringView AChars) const;
  TIdBytes GetBytes(const TIdWideChars& AChars, int ACharIndex, int ACharCount) const;
  // Encodes into ABytes at AByteIndex, growing it when needed; returns the count.
  int GetBytes(StringView AChars, TIdBytes& ABytes, int AByteIndex) const;
  int GetCharCount(const TIdBytes& ABytes, int AByteIndex = 0, int AByteCount = -1) const;
  TIdWideChars GetChars(const TIdBytes& ABytes, int AByteIndex = 0, int AByteCount = -1) const;
  String GetString(const TIdBytes& ABytes, int AByteIndex = 0, int AByteCount = -1) const;
  String GetString(const uint8_t* ABytes, size_t AByteCount) const;

  bool IsSingleByte() const { return FIsSingleByte; }
  int MaxCharSize() const { return FMaxCharSize; }

protected:
  bool FIsSingleByte = false;
  int FMaxCharSize = 0;
};

// Code units below 128 as themselves, others as "?"; bytes from 128 up decode as U+FFFD.
class TIdASCIIEncoding : public TIdTextEncodingBase {
public:
  TIdASCIIEncoding();
  int GetByteCount(const char16_t* AChars, int ACharCount) const override;
  int GetBytes(const char16_t* AChars, int ACharCount, uint8_t* ABytes, int AByteCount) const override;
  int GetCharCount(const uint8_t* ABytes, int AByteCount) const override;
  int GetChars(const uint8_t* ABytes, int AByteCount, char16_t* AChars, int ACharCount) const override;
  int GetMaxByteCount(int ACharCount) const override { return ACharCount; }
  int GetMaxCharCount(int AByteCount) const override { return AByteCount; }
};

// One byte per code unit: below 256 as itself, others as "?"; every byte decodes to
// the code unit of the same value.
class TId8BitEncoding : public TIdTextEncodingBase {
public:
  TId8BitEncoding();
  int GetByteCount(const char16_t* AChars, int ACharCount) const override;
  int GetBytes(const char16_t* AChars, int ACharCount, uint8_t* ABytes, int AByteCount) const override;
  int GetCharCount(const uint8_t* ABytes, int AByteCount) const override;
  int GetChars(const uint8_t* ABytes, int AByteCount, char16_t* AChars, int ACharCount) const override;
  int GetMaxByteCount(int ACharCount) const override { return ACharCount; }
  int GetMaxCharCount(int AByteCount) const override { return AByteCount; }
};

// Code units as two bytes, low byte first; an odd last byte is ignored.
class TIdUTF16LittleEndianEncoding : public TIdTextEncodingBase {
public:
  TIdUTF16LittleEndianEncoding();
  int GetByteCount(const char16_t* AChars, int ACharCount) const override;
  int GetBytes(const char16_t* AChars, int ACharCount, uint8_t* ABytes, int AByteCount) const override;
  int GetCharCount(const uint8_t* ABytes, int AByteCount) const override;
  int GetChars(const uint8_t* ABytes, int AByteCount, char16_t* AChars, int ACharCount) const override;
  int GetMaxByteCount(int ACharCount) const override { return 2 * ACharCount + 2; }
  int GetMaxCharCount(int AByteCount) const override { return AByteCount / 2 + AByteCount % 2 + 1; }
  TIdBytes GetPreamble() const override { return {0xFF, 0xFE}; }

protected:
  virtual bool BigEndian() const { return false; }
};

class TIdUTF16BigEndianEncoding : public TIdUTF16LittleEndianEncoding {
public:
  TIdBytes GetPreamble() const override { return {0xFE, 0xFF}; }

protected:
  bool BigEndian() const override { return true; }
};

// An encoding through the platform's code-page converter. Creating one for a code
// page the platform does not know raises EIdException "Invalid codepage (%d)"
// (20127 is first retried as 1252, then 437).
class TIdMBCSEncoding : public TIdTextEncodingBase {
public:
  explicit TIdMBCSEncoding(uint32_t ACodePage);
  TIdMBCSEncoding(uint32_t ACodePage, uint32_t AMBToWCharFlags, uint32_t AWCharToMBFlags);
  int GetByteCount(const char16_t* AChars, int ACharCount) const override;
  int GetBytes(const char16_t* AChars, int ACharCount, uint8_t* ABytes, int AByteCount) const override;
  int GetCharCount(const uint8_t* ABytes, int AByteCount) const override;
  int GetChars(const uint8_t* ABytes, int AByteCount, char16_t* AChars, int ACharCount) const override;
  int GetMaxByteCount(int ACharCount) const override { return (ACharCount + 1) * FMaxCharSize; }
  int GetMaxCharCount(int AByteCount) const override { return AByteCount; }
  TIdBytes GetPreamble() const override;
  uint32_t CodePage() const { return FCodePage; }

protected:
  uint32_t FCodePage = 0;
  uint32_t FMBToWCharFlags = 0;
  uint32_t FWCharToMBFlags = 0;
};

class TIdUTF8Encoding : public TIdMBCSEncoding {
public:
  TIdUTF8Encoding();
  int GetMaxByteCount(int ACharCount) const override { return 3 * ACharCount + 3; }
  int GetMaxCharCount(int AByteCount) const override { return AByteCount + 1; }
};

class TIdUTF7Encoding : public TIdMBCSEncoding {
public:
  TIdUTF7Encoding();
  int GetMaxByteCount(int ACharCount) const override { return 3 * ACharCount + 2; }
  int GetMaxCharCount(int AByteCount) const override { return AByteCount; }
};

// The shared instances, one per process each, created on first use.
const IIdTextEncoding& EncodingASCII();
const IIdTextEncoding& Encoding8Bit();
const IIdTextEncoding& EncodingUTF8();
const IIdTextEncoding& EncodingUTF7();
const IIdTextEncoding& EncodingUTF16LE();
const IIdTextEncoding& EncodingUTF16BE();
const IIdTextEncoding& EncodingOSDefault();
// The library default, ASCII.
const IIdTextEncoding& EncodingDefault();

// 1200, 1201, 20127, 65000 and 65001 give the shared instances; any other code page a
// new TIdMBCSEncoding (which raises for a code page the platform does not know).
IIdTextEncoding EncodingForCodePage(uint32_t ACodePage);

enum TIdEncoding { encDefault, encASCII, enc8Bit, encUTF8, encUTF7, encUTF16LE, encUTF16BE, encOSDefault };
const IIdTextEncoding& EncodingOfKind(TIdEncoding AKind);

// AEncoding if given, else AFallback if given, else the shared encoding of AKind.
const IIdTextEncoding& ResolveEncoding(const IIdTextEncoding& AEncoding, const IIdTextEncoding& AFallback,
                                       TIdEncoding AKind = encDefault);

}  // namespace vyn
