// The small HTTP/1.1 listener: accepts connections on its bindings, reads GET and HEAD
// requests and hands each to OnCommandGet with a request and a response record. The
// handler answers with a status and a text, or streams a chunked body over time.
//
// Threads: one listening thread per binding and one thread per connection, at most
// MaxConnections at once (a connection beyond that is answered 503 and closed).
// OnCommandGet runs on the connection's thread, so handlers of different connections
// run concurrently. Deactivating closes the listening sockets, wakes and closes every
// open connection (also one waiting for a request, in a TLS handshake or in a
// streaming handler) and joins the threads. A handler may deactivate its own server:
// the other connections end at once; its own answer is still sent, then that
// connection closes and its thread is joined by the next activation or the destructor.
// The server must not be destroyed from within its own handler.
//
// TLS: with SSL on, every accepted connection gets a TLS I/O handler from the TLS
// handler factory (OnCreateTLSIOHandler, else the process-wide one a TLS unit
// registers, by default OpenSSL). Activation fails when there is none.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

#include "vynIdComponent.h"
#include "vynIdHeaderList.h"
#include "vynIdIOHandlerStack.h"
#include "vynIdSSL.h"

namespace vyn {

class TvynWSHTTPServer;

// The listener's TLS settings: its own certificate, key and trusted roots, the key's
// password, and the port it listens on with SSL on.
class TvynWSSSL_Options : public TPersistent {
public:
  const String& CertFile() const { return FCertFile; }
  void SetCertFile(const String& AValue) { FCertFile = AValue; }
  const String& KeyFile() const { return FKeyFile; }
  void SetKeyFile(const String& AValue) { FKeyFile = AValue; }
  // Certificates of the authorities whose client certificates are trusted; empty: none.
  const String& RootCertFile() const { return FRootCertFile; }
  void SetRootCertFile(const String& AValue) { FRootCertFile = AValue; }
  // The password of an encrypted key file; empty when the key is not encrypted.
  const String& Password() const { return FPassword; }
  void SetPassword(const String& AValue) { FPassword = AValue; }
  // The default port of the bindings while SSL is on (443).
  int32_t Port() const { return FPort; }
  void SetPort(int32_t AValue) { FPort = AValue; }

  // Copies all five settings from another TvynWSSSL_Options.
  void Assign(const TPersistent* ASource) override;

private:
  String FCertFile;
  String FKeyFile;
  String FRootCertFile;
  String FPassword;
  int32_t FPort = 443;
};

// The listener's request log: one line per answered request (local time, peer
// address and port, the request line in quotes, the status sent). Lines are written
// only while Enabled is on and FileName is set; the file is opened for appending on
// the first line and again after FileName changes. Safe to use from any thread.
class TvynWSLogFile : public TPersistent {
public:
  TvynWSLogFile() = default;
  ~TvynWSLogFile() override;
  TvynWSLogFile(const TvynWSLogFile&) = delete;
  TvynWSLogFile& operator=(const TvynWSLogFile&) = delete;

  bool Enabled() const;
  void SetEnabled(bool AValue);
  String FileName() const;
  void SetFileName(const String& AValue);
  // Copies Enabled and FileName from another TvynWSLogFile.
  void Assign(const TPersistent* ASource) override;

