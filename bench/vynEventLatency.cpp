// vyn_event_latency: how long an event takes from the server's write to OnSSEMessage.
// Streams a URL whose events carry "t_us=" followed by the server's CLOCK_MONOTONIC
// time in microseconds (the demo server's /events), and compares each stamp with the
// same clock the moment the block holding it reaches OnSSEMessage. Both processes
// must run on one machine. Prints one line:
//   events N p50 X us p99 Y us max Z us
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "vynHTTP.h"

using namespace vyn;

namespace {

const char kUsage[] =
    "usage: vyn_event_latency [--skip N] URL\n"
    "Streams URL and reports the time from each event's t_us= stamp to its arrival in OnSSEMessage.\n"
    "  --skip N   leave the first N events out of the figures (default 10: the stream's start)\n";

int64_t MonotonicNanoseconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

double Percentile(const std::vector<double>& ASorted, double AFraction) {
  if (ASorted.empty()) return 0;
  const size_t i = std::min(ASorted.size() - 1, static_cast<size_t>(AFraction * static_cast<double>(ASorted.size())));
  return ASorted[i];
}

}  // namespace

int main(int argc, char** argv) {
  long skip = 10;
  std::string url;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--skip" && i + 1 < argc) {
      skip = std::strtol(argv[++i], nullptr, 10);
    } else if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (url.empty() && a[0] != '-') {
      url = a;
    } else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  if (url.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }

  TvynHTTP1Client client;
  std::vector<double> latencies;  // microseconds
  latencies.reserve(1 << 20);
  long seen = 0;
  std::string pending;  // an unfinished line, carried to the next block
  client.OnSSEMessage = [&](TObject*, const String& aMessage, bool&) {
    const int64_t now = MonotonicNanoseconds();
    for (char16_t c : aMessage) pending.push_back(static_cast<char>(c));
    size_t from = 0;
    for (size_t end; (end = pending.find('\n', from)) != std::string::npos; from = end + 1) {
      if (pending.compare(from, 5, "data:") != 0) continue;
      const size_t stamp = pending.find("t_us=", from);
      if (stamp == std::string::npos || stamp > end) continue;
      const long long sent = std::strtoll(pending.c_str() + stamp + 5, nullptr, 10);
      if (++seen > skip) latencies.push_back(static_cast<double>(now - sent * 1000) / 1000.0);
    }
    pending.erase(0, from);
  };
  try {
    client.GetSSE(FromUtf8(url), u"UTF-8");
  } catch (const Exception& e) {
    std::fprintf(stderr, "vyn_event_latency: %s\n", ToUtf8(e.Message()).c_str());
    return 1;
  }
  if (latencies.empty()) {
    std::fprintf(stderr, "vyn_event_latency: no time-stamped events came (%ld seen)\n", seen);
    return 1;
  }
  std::sort(latencies.begin(), latencies.end());
  std::printf("events %zu p50 %.1f us p99 %.1f us max %.1f us\n", latencies.size(), Percentile(latencies, 0.50),
              Percentile(latencies, 0.99), latencies.back());
  return 0;
}
