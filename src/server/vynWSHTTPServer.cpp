#include "vynWSHTTPServer.h"

#include "vynIdSSLOpenSSL.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

#include "vynDateUtils.h"
#include "vynIdException.h"
#include "vynIdHTTPDates.h"
#include "vynIdResourceStrings.h"
#include "vynIdTextEncoding.h"
#include "vynWSHTTPProtocol.h"

namespace vyn {

namespace {

// The server whose connection the calling thread serves, if any: such a thread must
// never wait for a change of its own server's state, which may be waiting for it.
thread_local const TvynWSHTTPServer* GConnectionThreadOf = nullptr;

// Accepted connections speak TLS through OpenSSL unless another factory is set: TLS
// 1.2 and 1.3 with the listener's certificate and key; with trusted roots, clients are
// asked for a certificate.
std::unique_ptr<TIdSSLIOHandlerSocketBase> NewOpenSSLServerHandler(const TvynWSSSL_Options& AOptions) {
  auto handler = std::make_unique<TIdSSLIOHandlerSocketOpenSSL>();
  TIdSSLOptions* options = handler->SSLOptions();
  options->SetMode(sslmServer);
  options->SetSSLVersions({sslvTLSv1_2, sslvTLSv1_3});
  options->SetCertFile(AOptions.CertFile());
  options->SetKeyFile(AOptions.KeyFile());
  if (!AOptions.RootCertFile().empty()) {
    options->SetRootCertFile(AOptions.RootCertFile());
    options->SetVerifyMode({sslvrfPeer});
  }
  handler->OnGetPassword = [password = AOptions.Password()](String& APassword) { APassword = password; };
  return handler;
}

std::mutex GTLSFactoryLock;
TvynWSTLSIOHandlerFactory GTLSFactory = NewOpenSSLServerHandler;

// How long an error answer waits for the rest of a refused request before closing,
// so that the close does not reset the connection before the client read the answer.
constexpr int32_t kLingerMs = 1000;
constexpr size_t kLingerMaxBytes = 256 * 1024;
// The same for a connection refused as busy, on the listening thread.
constexpr int32_t kBusyLingerMs = 50;
// Bytes a client may send while it is being streamed to before it is dropped.
constexpr int kMaxUnreadWhileStreaming = 64 * 1024;

const char kLastChunk[] = "0\r\n\r\n";

void AppendAscii(std::string& ADest, StringView AText) {
  for (char16_t c : AText) {
    // A line break inside a value would start a header of the caller's choosing.
    if (c == u'\r' || c == u'\n') ADest.push_back(' ');
    else ADest.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  }
}

// The request line as it goes into the log: control and non-ASCII bytes escaped, so
// that a client cannot forge log lines, and long targets cut.
String LogSafe(StringView ALine) {
  constexpr size_t kMax = 512;
  String out;
  for (size_t i = 0; i < ALine.size() && i < kMax; ++i) {
    const char16_t c = ALine[i];
    if (c < 0x20 || c >= 0x7F || c == u'"' || c == u'\\') out += u"\\x" + IntToHex(c & 0xFF, 2);
    else out += c;
  }
  if (ALine.size() > kMax) out += u"...";
  return out;
}

String LocalTimeStamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  const int ms = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  std::tm tm{};
  localtime_r(&t, &tm);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
  return FromUtf8(text);
}

// Milliseconds left of ABudget since AStart; TimeoutInfinite for no budget.
int RemainingMs(uint64_t AStart, int32_t ABudget) {
  if (ABudget <= 0) return TimeoutInfinite;
  const uint64_t elapsed = TicksSince(AStart);
  return elapsed >= static_cast<uint64_t>(ABudget) ? 0 : ABudget - static_cast<int>(elapsed);
}

bool HasToken(StringView AList, StringView AToken) {
  size_t start = 0;
  while (start <= AList.size()) {
    size_t end = AList.find(u',', start);
    if (end == StringView::npos) end = AList.size();
    if (TextEqualsIgnoreCase(Trim(AList.substr(start, end - start)), AToken)) return true;
    start = end + 1;
  }
  return false;
}

bool StatusHasBody(int AStatus) { return AStatus >= 200 && AStatus != 204 && AStatus != 304; }

}  // namespace

// ---- TvynWSSSL_Options ------------------------------------------------------------------

