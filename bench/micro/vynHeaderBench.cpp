// The header block of a streamed answer: the lines into the header list, then the
// response record's parse of them.
#include <benchmark/benchmark.h>

#include "vynIdHTTPHeaderInfo.h"

namespace vyn {
namespace {

const String kHeaderLines[] = {
    u"Date: Sun, 06 Nov 1994 08:49:37 GMT",
    u"Server: sse-demo-server",
    u"Content-Type: text/event-stream",
    u"Transfer-Encoding: chunked",
    u"Cache-Control: no-store",
    u"Connection: keep-alive",
    u"Set-Cookie: session=abc123; Path=/; HttpOnly",
    u"X-Request-Id: 6f1c2d3e-4b5a-6978-8a9b-0c1d2e3f4a5b",
};

void BM_ParseResponseHeaders(benchmark::State& AState) {
  for (auto _ : AState) {
    TIdResponseHeaderInfo response;
    for (const String& line : kHeaderLines) response.RawHeaders().Add(line);
    response.ParseRawHeaders();
    benchmark::DoNotOptimize(response.ContentType().data());
  }
  AState.SetItemsProcessed(static_cast<int64_t>(AState.iterations()));
}
BENCHMARK(BM_ParseResponseHeaders);

void BM_HeaderListGetValue(benchmark::State& AState) {
  TIdResponseHeaderInfo response;
  for (const String& line : kHeaderLines) response.RawHeaders().Add(line);
  for (auto _ : AState) {
    String value = response.RawHeaders().GetValue(u"Transfer-Encoding");
    benchmark::DoNotOptimize(value.data());
  }
}
BENCHMARK(BM_HeaderListGetValue);

}  // namespace
}  // namespace vyn
