// A whole answer read by the HTTP engine over the in-memory test transport: status
// line, interim answers, header block and body, cut into the segments and receive sizes
// the input chooses.
//
// Two forms. Free: any bytes as the answer. Built: a chunked answer made from chunk
// data, extensions and trailers the input chooses, cut the same way.
//
// Properties: the engine ends with its answer or with one of the library's errors (any
// other exception or a crash is a finding); the content stream never receives more
// bytes than the peer sent, and never more than a Content-Length announced; a built
// chunked answer arrives exactly, each write within one chunk, and its trailers land in
// the response's headers.
#include "vynFuzzTransport.h"
#include "vynIdHTTP.h"

using namespace vyn;
using namespace vyn::fuzz;
using vyn::test::TTestIOHandler;

namespace {

// Records each write the engine makes into the content stream.
class TWrites : public TStream {
public:
  int64_t Write(const void* ABuffer, int64_t ACount) override {
    const auto* p = static_cast<const uint8_t*>(ABuffer);
    Blocks.emplace_back(p, p + ACount);
    Total += static_cast<size_t>(ACount);
    return ACount;
  }
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Seek(int64_t, TSeekOrigin) override { return 0; }
  std::vector<TIdBytes> Blocks;
  size_t Total = 0;
};

void Append(TIdBytes& AOut, std::string_view AText) { AOut.insert(AOut.end(), AText.begin(), AText.end()); }

std::string Hex(size_t AValue) {
  char text[24];
  std::snprintf(text, sizeof text, "%zX", AValue);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  TFuzzInput in(AData, ASize);
  const TPeerCuts cuts = ReadPeerCuts(in);
  const bool built = in.Bool();
  const bool head = in.Bool();

  TIdBytes answer;
  std::vector<TIdBytes> chunks;
  if (built) {
    Append(answer, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
    for (int n = in.Range(0, 6); n > 0; --n) {
      chunks.push_back(in.Bytes(static_cast<size_t>(in.Range(1, 300))));
      if (chunks.back().empty()) chunks.back().push_back('x');
      Append(answer, Hex(chunks.back().size()));
      if (in.Bool()) Append(answer, ";ext=\"v\"");
      Append(answer, "\r\n");
      answer.insert(answer.end(), chunks.back().begin(), chunks.back().end());
      Append(answer, "\r\n");
    }
    Append(answer, "0\r\n");
    if (in.Bool()) Append(answer, "X-Trailer: done\r\n");
    Append(answer, "\r\n");
  } else {
    answer = in.Rest();
  }

  TTestIOHandler io;
  StartPeer(io, cuts, answer);
  io.SetReadTimeout(1);  // a silent peer ends the read instead of holding the target
  TIdHTTP http;
  http.SetIOHandler(&io);
  TWrites body;
  bool ok = true;
  try {
    if (head)
      http.Head(u"http://fuzz.test/");
    else
      http.Get(u"http://fuzz.test/", &body);
  } catch (const Exception&) {
    ok = false;  // the library's own errors are the expected ends of bad answers
  }

  FUZZ_CHECK(body.Total <= answer.size(), "body " + std::to_string(body.Total) + " of " +
                                              std::to_string(answer.size()) + " bytes; " + Show(cuts));
  if (ok && !head && http.Response().HasContentLength() &&
      !TextEqualsIgnoreCase(http.Response().TransferEncoding(), u"chunked"))
    FUZZ_CHECK(body.Total <= static_cast<uint64_t>(std::max<int64_t>(http.Response().ContentLength(), 0)),
               "body " + std::to_string(body.Total) + " beyond Content-Length " +
                   std::to_string(http.Response().ContentLength()));
  if (built && !head && cuts.Closes) {
    FUZZ_CHECK(ok, "a well-formed chunked answer failed; " + Show(cuts));
    TIdBytes expected, got;
    for (const TIdBytes& c : chunks) expected.insert(expected.end(), c.begin(), c.end());
    for (const TIdBytes& b : body.Blocks) got.insert(got.end(), b.begin(), b.end());
    FUZZ_CHECK(got == expected, "body " + Show(got) + " instead of " + Show(expected) + "; " + Show(cuts));
    // Every write lies within one chunk: the chunk boundaries are boundaries of writes.
    size_t chunkEnd = 0, at = 0, chunk = 0;
    for (const TIdBytes& b : body.Blocks) {
      while (chunk < chunks.size() && at >= chunkEnd) chunkEnd += chunks[chunk++].size();
      FUZZ_CHECK(at + b.size() <= chunkEnd, "a write spans two chunks; " + Show(cuts));
      at += b.size();
    }
  }
  return 0;
}
