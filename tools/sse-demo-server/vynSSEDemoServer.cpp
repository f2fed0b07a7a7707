// sse-demo-server: the demonstration event-stream endpoint /sse.php on 127.0.0.1,
// over http and (when a TLS handler is built in) https with a self-signed certificate
// made on first start, plus two endpoints for benchmarks.
#include <signal.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "vynDemoCertificate.h"
#include "vynWSHTTPServer.h"

using namespace vyn;

namespace {

const char kUsage[] =
    "Usage: sse-demo-server [options]\n"
    "Serves a Server-Sent Events demonstration on 127.0.0.1.\n"
    "\n"
    "  --http-port N     http port (default 8090; 0 picks a free one)\n"
    "  --https-port N    https port (default 8443; 0 picks a free one)\n"
    "  --no-https        serve http only\n"
    "  --interval-ms N   time between two events of /sse.php (default 1000)\n"
    "  --count N         end each /sse.php stream after N events (default: never)\n"
    "  --cert-dir DIR    where the self-signed certificate is kept\n"
    "                    (default $XDG_CACHE_HOME/vyn or ~/.cache/vyn)\n"
    "  --help            this text\n"
    "\n"
    "Endpoints:\n"
    "  /sse.php                    one event per interval: id, event and data lines\n"
    "  /stream?bytes=N&chunk=M     N bytes in chunks of M, as fast as possible\n"
    "  /until-close?bytes=N        N bytes without length or chunked coding, ended by the close\n"
    "  /events?count=N&batch=K&gap_us=G\n"
    "                              N small events, each with a monotonic time stamp in microseconds,\n"
    "                              K to a write (default 1), G microseconds between writes (default 0)\n"
    "  /                           a short description\n";

struct TOptions {
  int HttpPort = 8090;
  int HttpsPort = 8443;
  bool Https = true;
  int IntervalMs = 1000;
  long long Count = 0;  // 0: endless
  std::string CertDir;
};

[[noreturn]] void Fail(const std::string& AText) {
  std::fprintf(stderr, "sse-demo-server: %s\n", AText.c_str());
  std::exit(2);
}

long long NumberOption(int& AIndex, int AArgc, char** AArgv, long long AMin, long long AMax) {
  const std::string name = AArgv[AIndex];
  if (AIndex + 1 >= AArgc) Fail(name + " needs a value");
  const char* text = AArgv[++AIndex];
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < AMin || value > AMax)
    Fail(name + ": '" + text + "' is not a number from " + std::to_string(AMin) + " to " + std::to_string(AMax));
  return value;
}

TOptions ParseOptions(int AArgc, char** AArgv) {
  TOptions o;
  for (int i = 1; i < AArgc; ++i) {
    const std::string a = AArgv[i];
    if (a == "--http-port") o.HttpPort = static_cast<int>(NumberOption(i, AArgc, AArgv, 0, 65535));
    else if (a == "--https-port") o.HttpsPort = static_cast<int>(NumberOption(i, AArgc, AArgv, 0, 65535));
    else if (a == "--no-https") o.Https = false;
    else if (a == "--interval-ms") o.IntervalMs = static_cast<int>(NumberOption(i, AArgc, AArgv, 0, 86400000));
    else if (a == "--count") o.Count = NumberOption(i, AArgc, AArgv, 1, INT64_MAX);
    else if (a == "--cert-dir") {
      if (i + 1 >= AArgc) Fail("--cert-dir needs a value");
      o.CertDir = AArgv[++i];
    } else if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else {
      Fail("unknown option " + a + " (--help lists them)");
    }
  }
  if (o.CertDir.empty()) o.CertDir = demo::DefaultCertificateFolder();
  return o;
}

int64_t MonotonicMicroseconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

std::string LocalTimeText() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  localtime_r(&ts.tv_sec, &local);
  char text[64];
  const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  char zone[8];
  std::strftime(zone, sizeof zone, "%z", &local);
  std::snprintf(text + n, sizeof text - n, ".%03ld%s", ts.tv_nsec / 1000000, zone);
  return text;
}

// A query parameter the benchmark endpoints cannot use: answered 400.
class EBadParameter : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

int64_t Param(const TIdHTTPRequestInfo& ARequest, const String& AName, int64_t ADefault, int64_t AMin, int64_t AMax) {
  const TStrings& params = ARequest.Params();
  const int i = params.IndexOfName(AName);
  if (i < 0) return ADefault;
  int64_t value = 0;
  if (!TryStrToInt64(params.ValueFromIndex(i), value) || value < AMin || value > AMax)
    throw EBadParameter(ToUtf8(u"The parameter " + AName + u" must be a number from " + IntToStr(AMin) + u" to " +
                               IntToStr(AMax) + u".\r\n"));
  return value;
}

void StartEventStream(TIdHTTPResponseInfo& AResponse) {
  AResponse.SetContentType(u"text/event-stream");
  AResponse.CustomHeaders().AddValue(u"Cache-Control", u"no-store");
}

