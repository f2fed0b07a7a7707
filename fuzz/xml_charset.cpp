// The character set an XML body declares, read from the start of a stream: byte-order
// marks, the declaration's encoding attribute in any form.
//
// Properties: detection never fails and never reads past the stream; the result is a
// name, empty only for the two byte-order marks of UCS-4 in unusual octet order (which
// name no encoding); the stream's position stays where it was, or just after the byte-order
// mark when there is one (never inside the document).
#include "vynFuzz.h"
#include "vynIdHTTP.h"
#include "vynStreams.h"

using namespace vyn;
using namespace vyn::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  TMemoryStream stream;
  if (ASize > 0) stream.WriteBuffer(AData, static_cast<int64_t>(ASize));
  stream.SetPosition(0);
  const String charset = DetectXmlCharset(&stream);
  // The first four bytes as the detection sees them: missing ones count as 0.
  uint32_t start = 0;
  for (size_t i = 0; i < 4; ++i) start = start << 8 | (i < ASize ? AData[i] : 0);
  FUZZ_CHECK(!charset.empty() || start == 0x0000FFFE || start == 0xFEFF0000,
             "no charset for " + Show(TIdBytes(AData, AData + ASize)));
  const int64_t position = stream.Position();
  FUZZ_CHECK(position == 0 || position == 2 || position == 3 || position == 4,
             "position " + std::to_string(position) + " after " + Show(TIdBytes(AData, AData + ASize)));
  return 0;
}