void TvynWSSSL_Options::Assign(const TPersistent* ASource) {
  if (const auto* src = dynamic_cast<const TvynWSSSL_Options*>(ASource)) {
    FCertFile = src->FCertFile;
    FKeyFile = src->FKeyFile;
    FRootCertFile = src->FRootCertFile;
    FPassword = src->FPassword;
    FPort = src->FPort;
    return;
  }
  TPersistent::Assign(ASource);
}

// ---- TvynWSLogFile -----------------------------------------------------------------------

TvynWSLogFile::~TvynWSLogFile() { Close(); }

bool TvynWSLogFile::Enabled() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FEnabled;
}

void TvynWSLogFile::SetEnabled(bool AValue) {
  std::lock_guard<std::mutex> lock(FLock);
  FEnabled = AValue;
}

String TvynWSLogFile::FileName() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FFileName;
}

void TvynWSLogFile::SetFileName(const String& AValue) {
  std::lock_guard<std::mutex> lock(FLock);
  FFileName = AValue;
}

void TvynWSLogFile::Assign(const TPersistent* ASource) {
  if (const auto* src = dynamic_cast<const TvynWSLogFile*>(ASource)) {
    if (src == this) return;
    const bool enabled = src->Enabled();
    const String name = src->FileName();
    std::lock_guard<std::mutex> lock(FLock);
    FEnabled = enabled;
    FFileName = name;
    return;
  }
  TPersistent::Assign(ASource);
}

void TvynWSLogFile::OpenLocked() {
  if (FFd >= 0 && FOpenName == FFileName) return;
  if (FFd >= 0) {
    ::close(FFd);
    FFd = -1;
  }
  const int fd = ::open(ToUtf8(FFileName).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    const String reason = FromUtf8(std::strerror(errno));
    EFOpenError::Toss(Format(u"Cannot open file \"%s\". %s", {FFileName, reason}));
  }
  FFd = fd;
  FOpenName = FFileName;
}

void TvynWSLogFile::Open() {
  std::lock_guard<std::mutex> lock(FLock);
  if (FEnabled && !FFileName.empty()) OpenLocked();
}

void TvynWSLogFile::WriteLine(StringView ALine) {
  std::lock_guard<std::mutex> lock(FLock);
  if (!FEnabled || FFileName.empty()) return;
  try {
    OpenLocked();
  } catch (const Exception&) {
    return;  // the answer went out already; only its log line is lost
  }
  std::string text = ToUtf8(ALine);
  text += '\n';
  // One write per line: with O_APPEND, lines of several processes do not interleave.
  (void)!::write(FFd, text.data(), text.size());
}

void TvynWSLogFile::Close() {
  std::lock_guard<std::mutex> lock(FLock);
  if (FFd >= 0) ::close(FFd);
  FFd = -1;
  FOpenName.clear();
}

// ---- TIdSocketHandles ----------------------------------------------------------------------

TIdSocketHandle* TIdSocketHandles::Add() { return Add(String(), 0, Id_IPv4); }

TIdSocketHandle* TIdSocketHandles::Add(const String& AIP, uint16_t APort, TIdIPVersion AIPVersion) {
  CheckUnlocked();
  auto handle = std::make_unique<TIdSocketHandle>();
  handle->SetBinding(AIP, APort, AIPVersion);
  FItems.push_back(std::move(handle));
  return FItems.back().get();
}

void TIdSocketHandles::Clear() {
  CheckUnlocked();
  FItems.clear();
}

TIdSocketHandle* TIdSocketHandles::Items(int AIndex) const {
  if (AIndex < 0 || AIndex >= Count()) EListError::Toss(Format(u"List index out of bounds (%d)", {AIndex}));
  return FItems[static_cast<size_t>(AIndex)].get();
}

void TIdSocketHandles::CheckUnlocked() const {
  if (FLocked) EIdHTTPServerError::Toss(RSHTTPServerBindingsLocked);
}

// ---- Request and response records ------------------------------------------------------------

TIdHTTPRequestInfo::TIdHTTPRequestInfo() : FRawHeaders(QuoteHTTP) {}

TIdHTTPResponseInfo::TIdHTTPResponseInfo(TIdContext* AContext) : FContext(AContext), FCustomHeaders(QuoteHTTP) {}