void ServeSSE(const TOptions& AOptions, TIdContext& AContext, const TIdHTTPRequestInfo& ARequest,
              TIdHTTPResponseInfo& AResponse) {
  StartEventStream(AResponse);
  // A client that reconnects with the last id it saw continues after it.
  long long counter = StrToInt64Def(ARequest.RawHeaders().GetValue(u"Last-Event-ID"), 0);
  if (counter < 0) counter = 0;
  for (long long sent = 0; AOptions.Count == 0 || sent < AOptions.Count; ++sent) {
    if (sent > 0 && !AContext.Wait(AOptions.IntervalMs)) return;
    ++counter;
    const std::string event = "id: " + std::to_string(counter) + "\nevent: tick\ndata: {\"time\":\"" +
                              LocalTimeText() + "\",\"counter\":" + std::to_string(counter) + "}\n\n";
    if (!AResponse.WriteChunk(event)) return;
  }
}

// Chunks are queued up to this many bytes and then sent in one write, so that the
// sender stays ahead of any client even with tiny chunks.
constexpr size_t kSendBlock = 256 * 1024;

// ATotal bytes of event-stream lines in pieces of AChunk: chunks of that size, or with
// a close-delimited answer the same bytes unframed.
void SendBytes(TIdHTTPResponseInfo& AResponse, int64_t ATotal, int64_t AChunk) {
  // One buffer of event-stream lines, made once: every piece is a slice of it.
  const std::string line = "data: 0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXY\n\n";
  std::string block;
  block.reserve(static_cast<size_t>(AChunk) + line.size());
  while (block.size() < static_cast<size_t>(AChunk)) block += line;
  block.resize(static_cast<size_t>(AChunk));
  size_t queued = 0;
  for (int64_t left = ATotal; left > 0;) {
    const size_t n = static_cast<size_t>(std::min<int64_t>(left, AChunk));
    if (!AResponse.QueueChunk(std::string_view(block.data(), n))) return;
    left -= static_cast<int64_t>(n);
    queued += n;
    if (queued >= kSendBlock) {
      if (!AResponse.Flush()) return;
      queued = 0;
    }
  }
  AResponse.Flush();
}

void ServeBytes(const TIdHTTPRequestInfo& ARequest, TIdHTTPResponseInfo& AResponse) {
  const int64_t total = Param(ARequest, u"bytes", 1 << 20, 0, INT64_MAX);
  const int64_t chunk = Param(ARequest, u"chunk", 16384, 1, 1 << 20);
  StartEventStream(AResponse);
  SendBytes(AResponse, total, chunk);
}

void ServeUntilClose(const TIdHTTPRequestInfo& ARequest, TIdHTTPResponseInfo& AResponse) {
  const int64_t total = Param(ARequest, u"bytes", 1 << 20, 0, INT64_MAX);
  StartEventStream(AResponse);
  AResponse.SetCloseDelimited(true);
  SendBytes(AResponse, total, kSendBlock);
}

// Sleeps AMicroseconds; false when the client went away or the server stops meanwhile.
bool Pause(TIdContext& AContext, int64_t AMicroseconds) {
  if (AMicroseconds >= 1000) return AContext.Wait(static_cast<int32_t>(AMicroseconds / 1000));
  const timespec pause{0, static_cast<long>(AMicroseconds * 1000)};
  nanosleep(&pause, nullptr);
  return !AContext.Stopping();
}

void ServeTimedEvents(TIdContext& AContext, const TIdHTTPRequestInfo& ARequest, TIdHTTPResponseInfo& AResponse) {
  const int64_t count = Param(ARequest, u"count", 1000, 0, INT64_MAX);
  const int64_t batch = Param(ARequest, u"batch", 1, 1, 1 << 20);
  const int64_t gap = Param(ARequest, u"gap_us", 0, 0, 10000000);
  StartEventStream(AResponse);
  char event[96];
  for (int64_t i = 1; i <= count; ++i) {
    // The stamp is taken as the event is made, so a batch's first events carry the wait
    // for the rest of their batch.
    const int n = std::snprintf(event, sizeof event, "id: %lld\ndata: t_us=%lld\n\n", static_cast<long long>(i),
                                static_cast<long long>(MonotonicMicroseconds()));
    if (!AResponse.QueueChunk(std::string_view(event, static_cast<size_t>(n)))) return;
    if (i % batch != 0 && i != count) continue;
    if (!AResponse.Flush()) return;
    if (gap > 0 && i != count && !Pause(AContext, gap)) return;
  }
}