  // Opens the file now when the log is on; raises EFOpenError naming the file when it
  // cannot be opened. Activation calls it so that a wrong path shows at once.
  void Open();
  // Appends ALine and a line end when the log is on. A failing write loses that line
  // only: the request it describes has been answered already.
  void WriteLine(StringView ALine);
  void Close();

private:
  void OpenLocked();
  mutable std::mutex FLock;
  bool FEnabled = false;
  String FFileName;
  int FFd = -1;
  String FOpenName;  // the name FFd was opened with
};

// The listening sockets of a server. Entries are socket handles: IP (empty: every
// address of the version), Port (0: the server's default port) and IPVersion; after
// activation Port() is the port actually bound. The list cannot change while the
// server is active (EIdException).
class TIdSocketHandles : public TObject {
public:
  // A new entry: every IPv4 address, the server's default port.
  TIdSocketHandle* Add();
  TIdSocketHandle* Add(const String& AIP, uint16_t APort, TIdIPVersion AIPVersion = Id_IPv4);
  void Clear();
  int Count() const { return static_cast<int>(FItems.size()); }
  TIdSocketHandle* Items(int AIndex) const;  // 0-based; out of range: EListError

private:
  friend class TvynWSHTTPServer;
  void CheckUnlocked() const;
  std::vector<std::unique_ptr<TIdSocketHandle>> FItems;
  bool FLocked = false;  // set while the server is active
};

// One received request. Filled by the server before OnCommandGet; read-only for handlers.
class TIdHTTPRequestInfo : public TObject {
public:
  TIdHTTPRequestInfo();

  // "GET" or "HEAD".
  const String& Command() const { return FCommand; }
  // The request line as received, without its line end.
  const String& RawHTTPCommand() const { return FRawHTTPCommand; }
  // The request target as sent ("/sse.php?a=1").
  const String& URI() const { return FURI; }
  // The path without query, percent-decoded as UTF-8 ("/sse.php").
  const String& Document() const { return FDocument; }
  // The query text as sent, without "?" (not decoded).
  const String& QueryParams() const { return FQueryParams; }
  // The decoded query parameters, one "name=value" line each, in the order sent.
  const TStrings& Params() const { return FParams; }
  // "HTTP/1.1" or "HTTP/1.0".
  const String& Version() const { return FVersion; }
  const TIdHeaderList& RawHeaders() const { return FRawHeaders; }
  String Host() const { return FRawHeaders.GetValue(u"Host"); }
  const String& RemoteIP() const { return FRemoteIP; }
  uint16_t RemotePort() const { return FRemotePort; }

private:
  friend class TvynWSHTTPServer;
  String FCommand;
  String FRawHTTPCommand;
  String FURI;
  String FDocument;
  String FQueryParams;
  TStringList FParams;
  String FVersion;
  int FMinorVersion = 1;
  TIdHeaderList FRawHeaders;
  String FRemoteIP;
  uint16_t FRemotePort = 0;
};

class TIdContext;

// The answer to one request. A handler either sets ResponseNo and ContentText (sent
// with a Content-Length once the handler returns), or streams: WriteHeader sends the
// status line and headers at once, every WriteChunk then sends one chunk (HTTP/1.1
// chunked coding; to an HTTP/1.0 client the bytes themselves, ended by the close),
// and the last chunk follows when the handler returns. Streaming calls belong to the
// handler's thread.
class TIdHTTPResponseInfo : public TObject {
public:
  explicit TIdHTTPResponseInfo(TIdContext* AContext = nullptr);

  // 200 unless the handler sets another. A handler that sets nothing answers 200
  // with an empty body: it saw the request and had nothing to say, as in the usual
  // server frameworks; a missing resource is for the handler to report as 404.
  int32_t ResponseNo() const { return FResponseNo; }
  void SetResponseNo(int32_t AValue) { FResponseNo = AValue; }
  // The reason phrase; empty gives the usual one of ResponseNo.
  const String& ResponseText() const { return FResponseText; }
  void SetResponseText(const String& AValue) { FResponseText = AValue; }
  // The body, sent as UTF-8.
  const String& ContentText() const { return FContentText; }
  void SetContentText(const String& AValue) { FContentText = AValue; }
  // Empty gives "text/plain; charset=utf-8" when there is a body.
  const String& ContentType() const { return FContentType; }
  void SetContentType(const String& AValue) { FContentType = AValue; }
  // Further header lines ("Name: value"), sent as given (ASCII).
  TIdHeaderList& CustomHeaders() { return FCustomHeaders; }
  // Close the connection after this answer instead of keeping it alive.
  bool CloseConnection() const { return FCloseConnection; }
  void SetCloseConnection(bool AValue) { FCloseConnection = AValue; }
  // A streamed answer without chunked coding even to an HTTP/1.1 client: the bytes
  // themselves, ended by closing the connection (as for HTTP/1.0). Set before the
  // header goes out.
  bool CloseDelimited() const { return FCloseDelimited; }
  void SetCloseDelimited(bool AValue) { FCloseDelimited = AValue; }