std::string TIdHTTPResponseInfo::HeaderBlock(bool AStreamed, size_t AContentLength) const {
  std::string h;
  h.reserve(256);
  h += "HTTP/1.1 ";
  h += std::to_string(FResponseNo);
  h += ' ';
  AppendAscii(h, FResponseText.empty() ? HTTPStatusText(FResponseNo) : FResponseText);
  h += "\r\nDate: ";
  AppendAscii(h, LocalToHttpDateText(Now()));
  h += "\r\n";
  const bool body = StatusHasBody(FResponseNo);
  if (body && (AStreamed || AContentLength > 0 || !FContentType.empty())) {
    h += "Content-Type: ";
    AppendAscii(h, FContentType.empty() ? String(u"text/plain; charset=utf-8") : FContentType);
    h += "\r\n";
  }
  if (body && !AStreamed) {
    h += "Content-Length: ";
    h += std::to_string(AContentLength);
    h += "\r\n";
  } else if (body && !Unframed()) {
    h += "Transfer-Encoding: chunked\r\n";
  }
  if (!FKeepAlive) h += "Connection: close\r\n";
  else if (FMinorVersion == 0) h += "Connection: keep-alive\r\n";
  for (int i = 0; i < FCustomHeaders.Count(); ++i) {
    const String line = FCustomHeaders[i];
    if (line.empty()) continue;
    AppendAscii(h, line);
    h += "\r\n";
  }
  h += "\r\n";
  return h;
}

bool TIdHTTPResponseInfo::SendRaw(const uint8_t* AData, size_t ASize) {
  if (FBroken || !FContext) return false;
  try {
    if (AData != FScratch.data()) {
      // Queued chunks go first, in the same write.
      FScratch.resize(FQueued + ASize);
      std::memcpy(FScratch.data() + FQueued, AData, ASize);
      ASize += FQueued;
    }
    FQueued = 0;
    FContext->FIOHandler->Write(FScratch, static_cast<int>(ASize), 0);
    FBytesSent += ASize;
    return true;
  } catch (const std::exception&) {
    // The client went away or the server shut the connection down.
    FBroken = true;
    return false;
  }
}

bool TIdHTTPResponseInfo::WriteHeader() {
  if (FHeaderWritten) return !FBroken;
  if (!FContext) return false;
  if (FResponseNo < 200 || FResponseNo > 599) {
    FResponseNo = 500;
    FResponseText.clear();
  }
  // A close-delimited body ends the connection; so does a stop.
  FKeepAlive = FKeepAlive && !FCloseConnection && !Unframed() && !FContext->Stopping();
  const std::string header = HeaderBlock(true, 0);
  FHeaderWritten = true;
  return SendRaw(reinterpret_cast<const uint8_t*>(header.data()), header.size());
}

bool TIdHTTPResponseInfo::QueueChunk(const uint8_t* AData, size_t ASize) {
  if (!FHeaderWritten && !WriteHeader()) return false;
  if (FBroken || FHeadOnly || !StatusHasBody(FResponseNo)) return false;
  if (FContext->Stopping()) {
    FBroken = true;
    return false;
  }
  if (ASize == 0) return true;
  const std::string sizeLine = Unframed() ? std::string() : ChunkSizeLine(ASize);
  const size_t trailer = Unframed() ? 0 : 2;
  FScratch.resize(FQueued + sizeLine.size() + ASize + trailer);
  uint8_t* at = FScratch.data() + FQueued;
  std::memcpy(at, sizeLine.data(), sizeLine.size());
  std::memcpy(at + sizeLine.size(), AData, ASize);
  if (trailer) {
    at[sizeLine.size() + ASize] = '\r';
    at[sizeLine.size() + ASize + 1] = '\n';
  }
  FQueued = FScratch.size();
  return true;
}

bool TIdHTTPResponseInfo::Flush() {
  if (FQueued == 0) return !FBroken;
  return SendRaw(FScratch.data(), FQueued);
}

bool TIdHTTPResponseInfo::WriteChunk(const uint8_t* AData, size_t ASize) {
  if (!QueueChunk(AData, ASize)) return false;
  return Flush();
}

bool TIdHTTPResponseInfo::WriteChunk(StringView AText) {
  const std::string bytes = ToUtf8(AText);
  return WriteChunk(std::string_view(bytes));
}

// ---- TIdContext ------------------------------------------------------------------------------

TIdContext::TIdContext(TvynWSHTTPServer* AServer, std::unique_ptr<TIdIOHandlerStack> AIOHandler)
    : FServer(AServer), FIOHandler(std::move(AIOHandler)) {
  if (TIdSocketHandle* b = FIOHandler->Binding()) {
    FPeerIP = b->PeerIP();
    FPeerPort = b->PeerPort();
  }
}