String IndexPage(const TOptions& AOptions) {
  String text =
      u"sse-demo-server\r\n\r\n"
      u"/sse.php is a Server-Sent Events endpoint (text/event-stream): every " +
      IntToStr(AOptions.IntervalMs) +
      u" ms it sends one event with an id line, an event line and a data line holding the server time and a "
      u"counter.\r\n"
      u"Open it with an event-stream client, or: curl -N <this address>/sse.php\r\n\r\n"
      u"For benchmarks: /stream?bytes=N&chunk=M sends N bytes in chunks of M; /until-close?bytes=N sends N bytes "
      u"without length or chunked coding and closes; /events?count=N&batch=K&gap_us=G sends N small events, each "
      u"with a monotonic time stamp in microseconds, K to a write, G microseconds apart.\r\n";
  return text;
}

void Handle(const TOptions& AOptions, TIdContext* AContext, TIdHTTPRequestInfo* ARequest,
            TIdHTTPResponseInfo* AResponse) {
  const String& doc = ARequest->Document();
  try {
    if (doc == u"/stream") ServeBytes(*ARequest, *AResponse);
    else if (doc == u"/until-close") ServeUntilClose(*ARequest, *AResponse);
    else if (doc == u"/events") ServeTimedEvents(*AContext, *ARequest, *AResponse);
    if (doc == u"/stream" || doc == u"/until-close" || doc == u"/events") return;
  } catch (const EBadParameter& E) {
    AResponse->SetResponseNo(400);
    AResponse->SetContentText(FromUtf8(E.what()));
    return;
  }
  if (doc == u"/sse.php") {
    ServeSSE(AOptions, *AContext, *ARequest, *AResponse);
  } else if (doc == u"/" || doc == u"/index.html") {
    AResponse->SetContentText(IndexPage(AOptions));
  } else {
    AResponse->SetResponseNo(404);
    AResponse->SetContentText(u"Not found. The event stream is at /sse.php.\r\n");
  }
}

std::unique_ptr<TvynWSHTTPServer> NewServer(const TOptions& AOptions, int APort) {
  auto server = std::make_unique<TvynWSHTTPServer>();
  server->SetPort(APort);
  server->SSLOptions()->SetPort(APort);
  server->Bindings().Add(u"127.0.0.1", static_cast<uint16_t>(APort));
  server->OnCommandGet = [&AOptions](TIdContext* AContext, TIdHTTPRequestInfo* ARequest,
                                     TIdHTTPResponseInfo* AResponse) { Handle(AOptions, AContext, ARequest, AResponse); };
  return server;
}

}  // namespace

int main(int argc, char** argv) {
  const TOptions options = ParseOptions(argc, argv);

  std::unique_ptr<TvynWSHTTPServer> https;
  if (options.Https) {
    // The certificate is made on the first start even while this build cannot serve
    // https yet, so that the first https start does not wait for it.
    try {
      bool made = false;
      const demo::TDemoCertificate cert = demo::EnsureDemoCertificate(options.CertDir, made);
      if (made) std::fprintf(stderr, "sse-demo-server: made a self-signed certificate in %s\n", options.CertDir.c_str());
      if (TvynWSHTTPServer::DefaultTLSIOHandlerFactory()) {
        https = NewServer(options, options.HttpsPort);
        https->SetSSL(true);
        https->SSLOptions()->SetCertFile(FromUtf8(cert.CertFile));
        https->SSLOptions()->SetKeyFile(FromUtf8(cert.KeyFile));
      } else {
        std::fprintf(stderr,
                     "sse-demo-server: https is not available: this build has no TLS I/O handler; serving http "
                     "only\n");
      }
    } catch (const std::exception& E) {
      std::fprintf(stderr, "sse-demo-server: https is not available: %s; serving http only\n", E.what());
    }
  }

  // Ctrl-C and SIGTERM are taken by the main thread alone: blocked before any server
  // thread starts, so that every thread inherits the mask, and then waited for.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::unique_ptr<TvynWSHTTPServer> http = NewServer(options, options.HttpPort);
  try {
    http->SetActive(true);
    std::printf("sse-demo-server: http://127.0.0.1:%u/sse.php\n", unsigned{http->Bindings().Items(0)->Port()});
    if (https) {
      try {
        https->SetActive(true);
        std::printf("sse-demo-server: https://127.0.0.1:%u/sse.php\n", unsigned{https->Bindings().Items(0)->Port()});
      } catch (const std::exception& E) {
        std::fprintf(stderr, "sse-demo-server: https is not available: %s; serving http only\n", E.what());
        https.reset();
      }
    }
  } catch (const std::exception& E) {
    std::fprintf(stderr, "sse-demo-server: cannot listen on 127.0.0.1:%d: %s\n", options.HttpPort, E.what());
    return 1;
  }
  std::printf("sse-demo-server: Ctrl-C stops\n");
  std::fflush(stdout);

  int received = 0;
  while (sigwait(&stopSignals, &received) != 0) {
  }
  std::fprintf(stderr, "sse-demo-server: stopping (%s)\n", received == SIGINT ? "SIGINT" : "SIGTERM");
  if (https) https->SetActive(false);
  http->SetActive(false);
  return 0;
}