  // ---- Streaming ---------------------------------------------------------------------
  // Sends the status line and headers now (once; later calls only report). Whether
  // the connection still takes data. ContentText is not sent once this ran.
  bool WriteHeader();
  bool HeaderHasBeenWritten() const { return FHeaderWritten; }
  // Sends one chunk (WriteHeader first when it has not run) in one write. False when
  // nothing can be sent any more: the client has gone, the server is stopping, or the
  // request was a HEAD. An empty chunk sends nothing and gives the same answer.
  bool WriteChunk(const uint8_t* AData, size_t ASize);
  bool WriteChunk(const TIdBytes& AData) { return WriteChunk(AData.data(), AData.size()); }
  bool WriteChunk(std::string_view ABytes) {
    return WriteChunk(reinterpret_cast<const uint8_t*>(ABytes.data()), ABytes.size());
  }
  // The text as UTF-8.
  bool WriteChunk(StringView AText);
  // Frames one chunk into the send buffer without sending it: the next WriteChunk or
  // Flush sends every queued chunk in one write, so that a sender of many small chunks
  // does not pay a system call for each. The same answers as WriteChunk.
  bool QueueChunk(const uint8_t* AData, size_t ASize);
  bool QueueChunk(std::string_view ABytes) {
    return QueueChunk(reinterpret_cast<const uint8_t*>(ABytes.data()), ABytes.size());
  }
  // Sends the queued chunks; whether the connection still takes data.
  bool Flush();
  // Whether a write failed (the client went away or the server stopped).
  bool Broken() const { return FBroken; }

private:
  friend class TvynWSHTTPServer;
  // The header block for this answer; AStreamed: no Content-Length, chunked or close.
  std::string HeaderBlock(bool AStreamed, size_t AContentLength) const;
  bool SendRaw(const uint8_t* AData, size_t ASize);
  // Whether the body goes out as the bytes themselves rather than in chunks.
  bool Unframed() const { return FMinorVersion == 0 || FCloseDelimited; }

  TIdContext* FContext;  // not owned
  int32_t FResponseNo = 200;
  String FResponseText;
  String FContentText;
  String FContentType;
  TIdHeaderList FCustomHeaders;
  bool FCloseConnection = false;
  bool FCloseDelimited = false;
  bool FHeaderWritten = false;
  bool FBroken = false;
  // Set by the server for the request being answered.
  bool FHeadOnly = false;
  bool FKeepAlive = false;
  int FMinorVersion = 1;
  uint64_t FBytesSent = 0;
  TIdBytes FScratch;  // the frames of the queued chunks, reused so that a chunk does not allocate
  size_t FQueued = 0;  // bytes of FScratch queued for sending
};

// One accepted connection: its I/O handler (plain or TLS), the peer, and the
// server. Lives from the accept until the server joins the connection's thread.
class TIdContext : public TObject {
public:
  TvynWSHTTPServer* Server() const { return FServer; }
  // The connection's handler, owned by the context. Handlers write through the
  // response record; reading or writing here directly bypasses the HTTP framing.
  TIdIOHandlerStack* Connection() const { return FIOHandler.get(); }
  TIdSocketHandle* Binding() const { return FIOHandler ? FIOHandler->Binding() : nullptr; }
  const String& PeerIP() const { return FPeerIP; }
  uint16_t PeerPort() const { return FPeerPort; }
  // Whether the server is deactivating.
  bool Stopping() const;
  // Waits AMSec milliseconds; false as soon as the client closes the connection or
  // the server stops. A streaming handler paces itself with this so that neither a
  // gone client nor a deactivation has to wait for its next write.
  bool Wait(int32_t AMSec);
  // Free for the application's use; the server does not touch it.
  void* Data = nullptr;

private:
  friend class TvynWSHTTPServer;
  friend class TIdHTTPResponseInfo;
  TIdContext(TvynWSHTTPServer* AServer, std::unique_ptr<TIdIOHandlerStack> AIOHandler);
  // Wakes the connection's thread from any blocking read, write or handshake.
  void Shutdown();
  // Closes the socket; afterwards Shutdown does nothing.
  void CloseConnection();