bool TIdContext::Stopping() const { return FServer->FStopping; }

bool TIdContext::Wait(int32_t AMSec) {
  const uint64_t start = TickCount64();
  for (;;) {
    if (Stopping()) return false;
    const uint64_t elapsed = TicksSince(start);
    if (AMSec <= 0 || elapsed >= static_cast<uint64_t>(AMSec)) return true;
    try {
      // A readable socket while nothing is asked of the client: its close, or bytes
      // it sent early (kept for the next request, within a bound).
      if (!FIOHandler->Readable(AMSec - static_cast<int>(elapsed))) return !Stopping();
      if (FIOHandler->FillInputBuffer(false, 0, false) == 0) return false;
      if (FIOHandler->InputBuffer()->Size() > kMaxUnreadWhileStreaming) return false;
    } catch (const std::exception&) {
      return false;
    }
  }
}

void TIdContext::Shutdown() {
  std::lock_guard<std::mutex> lock(FLock);
  if (FClosed) return;
  if (TIdSocketHandle* b = FIOHandler->Binding()) b->Shutdown(Id_SD_Both);
}

void TIdContext::CloseConnection() {
  std::lock_guard<std::mutex> lock(FLock);
  if (FClosed) return;
  FClosed = true;
  try {
    FIOHandler->Close();
  } catch (const std::exception&) {
    // The descriptor is released by the socket handle whatever the close reported.
  }
}

// ---- TvynWSHTTPServer --------------------------------------------------------------------------

TvynWSHTTPServer::TvynWSHTTPServer(TComponent* AOwner) : TIdComponent(AOwner) {}

TvynWSHTTPServer::~TvynWSHTTPServer() {
  try {
    SetActive(false);
  } catch (...) {
  }
  // A thread that stopped the server from its own handler may still be finishing.
  ReapConnections(true, 2000);
  FLogFile.Close();
}

void TvynWSHTTPServer::SetDefaultTLSIOHandlerFactory(TvynWSTLSIOHandlerFactory AFactory) {
  std::lock_guard<std::mutex> lock(GTLSFactoryLock);
  GTLSFactory = std::move(AFactory);
}

TvynWSTLSIOHandlerFactory TvynWSHTTPServer::DefaultTLSIOHandlerFactory() {
  std::lock_guard<std::mutex> lock(GTLSFactoryLock);
  return GTLSFactory;
}

TvynWSTLSIOHandlerFactory TvynWSHTTPServer::TLSFactory() const {
  return OnCreateTLSIOHandler ? OnCreateTLSIOHandler : DefaultTLSIOHandlerFactory();
}

int TvynWSHTTPServer::ConnectionCount() const {
  std::lock_guard<std::mutex> lock(FConnectionsLock);
  return FOpenConnections;
}

void TvynWSHTTPServer::SetActive(bool AValue) {
  if (GConnectionThreadOf == this) {
    // A handler changing its own server's state: a change under way on another thread
    // may be joining this very thread, so do not wait for it.
    std::unique_lock<std::mutex> lock(FActiveLock, std::try_to_lock);
    if (!lock.owns_lock() || AValue == FActive) return;
    if (AValue) Activate();
    else Deactivate();
    return;
  }
  std::lock_guard<std::mutex> lock(FActiveLock);
  if (AValue) {
    if (!FActive) Activate();
  } else if (FActive) {
    Deactivate();
  } else {
    ReapConnections(true, 2000);
  }
}

