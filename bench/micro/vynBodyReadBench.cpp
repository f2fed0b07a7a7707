// The engine reading a streamed body from the in-memory transport into an event
// stream: chunked in chunks of several sizes, and until the peer closes. The answer
// arrives in receives of 32 KiB, as from a busy socket.
#include <benchmark/benchmark.h>

#include <string>

#include "vynIdGlobal.h"
#include "vynIdHTTP.h"
#include "vynTestIOHandler.h"

namespace vyn {
namespace {

constexpr size_t kBody = 1 << 20;
constexpr size_t kReceive = 32768;

std::string ChunkedAnswer(size_t AChunk) {
  std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nTransfer-Encoding: chunked\r\n\r\n";
  const std::string data(AChunk, 'd');
  char line[32];
  for (size_t done = 0; done < kBody; done += AChunk) {
    answer += std::string(line, static_cast<size_t>(std::snprintf(line, sizeof line, "%zx\r\n", AChunk)));
    answer += data;
    answer += "\r\n";
  }
  return answer + "0\r\n\r\n";
}

std::string UntilCloseAnswer() {
  return "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nConnection: close\r\n\r\n" + std::string(kBody, 'd');
}

void ReadAnswer(benchmark::State& AState, const std::string& AAnswer) {
  std::vector<TIdBytes> segments;
  for (size_t at = 0; at < AAnswer.size(); at += kReceive)
    segments.push_back(test::Bytes(std::string_view(AAnswer).substr(at, kReceive)));
  TIdEventStream sink;
  int64_t blocks = 0;
  sink.OnWrite = [&](TIdBytesView, int, int ACount, int& VResult) {
    ++blocks;
    VResult = ACount;
  };
  for (auto _ : AState) {
    AState.PauseTiming();
    test::TTestIOHandler io;
    for (const TIdBytes& s : segments) io.AddSegment(s);
    io.ClosePeer();
    TIdHTTP http;
    http.SetIOHandler(&io);
    AState.ResumeTiming();
    http.Get(u"http://bench.test/stream", &sink);
  }
  AState.SetBytesProcessed(static_cast<int64_t>(AState.iterations()) * static_cast<int64_t>(kBody));
  AState.counters["blocks"] = benchmark::Counter(static_cast<double>(blocks), benchmark::Counter::kIsRate);
}

void BM_ChunkedBody(benchmark::State& AState) { ReadAnswer(AState, ChunkedAnswer(static_cast<size_t>(AState.range(0)))); }
BENCHMARK(BM_ChunkedBody)->Arg(64)->Arg(1024)->Arg(16384)->Unit(benchmark::kMicrosecond);

void BM_UntilCloseBody(benchmark::State& AState) { ReadAnswer(AState, UntilCloseAnswer()); }
BENCHMARK(BM_UntilCloseBody)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace vyn
