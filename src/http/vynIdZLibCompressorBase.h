// The hook through which the engine decompresses "deflate" and "gzip" bodies. The
// library ships no concrete decompressor: an application that wants compressed
// bodies assigns an instance of its own subclass (over a zlib library, say) to the
// engine's Compressor. The engine calls only IsReady, DecompressDeflateStream and
// DecompressGZipStream.
#pragma once

#include "vynIdComponent.h"
#include "vynIdIOHandler.h"
#include "vynStreams.h"

namespace vyn {

// 0 (no compression) to 9 (best).
using TIdCompressionLevel = int32_t;

class TIdZLibCompressorBase : public TIdBaseComponent {
public:
  using TIdBaseComponent::TIdBaseComponent;

  bool IsReady() { return GetIsReady(); }

  virtual bool GetIsReady() { return true; }
  virtual void DeflateStream(TStream& AInStream, TStream& AOutStream, TIdCompressionLevel ALevel) = 0;
  // Inflates a zlib-format stream (two-byte header, then deflate data) from the
  // input's current position into the output.
  virtual void InflateStream(TStream& AInStream, TStream& AOutStream) = 0;
  virtual void CompressStream(TStream& AInStream, TStream& AOutStream, TIdCompressionLevel ALevel,
                              int32_t AWindowBits, int32_t AMemLevel, int32_t AStrategy) = 0;
  virtual void DecompressStream(TStream& AInStream, TStream& AOutStream, int32_t AWindowBits) = 0;
  // An HTTP "deflate" body: zlib-format data, inflated from the current position.
  virtual void DecompressDeflateStream(TStream& AInStream, TStream& AOutStream);
  virtual void CompressFTPToIO(TStream& AInStream, TIdIOHandler& AIOHandler, TIdCompressionLevel ALevel,
                               int32_t AWindowBits, int32_t AMemLevel, int32_t AStrategy) = 0;
  virtual void DecompressFTPFromIO(TIdIOHandler& AIOHandler, TStream& AOutputStream, int32_t AWindowBits) = 0;
  // An HTTP "gzip" body. The input is rewritten in place: its gzip header becomes a
  // zlib header and its 8-byte trailer is cut off, then InflateStream runs.
  virtual void DecompressGZipStream(TStream& AInStream, TStream& AOutStream);

  void CompressHTTPDeflate(TStream& AInStream, TStream& AOutStream, TIdCompressionLevel ALevel);
  void CompressFTPDeflate(TStream& AInStream, TStream& AOutStream, TIdCompressionLevel ALevel,
                          int32_t AWindowBits, int32_t AMemLevel, int32_t AStrategy);
  // A positive window size is raised by 32 (accept a zlib or a gzip header).
  void DecompressFTPDeflate(TStream& AInStream, TStream& AOutStream, int32_t AWindowBits);
  // EIdException "Error - invalid header" unless the input starts with a zlib header.
  void DecompressHTTPDeflate(TStream& AInStream, TStream& AOutStream);
};

}  // namespace vyn