void TvynWSHTTPServer::Activate() {
  // Connections left by a stop from within a handler end before new ones begin.
  ReapConnections(true, 2000);
  TvynWSTLSIOHandlerFactory factory;
  if (FSSL) {
    factory = TLSFactory();
    if (!factory) EIdHTTPServerError::Toss(RSHTTPServerNoTLSHandler);
    // Making one handler now shows a factory that cannot deliver before any client does.
    if (!factory(FSSLOptions)) EIdHTTPServerError::Toss(RSHTTPServerNoTLSHandler);
  }
  FLogFile.Open();
  if (FBindings.Count() == 0) FBindings.Add();

  auto closeAll = [this] {
    for (int i = 0; i < FBindings.Count(); ++i) {
      try {
        FBindings.Items(i)->CloseSocket();
      } catch (...) {
      }
    }
  };
  try {
    for (int i = 0; i < FBindings.Count(); ++i) {
      TIdSocketHandle* b = FBindings.Items(i);
      if (b->Port() == 0) b->SetPort(static_cast<uint16_t>(DefaultPort()));
      b->AllocateSocket(Id_SOCK_STREAM, Id_IPPROTO_IP);
      // A restart must not wait for the old connections' TIME_WAIT on the same port.
      b->SetReuseSocket(rsTrue);
      b->Bind();
      b->Listen(FListenQueue);
    }
  } catch (...) {
    closeAll();
    throw;
  }

  FActiveTLSFactory = factory;
  FActiveSSLOptions.Assign(&FSSLOptions);
  FStopping = false;
  FBindings.FLocked = true;
  try {
    for (int i = 0; i < FBindings.Count(); ++i) {
      TIdSocketHandle* b = FBindings.Items(i);
      FListeners.push_back(TListener{b, std::thread()});
      FListeners.back().Thread = std::thread([this, b] { ListenLoop(b); });
    }
  } catch (...) {
    // No thread for a binding: stop those that started.
    FStopping = true;
    for (auto& l : FListeners) {
      l.Binding->Shutdown(Id_SD_Both);
      if (l.Thread.joinable()) l.Thread.join();
    }
    FListeners.clear();
    closeAll();
    FBindings.FLocked = false;
    throw;
  }
  FActive = true;
}

void TvynWSHTTPServer::Deactivate() {
  FStopping = true;
  // A shut-down listening socket wakes its thread's accept with an error.
  for (auto& l : FListeners) l.Binding->Shutdown(Id_SD_Both);
  for (auto& l : FListeners)
    if (l.Thread.joinable()) l.Thread.join();
  for (auto& l : FListeners) {
    try {
      l.Binding->CloseSocket();
    } catch (...) {
    }
  }
  FListeners.clear();
  FBindings.FLocked = false;
  ReapConnections(true, 0);
  FActiveTLSFactory = nullptr;
  FActive = false;
  FLogFile.Close();
}

std::unique_ptr<TIdIOHandlerStack> TvynWSHTTPServer::NewConnectionHandler(
    const TvynWSTLSIOHandlerFactory& AFactory) {
  std::unique_ptr<TIdIOHandlerStack> handler;
  if (AFactory) {
    std::unique_ptr<TIdSSLIOHandlerSocketBase> tls = AFactory(FActiveSSLOptions);
    if (!tls) EIdHTTPServerError::Toss(RSHTTPServerNoTLSHandler);
    // Before the socket exists these only store: the handshake runs in AfterAccept,
    // on the connection's thread.
    tls->SetIsPeer(true);
    tls->SetPassThrough(false);
    handler = std::move(tls);
  } else {
    handler = std::make_unique<TIdIOHandlerStack>();
  }
  handler->Open();
  handler->SetMaxLineAction(maException);
  return handler;
}

