// The input buffer as the receive path uses it: a receive appended at the tail, then
// taken from the head in the pieces a reader asks for.
#include <benchmark/benchmark.h>

#include "vynIdBuffer.h"
#include "vynStreams.h"

namespace vyn {
namespace {

constexpr int kReceive = 32768;

// A stream that takes every write and keeps nothing, like the event stream without a
// handler.
class TDiscardStream : public TStream {
public:
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void*, int64_t ACount) override {
    benchmark::ClobberMemory();
    return ACount;
  }
  int64_t Seek(int64_t, TSeekOrigin) override { return 0; }
};

void Receive(TIdBuffer& ABuffer) {
  uint8_t* tail = ABuffer.PrepareAppend(kReceive);
  benchmark::DoNotOptimize(tail);
  ABuffer.CommitAppend(kReceive);
}

// One receive, then extracts of range(0) bytes into a stream until the buffer is empty.
void BM_BufferExtractToStream(benchmark::State& AState) {
  const int piece = static_cast<int>(AState.range(0));
  TIdBuffer buffer;
  TDiscardStream sink;
  for (auto _ : AState) {
    Receive(buffer);
    while (buffer.Size() > 0) buffer.ExtractToStream(sink, std::min(piece, buffer.Size()));
  }
  AState.SetBytesProcessed(static_cast<int64_t>(AState.iterations()) * kReceive);
}
BENCHMARK(BM_BufferExtractToStream)->Arg(64)->Arg(1024)->Arg(16384)->Arg(32768);

// The same into a byte array that is reused.
void BM_BufferExtractToBytes(benchmark::State& AState) {
  const int piece = static_cast<int>(AState.range(0));
  TIdBuffer buffer;
  TIdBytes bytes;
  for (auto _ : AState) {
    Receive(buffer);
    while (buffer.Size() > 0) buffer.ExtractToBytes(bytes, std::min(piece, buffer.Size()), false);
  }
  AState.SetBytesProcessed(static_cast<int64_t>(AState.iterations()) * kReceive);
}
BENCHMARK(BM_BufferExtractToBytes)->Arg(64)->Arg(16384);

// A receive copied in from a separate array, as a transport that reads elsewhere does.
void BM_BufferWrite(benchmark::State& AState) {
  TIdBuffer buffer;
  const TIdBytes block(kReceive, 'x');
  for (auto _ : AState) {
    buffer.Write(block);
    buffer.Remove(buffer.Size());
  }
  AState.SetBytesProcessed(static_cast<int64_t>(AState.iterations()) * kReceive);
}
BENCHMARK(BM_BufferWrite);

}  // namespace
}  // namespace vyn
