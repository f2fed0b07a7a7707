#include "vynIdZLibCompressorBase.h"

#include <algorithm>

#include "vynIdResourceStrings.h"

namespace vyn {

namespace {

uint8_t ReadHeaderByte(TStream& AStream) {
  uint8_t b = 0;
  AStream.ReadBuffer(&b, 1);
  return b;
}

void Skip(TStream& AStream, int64_t ACount) { AStream.Seek(ACount, soCurrent); }

}  // namespace

void TIdZLibCompressorBase::DecompressDeflateStream(TStream& AInStream, TStream& AOutStream) {
  // The body is zlib-format data already: no header of another format to skip.
  InflateStream(AInStream, AOutStream);
}

void TIdZLibCompressorBase::DecompressGZipStream(TStream& AInStream, TStream& AOutStream) {
  Skip(AInStream, 3);  // ID1, ID2, CM
  const uint8_t flags = ReadHeaderByte(AInStream);
  Skip(AInStream, 6);  // MTIME, XFL, OS
  if (flags & 4) {     // FEXTRA
    const uint8_t lo = ReadHeaderByte(AInStream);
    const uint8_t hi = ReadHeaderByte(AInStream);
    Skip(AInStream, lo | (hi << 8));
  }
  for (const uint8_t zeroEnded : {uint8_t(8), uint8_t(16)}) {  // FNAME, FCOMMENT
    if (flags & zeroEnded)
      while (ReadHeaderByte(AInStream) != 0) {
      }
  }
  if (flags & 2) Skip(AInStream, 2);  // FHCRC
  // The deflate data now follows; two bytes before it become a zlib header.
  Skip(AInStream, -2);
  static const uint8_t zlibHeader[2] = {0x78, 0x9C};
  AInStream.WriteBuffer(zlibHeader, 2);
  Skip(AInStream, -2);
  // CRC-32 and length: not deflate data.
  const int64_t pos = AInStream.Position();
  AInStream.SetSize(std::max<int64_t>(AInStream.Size() - 8, pos));
  AInStream.SetPosition(pos);
  InflateStream(AInStream, AOutStream);
}

void TIdZLibCompressorBase::CompressHTTPDeflate(TStream& AInStream, TStream& AOutStream,
                                                TIdCompressionLevel ALevel) {
  DeflateStream(AInStream, AOutStream, ALevel);
}

void TIdZLibCompressorBase::CompressFTPDeflate(TStream& AInStream, TStream& AOutStream, TIdCompressionLevel ALevel,
                                               int32_t AWindowBits, int32_t AMemLevel, int32_t AStrategy) {
  CompressStream(AInStream, AOutStream, ALevel, AWindowBits, AMemLevel, AStrategy);
}

void TIdZLibCompressorBase::DecompressFTPDeflate(TStream& AInStream, TStream& AOutStream, int32_t AWindowBits) {
  DecompressStream(AInStream, AOutStream, AWindowBits > 0 ? AWindowBits + 32 : AWindowBits);
}

void TIdZLibCompressorBase::DecompressHTTPDeflate(TStream& AInStream, TStream& AOutStream) {
  const int64_t start = AInStream.Position();
  uint8_t header[6] = {0, 0, 0, 0, 0, 0};
  if (AInStream.Read(header, 2) < 2 || (header[0] * 256 + header[1]) % 31 != 0) EIdException::Toss(RSHTTPDeflateInvalidHeader);
  AInStream.Read(header + 2, 4);
  AInStream.SetPosition(start);
  InflateStream(AInStream, AOutStream);
  AInStream.SetPosition(start);
}

}  // namespace vyn