void TvynWSHTTPServer::ListenLoop(TIdSocketHandle* ABinding) {
  while (!FStopping) {
    std::unique_ptr<TIdIOHandlerStack> handler;
    try {
      handler = NewConnectionHandler(FActiveTLSFactory);
    } catch (const std::exception&) {
      // The TLS factory failed: take the connection off the queue and close it, so
      // that the client is not left waiting.
      TIdSocketHandle refused;
      try {
        refused.Accept(ABinding->Handle());
        refused.CloseSocket();
      } catch (const std::exception&) {
        if (!FStopping) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      continue;
    }
    try {
      handler->Binding()->Accept(ABinding->Handle());
      // A streamed event goes out at once: with Nagle's rule a small write waits for
      // the client's delayed acknowledgement of the one before, up to 40 ms.
      handler->Binding()->SetUseNagle(false);
    } catch (const std::exception&) {
      if (FStopping) break;
      // Out of descriptors or a connection reset while queued: try again shortly.
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      continue;
    }
    if (FStopping) break;
    ReapConnections(false, 0);
    std::unique_lock<std::mutex> lock(FConnectionsLock);
    if (FOpenConnections >= FMaxConnections) {
      lock.unlock();
      RejectBusy(*handler);
      continue;
    }
    auto context = std::unique_ptr<TIdContext>(new TIdContext(this, std::move(handler)));
    TIdContext* c = context.get();
    c->FTLS = static_cast<bool>(FActiveTLSFactory);
    try {
      c->FThread = std::thread([this, c] { ServeConnection(c); });
    } catch (const std::exception&) {
      lock.unlock();
      RejectBusy(*c->FIOHandler);
      continue;
    }
    FConnections.push_back(std::move(context));
    ++FOpenConnections;
  }
}

void TvynWSHTTPServer::RejectBusy(TIdIOHandlerStack& AHandler) {
  if (TIdSocketHandle* b = AHandler.Binding()) LogRequest(b->PeerIP(), b->PeerPort(), u"-", 503);
  // Over TLS an answer would need a handshake on the listening thread: just close.
  if (!FActiveTLSFactory) {
    try {
      const std::string body = "Service Unavailable: too many connections.\n";
      std::string text = "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain; charset=utf-8\r\n"
                         "Content-Length: " + std::to_string(body.size()) +
                         "\r\nConnection: close\r\nRetry-After: 1\r\n\r\n" + body;
      AHandler.Write(TIdBytes(text.begin(), text.end()));
      LingeringClose(AHandler, kBusyLingerMs);
    } catch (const std::exception&) {
    }
  }
  try {
    AHandler.Close();
  } catch (const std::exception&) {
  }
}

void TvynWSHTTPServer::ServeConnection(TIdContext* AContext) {
  GConnectionThreadOf = this;
  TIdIOHandlerStack& io = *AContext->FIOHandler;
  try {
    // A TLS client that connects and never says hello must not hold the thread.
    const bool greeted = !AContext->FTLS || io.Binding()->Readable(FReadTimeout > 0 ? FReadTimeout : -1);
    if (greeted && !FStopping) {
      io.AfterAccept();
      while (!FStopping) {
        TIdHTTPRequestInfo request;
        request.FRemoteIP = AContext->FPeerIP;
        request.FRemotePort = AContext->FPeerPort;
        int status = 0;
        bool keepAlive = false;
        const TReadResult r = ReadRequest(*AContext, request, status, keepAlive);
        if (r == rrClosed) break;
        if (r == rrError) {
          AnswerError(*AContext, status, request.FRawHTTPCommand);
          break;
        }
        TIdHTTPResponseInfo response(AContext);
        response.FHeadOnly = request.FCommand == u"HEAD";
        response.FMinorVersion = request.FMinorVersion;
        response.FKeepAlive = keepAlive;
        Dispatch(*AContext, request, response);
        FinishResponse(response);
        LogRequest(AContext->FPeerIP, AContext->FPeerPort, request.FRawHTTPCommand, response.FResponseNo);
        if (!response.FKeepAlive || response.FBroken) break;
      }
    }
  } catch (...) {
    // A failed handshake, a reset, or an error while answering: the connection ends.
  }
  AContext->CloseConnection();
  {
    std::lock_guard<std::mutex> lock(FConnectionsLock);
    --FOpenConnections;
  }
  {
    std::lock_guard<std::mutex> lock(AContext->FDoneLock);
    AContext->FDone = true;
  }
  AContext->FDoneSignal.notify_all();
  GConnectionThreadOf = nullptr;
}

TvynWSHTTPServer::TReadResult TvynWSHTTPServer::ReadRequest(TIdContext& AContext, TIdHTTPRequestInfo& ARequest,
                                                            int& VStatus, bool& VKeepAlive) {
  TIdIOHandlerStack& io = *AContext.FIOHandler;
  // The whole request head must arrive within ReadTimeout; the time starts when the
  // connection is ready for a request, so it also bounds an idle kept-alive wait.
  const uint64_t start = TickCount64();
  auto readLine = [&](String& ALine) {
    ALine = io.ReadLn(u"\n", RemainingMs(start, FReadTimeout), FMaxLineLength, Encoding8Bit());
    return !io.ReadLnTimedout();
  };
  String line;
  try {
    // Blank lines before a request line are tolerated, a few of them.
    for (int blanks = 0;; ++blanks) {
      if (!readLine(line)) {
        if (blanks == 0 && io.InputBufferIsEmpty()) return rrClosed;  // idle: just close
        VStatus = 408;
        return rrError;
      }
      if (!line.empty()) break;
      if (blanks >= 4) {
        VStatus = 400;
        return rrError;
      }
    }
  } catch (const EIdReadLnMaxLineLengthExceeded&) {
    VStatus = 414;
    return rrError;
  } catch (const std::exception&) {
    return rrClosed;  // the client closed or reset before a whole request line
  }
  ARequest.FRawHTTPCommand = line;

  TvynWSRequestLine parsed;
  const TvynWSRequestLineResult lineResult = ParseRequestLine(line, parsed);
  if (lineResult != rlOK) {
    VStatus = lineResult == rlVersionNotSupported ? 505 : 400;
    return rrError;
  }
  ARequest.FCommand = parsed.Command;
  ARequest.FURI = parsed.Target;
  ARequest.FVersion = parsed.Version;
  ARequest.FMinorVersion = parsed.Minor;

  try {
    for (int count = 0;; ++count) {
      if (!readLine(line)) {
        VStatus = 408;
        return rrError;
      }
      if (line.empty()) break;
      String name, value;
      if (count >= FMaxHeaderLines) {
        VStatus = 431;
        return rrError;
      }
      if (!ParseHeaderLine(line, name, value)) {
        VStatus = 400;
        return rrError;
      }
      ARequest.FRawHeaders.Add(name + u": " + value);
    }
  } catch (const EIdReadLnMaxLineLengthExceeded&) {
    VStatus = 431;
    return rrError;
  } catch (const std::exception&) {
    return rrClosed;
  }

  if (parsed.Command != u"GET" && parsed.Command != u"HEAD") {
    VStatus = 501;
    return rrError;
  }
  String path, query;
  if (!SplitRequestTarget(parsed.Target, path, query)) {
    VStatus = 400;
    return rrError;
  }
  const TIdHeaderList& headers = ARequest.FRawHeaders;
  TStringList hosts;
  headers.Extract(u"Host", hosts);
  if (hosts.Count() > 1 || (parsed.Minor >= 1 && hosts.Count() == 0)) {
    VStatus = 400;
    return rrError;
  }
  // A GET or HEAD carries no body here: one announced cannot be skipped safely.
  if (headers.IndexOfName(u"Transfer-Encoding") >= 0) {
    VStatus = 400;
    return rrError;
  }
  TStringList lengths;
  headers.Extract(u"Content-Length", lengths);
  for (int i = 0; i < lengths.Count(); ++i) {
    if (lengths[i] != u"0") {
      VStatus = 400;
      return rrError;
    }
  }
  ARequest.FDocument = DecodeURLComponent(path, false);
  ARequest.FQueryParams = query;
  DecodeQueryParams(query, ARequest.FParams);

  const String connection = headers.GetValue(u"Connection");
  VKeepAlive = parsed.Minor >= 1 ? !HasToken(connection, u"close") : HasToken(connection, u"keep-alive");
  return rrRequest;
}

void TvynWSHTTPServer::Dispatch(TIdContext& AContext, TIdHTTPRequestInfo& ARequest, TIdHTTPResponseInfo& AResponse) {
  String failure;
  try {
    if (OnCommandGet) OnCommandGet(&AContext, &ARequest, &AResponse);
    else AResponse.SetResponseNo(404);
    return;
  } catch (const Exception& E) {
    failure = E.Message();
  } catch (const std::exception& E) {
    failure = FromUtf8(E.what());
  } catch (...) {
    failure = RSHTTPServerHandlerFailed;
  }
  if (AResponse.FHeaderWritten) {
    // Too late for a status: an unfinished chunked body tells the client instead.
    AResponse.FBroken = true;
    AResponse.FKeepAlive = false;
    return;
  }
  AResponse.FResponseNo = 500;
  AResponse.FResponseText.clear();
  AResponse.FContentType.clear();
  AResponse.FCustomHeaders.Clear();
  AResponse.FContentText = failure.empty() ? String(RSHTTPServerHandlerFailed) : failure;
}

void TvynWSHTTPServer::FinishResponse(TIdHTTPResponseInfo& AResponse) {
  if (AResponse.FHeaderWritten) {
    if (AResponse.FBroken) {
      AResponse.FKeepAlive = false;
      return;
    }
    if (!AResponse.FHeadOnly && StatusHasBody(AResponse.FResponseNo) && !AResponse.Unframed())
      AResponse.SendRaw(reinterpret_cast<const uint8_t*>(kLastChunk), sizeof kLastChunk - 1);
    else
      AResponse.Flush();
    if (AResponse.FBroken) AResponse.FKeepAlive = false;
    return;
  }
  if (AResponse.FResponseNo < 200 || AResponse.FResponseNo > 599) {
    const int32_t invalid = AResponse.FResponseNo;
    AResponse.FResponseNo = 500;
    AResponse.FResponseText.clear();
    AResponse.FContentType.clear();
    AResponse.FContentText = Format(RSHTTPServerInvalidStatus, {invalid});
  }
  AResponse.FKeepAlive = AResponse.FKeepAlive && !AResponse.FCloseConnection && !FStopping;
  const std::string body = StatusHasBody(AResponse.FResponseNo) ? ToUtf8(AResponse.FContentText) : std::string();
  std::string text = AResponse.HeaderBlock(false, body.size());
  if (!AResponse.FHeadOnly) text += body;
  AResponse.FHeaderWritten = true;
  AResponse.SendRaw(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  if (AResponse.FBroken) AResponse.FKeepAlive = false;
}

void TvynWSHTTPServer::AnswerError(TIdContext& AContext, int AStatus, const String& ARequestLine) {
  TIdIOHandlerStack& io = *AContext.FIOHandler;
  LogRequest(AContext.FPeerIP, AContext.FPeerPort, ARequestLine.empty() ? String(u"-") : ARequestLine, AStatus);
  TIdHTTPResponseInfo response(&AContext);
  response.FResponseNo = AStatus;
  response.FContentText = HTTPStatusText(AStatus) + u"\n";
  response.FKeepAlive = false;
  if (AStatus == 501) response.FCustomHeaders.AddValue(u"Allow", u"GET, HEAD");
  const std::string body = ToUtf8(response.FContentText);
  const std::string text = response.HeaderBlock(false, body.size()) + body;
  if (response.SendRaw(reinterpret_cast<const uint8_t*>(text.data()), text.size())) LingeringClose(io, kLingerMs);
}

void TvynWSHTTPServer::LingeringClose(TIdIOHandlerStack& AHandler, int32_t AMSec) {
  // Closing with unread request bytes would reset the connection, and a reset may
  // discard the answer before the client read it: end the sending side, then take
  // what the client still sends until it closes, for a short while.
  TIdSocketHandle* b = AHandler.Binding();
  if (!b) return;
  b->Shutdown(Id_SD_Send);
  const uint64_t start = TickCount64();
  size_t drained = 0;
  try {
    while (drained < kLingerMaxBytes && !FStopping) {
      const int left = RemainingMs(start, AMSec);
      if (left <= 0) break;
      AHandler.InputBuffer()->Clear();
      if (AHandler.FillInputBuffer(false, left, false) <= 0) break;
      drained += static_cast<size_t>(AHandler.InputBuffer()->Size());
    }
  } catch (const std::exception&) {
  }
  AHandler.InputBuffer()->Clear();
}

void TvynWSHTTPServer::LogRequest(const String& APeerIP, uint16_t APeerPort, const String& ARequestLine,
                                  int AStatus) {
  if (!FLogFile.Enabled()) return;
  const String peer = APeerIP.find(u':') != String::npos ? u"[" + APeerIP + u"]" : APeerIP;
  FLogFile.WriteLine(LocalTimeStamp() + u" " + peer + u":" + IntToStr(APeerPort) + u" \"" + LogSafe(ARequestLine) +
                     u"\" " + IntToStr(AStatus));
}

void TvynWSHTTPServer::ReapConnections(bool AAll, int32_t AGraceMs) {
  std::vector<std::unique_ptr<TIdContext>> taken;
  {
    std::lock_guard<std::mutex> lock(FConnectionsLock);
    const auto self = std::this_thread::get_id();
    for (auto it = FConnections.begin(); it != FConnections.end();) {
      TIdContext* c = it->get();
      bool done;
      {
        std::lock_guard<std::mutex> doneLock(c->FDoneLock);
        done = c->FDone;
      }
      if (c->FThread.get_id() != self && (done || AAll)) {
        taken.push_back(std::move(*it));
        it = FConnections.erase(it);
      } else {
        ++it;
      }
    }
  }
  if (AAll) {
    if (AGraceMs > 0) {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(AGraceMs);
      for (auto& c : taken) {
        std::unique_lock<std::mutex> doneLock(c->FDoneLock);
        c->FDoneSignal.wait_until(doneLock, deadline, [&] { return c->FDone; });
      }
    }
    for (auto& c : taken) c->Shutdown();
  }
  for (auto& c : taken)
    if (c->FThread.joinable()) c->FThread.join();
}

}  // namespace vyn
