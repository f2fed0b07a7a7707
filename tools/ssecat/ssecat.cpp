// ssecat: streams one URL as an event stream and writes every block to standard output
// byte for byte, the moment it arrives. Ctrl-C ends the stream (exit status 0); a second
// Ctrl-C ends the program at once.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "vynHTTP.h"
#include "vynIdStack.h"

using namespace vyn;

namespace {

const char* const Usage =
    "usage: ssecat [options] URL\n"
    "Streams URL as Server-Sent Events and writes every block to standard output as it arrives.\n"
    "  --read-timeout MS     fail when nothing arrives for MS milliseconds (default: wait forever)\n"
    "  --connect-timeout MS  fail when the connection is not made within MS milliseconds\n"
    "  --charset NAME        character set named in the Accept header (default UTF-8; empty: none)\n"
    "  --header 'N: V'       add a request header (repeatable)\n"
    "  --tls-version V       1.0, 1.1, 1.2 or 1.3 (default: any)\n"
    "  --verify              verify the server's certificate\n"
    "  --ca FILE             trusted root certificates (PEM)\n"
    "  --cert FILE           client certificate\n"
    "  --key FILE            client key\n"
    "  --password TEXT       password of the client key\n"
    "  --alpn NAME           offer this application protocol (repeatable)\n"
    "  --quiet               write nothing to standard output (for measurements)\n"
    "Exit status: 0 when the stream ended or was cancelled, 1 on failure, 2 on bad usage.\n";

std::atomic<bool> GCancel{false};

// Writes all of AData to standard output; false when the output is gone.
bool WriteAll(const uint8_t* AData, size_t ALength) {
  while (ALength > 0) {
    const ssize_t n = ::write(STDOUT_FILENO, AData, ALength);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    AData += n;
    ALength -= static_cast<size_t>(n);
  }
  return true;
}

[[noreturn]] void Fail(const std::string& AMessage, int AStatus) {
  std::fprintf(stderr, "ssecat: %s\n", AMessage.c_str());
  if (AStatus == 2) std::fputs(Usage, stderr);
  std::exit(AStatus);
}

int ParseInt(const std::string& AOption, const char* AText) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(AText, &end, 10);
  if (errno != 0 || end == AText || *end != '\0' || value < 0 || value > INT32_MAX)
    Fail(AOption + " needs a number of milliseconds, not '" + AText + "'", 2);
  return static_cast<int>(value);
}

TwsTLSVersions ParseTLSVersion(const std::string& AText) {
  if (AText == "1.0") return tls1_0;
  if (AText == "1.1") return tls1_1;
  if (AText == "1.2") return tls1_2;
  if (AText == "1.3") return tls1_3;
  Fail("--tls-version takes 1.0, 1.1, 1.2 or 1.3, not '" + AText + "'", 2);
}

// The connection's socket, for the signal thread to shut down; -1 when there is none.
TIdStackSocketHandle CurrentSocket(TvynIdHTTP& AClient) {
  auto* handler = dynamic_cast<TIdIOHandlerSocket*>(AClient.IOHandler());
  if (handler == nullptr || !handler->BindingAllocated()) return Id_INVALID_SOCKET;
  return handler->Binding()->Handle();
}

}  // namespace

int main(int argc, char** argv) {
  // Ctrl-C and SIGTERM are taken by one thread with sigwait, so that the stream can be
  // ended at once even while the request waits in a receive: the socket is shut down
  // (not closed, so the descriptor cannot be reused under the request), the receive
  // sees the close, and the request ends as a closed stream does.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  TvynHTTP1Client client;
  String url;
  String charset = u"UTF-8";
  bool quiet = false;
  std::vector<std::string> args(argv + 1, argv + argc);
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= args.size()) Fail(arg + " needs a value", 2);
      return args[++i].c_str();
    };
    if (arg == "-h" || arg == "--help") {
      std::fputs(Usage, stdout);
      return 0;
    } else if (arg == "--read-timeout") {
      client.SetReadTimeout(ParseInt(arg, value()));
    } else if (arg == "--connect-timeout") {
      client.SetConnectTimeout(ParseInt(arg, value()));
    } else if (arg == "--charset") {
      charset = FromUtf8(value());
    } else if (arg == "--header") {
      client.Request().CustomHeaders().Add(FromUtf8(value()));
    } else if (arg == "--tls-version") {
      client.TLSOptions()->SetVersion(ParseTLSVersion(value()));
    } else if (arg == "--verify") {
      client.TLSOptions()->SetVerifyCertificate(true);
    } else if (arg == "--ca") {
      client.TLSOptions()->SetRootCertFile(FromUtf8(value()));
    } else if (arg == "--cert") {
      client.TLSOptions()->SetCertFile(FromUtf8(value()));
    } else if (arg == "--key") {
      client.TLSOptions()->SetKeyFile(FromUtf8(value()));
    } else if (arg == "--password") {
      client.TLSOptions()->SetPassword(FromUtf8(value()));
    } else if (arg == "--alpn") {
      client.TLSOptions()->ALPNProtocols()->Add(FromUtf8(value()));
    } else if (arg == "--quiet") {
      quiet = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      Fail("unknown option " + arg, 2);
    } else if (url.empty()) {
      url = FromUtf8(arg);
    } else {
      Fail("only one URL can be streamed", 2);
    }
  }
  if (url.empty()) Fail("no URL given", 2);

  std::thread watcher([&client, &signals] {
    int signal = 0;
    if (sigwait(&signals, &signal) != 0) return;
    GCancel = true;
    const TIdStackSocketHandle socket = CurrentSocket(client);
    if (socket != Id_INVALID_SOCKET) GStack()->WSShutdown(socket, Id_SD_Both);
    sigwait(&signals, &signal);
    _exit(130);
  });
  watcher.detach();

  std::vector<uint8_t> bytes;
  bool outputGone = false;
  client.OnSSEMessage = [&](TObject*, const String& aMessage, bool& Cancel) {
    if (!quiet && !outputGone) {
      bytes.resize(aMessage.size());
      for (size_t i = 0; i < aMessage.size(); ++i) bytes[i] = static_cast<uint8_t>(aMessage[i]);
      outputGone = !WriteAll(bytes.data(), bytes.size());
    }
    Cancel = GCancel || outputGone;
  };
  try {
    client.GetSSE(url, charset);
  } catch (const Exception& e) {
    if (GCancel) return 0;
    Fail(ToUtf8(e.Message()), 1);
  } catch (const std::exception& e) {
    Fail(e.what(), 1);
  }
  return 0;
}
