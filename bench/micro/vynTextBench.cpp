// One character per byte and back: the decode of every event-stream block and the
// encode ssecat makes of it.
#include <benchmark/benchmark.h>

#include "vynIdGlobal.h"

namespace vyn {
namespace {

TIdBytes Block(int64_t ASize) {
  TIdBytes bytes(static_cast<size_t>(ASize));
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  return bytes;
}

void BM_TextFromBytes8Bit(benchmark::State& AState) {
  const TIdBytes bytes = Block(AState.range(0));
  for (auto _ : AState) {
    String text = TextFromBytes8Bit(bytes.data(), bytes.size());
    benchmark::DoNotOptimize(text.data());
  }
  AState.SetBytesProcessed(static_cast<int64_t>(AState.iterations()) * AState.range(0));
}
BENCHMARK(BM_TextFromBytes8Bit)->Arg(64)->Arg(16384)->Arg(32768);

void BM_BytesFromString8Bit(benchmark::State& AState) {
  const TIdBytes bytes = Block(AState.range(0));
  const String text = TextFromBytes8Bit(bytes.data(), bytes.size());
  for (auto _ : AState) {
    TIdBytes back = BytesFromString8Bit(text);
    benchmark::DoNotOptimize(back.data());
  }
  AState.SetBytesProcessed(static_cast<int64_t>(AState.iterations()) * AState.range(0));
}
BENCHMARK(BM_BytesFromString8Bit)->Arg(64)->Arg(16384)->Arg(32768);

}  // namespace
}  // namespace vyn