  TvynWSHTTPServer* FServer;
  std::unique_ptr<TIdIOHandlerStack> FIOHandler;
  String FPeerIP;
  uint16_t FPeerPort = 0;
  bool FTLS = false;
  std::mutex FLock;  // orders Shutdown against CloseConnection
  bool FClosed = false;
  std::thread FThread;
  std::mutex FDoneLock;
  std::condition_variable FDoneSignal;
  bool FDone = false;  // the thread has finished its work
};

using TIdHTTPCommandEvent =
    std::function<void(TIdContext* AContext, TIdHTTPRequestInfo* ARequestInfo, TIdHTTPResponseInfo* AResponseInfo)>;
// Makes one TLS handler for the server role with the given settings, not connected.
// The server then sets IsPeer, turns PassThrough off, opens it, accepts into its
// binding and runs AfterAccept on the connection's thread, which must do the TLS
// handshake as the accepting side (as TIdSSLIOHandlerSocketOpenSSL does).
using TvynWSTLSIOHandlerFactory =
    std::function<std::unique_ptr<TIdSSLIOHandlerSocketBase>(const TvynWSSSL_Options& AOptions)>;

class TvynWSHTTPServer : public TIdComponent {
public:
  explicit TvynWSHTTPServer(TComponent* AOwner = nullptr);
  // Deactivates and joins every thread.
  ~TvynWSHTTPServer() override;

  // Activation binds and listens on every binding (an empty list gets one entry for
  // every IPv4 address on the default port) and starts serving; a failure leaves the
  // server inactive with no socket open and is raised. Deactivation as described at
  // the top; called again while a deactivation runs, it returns at once.
  bool Active() const { return FActive; }
  void SetActive(bool AValue);

  // The default port of the bindings while SSL is off (80); SSLOptions.Port while on.
  int32_t Port() const { return FPort; }
  void SetPort(int32_t AValue) { FPort = AValue; }
  int32_t DefaultPort() const { return FSSL ? FSSLOptions.Port() : FPort; }
  bool SSL() const { return FSSL; }
  void SetSSL(bool AValue) { FSSL = AValue; }
  TvynWSSSL_Options* SSLOptions() { return &FSSLOptions; }
  // Copies the settings (Assign); the server keeps its own record.
  void SetSSLOptions(const TvynWSSSL_Options* AValue) { FSSLOptions.Assign(AValue); }
  TIdSocketHandles& Bindings() { return FBindings; }
  TvynWSLogFile* LogFile() { return &FLogFile; }
  void SetLogFile(const TvynWSLogFile* AValue) { FLogFile.Assign(AValue); }

  // Open connections at most (64); one more is answered 503 and closed.
  int32_t MaxConnections() const { return FMaxConnections; }
  void SetMaxConnections(int32_t AValue) { FMaxConnections = AValue; }
  // Milliseconds a request's line and headers may take to arrive, and an idle
  // kept-alive connection may wait for its next request (10000). A client too slow
  // for it gets 408 (or, idle, a close).
  int32_t ReadTimeout() const { return FReadTimeout; }
  void SetReadTimeout(int32_t AValue) { FReadTimeout = AValue; }
  // The longest request or header line in bytes (8192), and the most header lines (100).
  int32_t MaxLineLength() const { return FMaxLineLength; }
  void SetMaxLineLength(int32_t AValue) { FMaxLineLength = AValue; }
  int32_t MaxHeaderLines() const { return FMaxHeaderLines; }
  void SetMaxHeaderLines(int32_t AValue) { FMaxHeaderLines = AValue; }
  // The listen queue length of each binding (64).
  int32_t ListenQueue() const { return FListenQueue; }
  void SetListenQueue(int32_t AValue) { FListenQueue = AValue; }

  // The number of connections being served now.
  int ConnectionCount() const;

  TIdHTTPCommandEvent OnCommandGet;
  // The TLS handler factory of this server; when unset, the process-wide one.
  TvynWSTLSIOHandlerFactory OnCreateTLSIOHandler;
  // The process-wide factory a TLS unit registers when it is linked in; none by default.
  static void SetDefaultTLSIOHandlerFactory(TvynWSTLSIOHandlerFactory AFactory);
  static TvynWSTLSIOHandlerFactory DefaultTLSIOHandlerFactory();

private:
  friend class TIdContext;
  friend class TIdHTTPResponseInfo;
  struct TListener {
    TIdSocketHandle* Binding;  // an entry of FBindings
    std::thread Thread;
  };
  enum TReadResult { rrRequest, rrClosed, rrError };

  void Activate();
  void Deactivate();
  TvynWSTLSIOHandlerFactory TLSFactory() const;
  std::unique_ptr<TIdIOHandlerStack> NewConnectionHandler(const TvynWSTLSIOHandlerFactory& AFactory);
  void ListenLoop(TIdSocketHandle* ABinding);
  void RejectBusy(TIdIOHandlerStack& AHandler);
  void ServeConnection(TIdContext* AContext);
  // Reads one request; on rrError VStatus is the status to answer with.
  // VKeepAlive: whether the client wants the connection kept.
  TReadResult ReadRequest(TIdContext& AContext, TIdHTTPRequestInfo& ARequest, int& VStatus, bool& VKeepAlive);
  void Dispatch(TIdContext& AContext, TIdHTTPRequestInfo& ARequest, TIdHTTPResponseInfo& AResponse);
  void FinishResponse(TIdHTTPResponseInfo& AResponse);
  void AnswerError(TIdContext& AContext, int AStatus, const String& ARequestLine);
  void LingeringClose(TIdIOHandlerStack& AHandler, int32_t AMSec);
  void LogRequest(const String& APeerIP, uint16_t APeerPort, const String& ARequestLine, int AStatus);
  // Joins the threads of finished connections and drops them. With AAll, also the
  // unfinished ones other than the calling thread's: after AGraceMs they are shut down.
  void ReapConnections(bool AAll, int32_t AGraceMs);

  bool FSSL = false;
  int32_t FPort = 80;
  TvynWSSSL_Options FSSLOptions;
  TIdSocketHandles FBindings;
  TvynWSLogFile FLogFile;
  int32_t FMaxConnections = 64;
  int32_t FReadTimeout = 10000;
  int32_t FMaxLineLength = 8192;
  int32_t FMaxHeaderLines = 100;
  int32_t FListenQueue = 64;

  std::atomic<bool> FActive{false};
  std::atomic<bool> FStopping{false};
  std::mutex FActiveLock;  // serializes activation and deactivation
  TvynWSTLSIOHandlerFactory FActiveTLSFactory;  // the factory of the current activation
  TvynWSSSL_Options FActiveSSLOptions;           // the TLS settings of the current activation
  std::vector<TListener> FListeners;
  mutable std::mutex FConnectionsLock;
  std::vector<std::unique_ptr<TIdContext>> FConnections;
  int FOpenConnections = 0;  // unfinished entries of FConnections, under FConnectionsLock
};

}  // namespace vyn
