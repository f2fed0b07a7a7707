// The HTTP/1.1 client engine: one connection, one URI and one pair of request and
// response records, and the request cycle run on the calling thread from start to
// end: merge the URL into the URI, choose host and port, connect (or reuse the open
// connection, or tunnel through a proxy with CONNECT), send the request, read the
// status line and headers, decide what comes next, move the body into the caller's
// stream, and close or keep the connection.
//
// Body bytes reach the caller's stream as they arrive: one write per drain of the
// I/O handler's input buffer (the bytes that came with the headers, then one write per
// receive), never spanning two chunks of a chunked body. Only HTML and XML bodies
// (whose character set is looked for) and compressed bodies are collected first.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "vynIdHTTPHeaderInfo.h"
#include "vynIdMultipartFormData.h"
#include "vynIdTCPClient.h"
#include "vynIdURI.h"
#include "vynIdZLibCompressorBase.h"
#include "vynSet.h"

namespace vyn {

class TIdCustomHTTP;
// The cookie store (vynIdCookieManager) and the store of completed authentications
// (vynIdAuthentication) are declared by their own units; the engine holds them by
// reference only.
class TIdCookieManager;
class TIdAuthenticationManager;

enum TIdHTTPProtocolVersion { pv1_0, pv1_1 };
// Direct or through an HTTP proxy, plain or TLS.
enum TIdHTTPConnectionType { ctNormal, ctSSL, ctProxy, ctSSLProxy };
// What the request loop does after a response.
enum TIdHTTPWhatsNext { wnGoToURL, wnJustExit, wnDontKnow, wnReadAndGo, wnAuthRequest };

enum TIdHTTPOption {
  hoInProcessAuth,              // answer 401/407 by sending again within the same call
  hoKeepOrigProtocol,           // POST keeps the protocol version and the connection
  hoForceEncodeParams,          // form-encode name=value lists for POST
  hoNonSSLProxyUseConnectVerb,  // tunnel plain requests through an HTTP proxy too
  hoNoParseMetaHTTPEquiv,       // do not scan HTML bodies for meta headers
  hoWaitForUnexpectedData,      // look briefly for a body where none is expected
  hoTreat302Like303,
  hoNoProtocolErrorException,   // never raise for error statuses
  hoNoReadMultipartMIME,        // leave multipart bodies unread
  hoNoParseXmlCharset,          // do not look for the character set of XML bodies
  hoWantProtocolErrorContent,   // the body of an ignored error status goes to the caller
  hoNoReadChunked               // leave chunked bodies unread
};
using TIdHTTPOptions = TSet<TIdHTTPOption>;

// Status codes that must not raise EIdHTTPProtocolException.
using TIdHTTPIgnoreReplies = std::vector<int16_t>;

VYN_EXCEPTION_CLASS(EIdUnknownProtocol, EIdException);

// An error status: the message is the status line, ErrorCode the status and
// ErrorMessage the body of the answer as text.
class EIdHTTPProtocolException : public EIdReplyRFCError {
public:
  using EIdReplyRFCError::EIdReplyRFCError;
  EIdHTTPProtocolException(int32_t AErrorCode, const String& AReplyMessage, const String& AErrorMessage)
      : EIdReplyRFCError(AErrorCode, AReplyMessage), FErrorMessage(AErrorMessage) {}
  [[noreturn]] static void Toss(const String& AMsg) { throw EIdHTTPProtocolException(AMsg); }
  const String& ErrorMessage() const { return FErrorMessage; }

private:
  String FErrorMessage;
};

using TIdHTTPOnHeadersAvailable = std::function<void(TObject* Sender, TIdHeaderList& AHeaders, bool& VContinue)>;
using TIdHTTPOnRedirectEvent =
    std::function<void(TObject* Sender, String& dest, int& NumRedirect, bool& Handled, String& VMethod)>;
// The handler may replace the chunk's bytes; what it leaves is what is written.
using TIdOnChunkReceived = std::function<void(TObject* Sender, TIdBytes& Chunk)>;

// The request record with what the engine adds: the target, the method, the body.
class TIdHTTPRequest : public TIdRequestHeaderInfo {
public:
  explicit TIdHTTPRequest(TIdCustomHTTP* AHTTP);

  TIdCustomHTTP* HTTP() const { return FHTTP; }
  // What the caller asked for, then the request target sent in the request line.
  const String& URL() const { return FURL; }
  void SetURL(const String& AValue) { FURL = AValue; }
  const String& Method() const { return FMethod; }
  void SetMethod(const String& AValue) { FMethod = AValue; }
  // The body to send; not owned.
  TStream* Source() const { return FSourceStream; }
  void SetSource(TStream* AValue) { FSourceStream = AValue; }
  TIdHTTPConnectionType UseProxy() const { return FUseProxy; }
  void SetUseProxy(TIdHTTPConnectionType AValue) { FUseProxy = AValue; }
  TIdIPVersion IPVersion() const { return FIPVersion; }
  void SetIPVersion(TIdIPVersion AValue) { FIPVersion = AValue; }
  // Host, a colon and port of the last request.
  const String& Destination() const { return FDestination; }
  void SetDestination(const String& AValue) { FDestination = AValue; }

private:
  TIdCustomHTTP* FHTTP;
  String FURL;
  String FMethod;
  TStream* FSourceStream = nullptr;
  TIdHTTPConnectionType FUseProxy = ctNormal;
  TIdIPVersion FIPVersion = ID_DEFAULT_IP_VERSION;
  String FDestination;
};

// The response record with the status line, keep-alive and the body's destination.
class TIdHTTPResponse : public TIdResponseHeaderInfo {
public:
  explicit TIdHTTPResponse(TIdCustomHTTP* AHTTP);
  ~TIdHTTPResponse() override;

  // Also clears the meta record.
  void Clear() override;

  TIdCustomHTTP* HTTP() const { return FHTTP; }
  // Parsed from the status line on first read: -1 when it holds no number.
  int32_t ResponseCode();
  void SetResponseCode(int32_t AValue) { FResponseCode = AValue; }
  // The whole status line.
  const String& ResponseText() const { return FResponseText; }
  // Marks the code as not parsed and takes the version from the line.
  void SetResponseText(const String& AValue);
  TIdHTTPProtocolVersion ResponseVersion() const { return FResponseVersion; }
  void SetResponseVersion(TIdHTTPProtocolVersion AValue) { FResponseVersion = AValue; }
  // Computed on every read from the connection state and the two records; the result
  // is also stored, and an explicit set stands until the next read.
  bool KeepAlive();
  void SetKeepAlive(bool AValue) { FKeepAlive = AValue; }
  // Where the body goes; not owned; none drops the body.
  TStream* ContentStream() const { return FContentStream; }
  void SetContentStream(TStream* AValue) { FContentStream = AValue; }
  // Owned.
  TIdMetaHTTPEquiv& MetaHTTPEquiv() { return *FMetaHTTPEquiv; }

private:
  TIdCustomHTTP* FHTTP;
  int32_t FResponseCode = -1;
  String FResponseText;
  bool FKeepAlive = false;
  TStream* FContentStream = nullptr;
  TIdHTTPProtocolVersion FResponseVersion = pv1_1;
  std::unique_ptr<TIdMetaHTTPEquiv> FMetaHTTPEquiv;
};

// The request and response records of one exchange (the engine's own, or a CONNECT
// tunnel's), with the steps that run on them.
class TIdHTTPProtocol {
public:
  explicit TIdHTTPProtocol(TIdCustomHTTP* AConnection);
  virtual ~TIdHTTPProtocol();
  TIdHTTPProtocol(const TIdHTTPProtocol&) = delete;
  TIdHTTPProtocol& operator=(const TIdHTTPProtocol&) = delete;

  // The request line and header block in one send. With AURI the request's cookies
  // for that URI are added (none for a CONNECT tunnel).
  void BuildAndSendRequest(TIdURI* AURI);
  // Clears the response, reads header lines until an empty one and parses them.
  void RetrieveHeaders(int32_t AMaxHeaderCount);
  // The decision after the headers of a final answer.
  TIdHTTPWhatsNext ProcessResponse(const TIdHTTPIgnoreReplies& AIgnoreReplies);

  TIdCustomHTTP* HTTP() const { return FHTTP; }
  TIdHTTPRequest& Request() { return *FRequest; }
  TIdHTTPResponse& Response() { return *FResponse; }

private:
  TIdHTTPWhatsNext ProcessRedirect(const TIdHTTPIgnoreReplies& AIgnoreReplies);
  TIdHTTPWhatsNext ProcessAuthChallenge(bool AProxy, const TIdHTTPIgnoreReplies& AIgnoreReplies);

  TIdCustomHTTP* FHTTP;
  std::unique_ptr<TIdHTTPRequest> FRequest;
  std::unique_ptr<TIdHTTPResponse> FResponse;
};

class TIdCustomHTTP : public TIdTCPClientCustom {
public:
  explicit TIdCustomHTTP(TComponent* AOwner = nullptr);
  ~TIdCustomHTTP() override;

  // ---- Request operations -----------------------------------------------------------
  // Stream forms write the body into the caller's stream (none drops it); string forms
  // return it decoded with the response's character set (8-bit when none is known).
  void Get(const String& AURL, TStream* AResponseContent);
  void Get(const String& AURL, TStream* AResponseContent, const TIdHTTPIgnoreReplies& AIgnoreReplies);
  String Get(const String& AURL);
  String Get(const String& AURL, const TIdHTTPIgnoreReplies& AIgnoreReplies);
  void Head(const String& AURL);
  // Every POST form ends here. Unless hoKeepOrigProtocol is set, an open connection is
  // closed first and the request goes out as HTTP/1.0; ProtocolVersion is restored
  // afterwards, also on error.
  void Post(const String& AURL, TStream* ASource, TStream* AResponseContent);
  String Post(const String& AURL, TStream* ASource);
  // The file is opened for reading and kept from other writers while it is sent.
  void Post(const String& AURL, const String& ASourceFile, TStream* AResponseContent);
  String Post(const String& AURL, const String& ASourceFile);
  // A name=value list, form-encoded (FormEncodeLines) and written with the library's
  // default text encoding; no list posts no body. An empty or HTML ContentType becomes
  // "application/x-www-form-urlencoded".
  void Post(const String& AURL, TStrings* ASource, TStream* AResponseContent,
            const IIdTextEncoding& AByteEncoding = nullptr);
  String Post(const String& AURL, TStrings* ASource, const IIdTextEncoding& AByteEncoding = nullptr);
  // A multipart form; the request's ContentType becomes the form's. A form is required.
  void Post(const String& AURL, TIdMultiPartFormDataStream* ASource, TStream* AResponseContent);
  String Post(const String& AURL, TIdMultiPartFormDataStream* ASource);
  void Put(const String& AURL, TStream* ASource, TStream* AResponseContent);
  String Put(const String& AURL, TStream* ASource);
  void Patch(const String& AURL, TStream* ASource, TStream* AResponseContent);
  String Patch(const String& AURL, TStream* ASource);
  void Delete(const String& AURL, TStream* AResponseContent);
  String Delete(const String& AURL);
  // Sends aBody as the request body.
  String Delete(const String& AURL, const String& aBody);
  void Options(const String& AURL, TStream* AResponseContent);
  String Options(const String& AURL);
  void Trace(const String& AURL, TStream* AResponseContent);
  String Trace(const String& AURL);

  // The request procedure every operation goes through. A subclass may prepare the
  // transport (I/O handler, intercept, headers) and then call this one. ASource and
  // AResponseContent are not owned and must outlive the call.
  virtual void PerformRequest(const String& AMethod, const String& AURL, TStream* ASource,
                              TStream* AResponseContent, const TIdHTTPIgnoreReplies& AIgnoreReplies);

  // ---- Form encoding ----------------------------------------------------------------
  // The list as one form-encoded text: "name=value" lines joined by "&".
  String FormEncodeLines(TStrings* AList, const IIdTextEncoding& AByteEncoding = nullptr) const;
  // Blank to "+", letters, digits and * - . _ kept, every other character as the
  // percent-encoded bytes of AByteEncoding (UTF-8 when none), or as "&#code;" when the
  // encoding cannot represent it.
  static String FormEncodeText(StringView AText, const IIdTextEncoding& AByteEncoding = nullptr);

  // ---- Properties -----------------------------------------------------------------------
  int32_t AuthRetries() const { return FAuthRetries; }
  int32_t AuthProxyRetries() const { return FAuthProxyRetries; }
  int32_t MaxAuthRetries() const { return FMaxAuthRetries; }
  void SetMaxAuthRetries(int32_t AValue) { FMaxAuthRetries = AValue; }
  // The most lines of a header block or a chunked trailer; a longer one ends the answer
  // with an error (stopping early without one would leave header lines to be read as
  // the body). 0 or less: no limit.
  int32_t MaxHeaderLines() const { return FMaxHeaderLines; }
  void SetMaxHeaderLines(int32_t AValue) { FMaxHeaderLines = AValue; }
  bool AllowCookies() const { return FAllowCookies; }
  void SetAllowCookies(bool AValue) { FAllowCookies = AValue; }
  // Not owned unless the engine created it; none until the cookie store is attached.
  TIdCookieManager* CookieManager() const { return FCookieManager; }
  // Not owned; the engine forgets it when it is freed.
  TIdZLibCompressorBase* Compressor() const { return FCompressor; }
  void SetCompressor(TIdZLibCompressorBase* AValue);
  TIdAuthenticationManager* AuthenticationManager() const { return FAuthenticationManager; }
  TIdHTTPProtocolVersion ProtocolVersion() const { return FProtocolVersion; }
  void SetProtocolVersion(TIdHTTPProtocolVersion AValue) { FProtocolVersion = AValue; }
  int32_t RedirectCount() const { return FRedirectCount; }
  int32_t RedirectMaximum() const { return FRedirectMax; }
  void SetRedirectMaximum(int32_t AValue) { FRedirectMax = AValue; }
  bool HandleRedirects() const { return FHandleRedirects; }
  void SetHandleRedirects(bool AValue) { FHandleRedirects = AValue; }
  TIdHTTPOptions HTTPOptions() const { return FOptions; }
  void SetHTTPOptions(TIdHTTPOptions AValue) { FOptions = AValue; }
  // The URI of the current or last request; a relative URL resolves against it.
  TIdURI& URL() { return *FURI; }
  TIdHTTPRequest& Request() { return FHTTPProto->Request(); }
  // Copies the given record into the engine's request.
  void SetRequest(const TIdHTTPRequest& AValue) { FHTTPProto->Request().Assign(&AValue); }
  TIdHTTPResponse& Response() { return FHTTPProto->Response(); }
  int32_t ResponseCode() { return Response().ResponseCode(); }
  const String& ResponseText() { return Response().ResponseText(); }
  TIdMetaHTTPEquiv& MetaHTTPEquiv() { return Response().MetaHTTPEquiv(); }
  // The engine's own HTTP proxy.
  TIdProxyConnectionInfo& ProxyParams() { return *FProxyParameters; }
  void SetProxyParams(const TIdProxyConnectionInfo& AValue) { FProxyParameters->Assign(&AValue); }

  TIdHTTPOnHeadersAvailable OnHeadersAvailable;
  TIdHTTPOnRedirectEvent OnRedirect;
  TIdOnChunkReceived OnChunkReceived;

protected:
  friend class TIdHTTPProtocol;

  virtual std::unique_ptr<TIdHTTPProtocol> CreateProtocolObject();
  // Whether the request can be sent again with new credentials for a 401 / 407.
  virtual bool AnswerAuthChallenge(TIdHTTPRequest& ARequest, TIdHTTPResponse& AResponse);
  virtual bool AnswerProxyAuthChallenge(TIdHTTPRequest& ARequest, TIdHTTPResponse& AResponse);
  // Whether a redirect is accepted: HandleRedirects, then OnRedirect's say.
  virtual bool ConfirmRedirect(String& ALocation, String& AMethod, int32_t ARedirectCount);
  void HandleDisconnected() override;
  void Notification(TComponent* AComponent, TOperation AOperation) override;

  // ---- Steps of the request cycle ----------------------------------------------------
  // Merges Request.URL into the engine URI and sets the target, host header and length.
  void PrepareRequestTarget();
  // Host and port of the connection (the proxy's when one is set); disconnects when
  // they change.
  TIdHTTPConnectionType SelectHostAndPort();
  // Connects (through a CONNECT tunnel when needed) and sends the request and its body.
  void OpenRequestConnection(TIdHTTPRequest& ARequest, TIdHTTPResponse& AResponse);
  void EnsureConnected(TIdHTTPRequest& ARequest, TIdHTTPResponse& AResponse);
  // One line with the handler's default terminator, encoding and time-out;
  // EIdReadTimeout "Read timed out." when the line timed out.
  String ReadProtocolLine();
  // The status line, skipping interim 1xx answers (101 counts as final).
  void ReadResponseHead(TIdHTTPProtocol& AProtocol);

  // ---- Body transfer ---------------------------------------------------------------------
  // Moves the response's body into its ContentStream (or drops it without one).
  void ReadBody(TIdHTTPRequest& ARequest, TIdHTTPResponse& AResponse);
  // ReadBody without a content stream; EIdConnClosedGracefully is swallowed.
  void DiscardBody(TIdHTTPRequest& ARequest, TIdHTTPResponse& AResponse);
  // The error path of a status: EIdHTTPProtocolException unless ignored.
  void ReadErrorBody(TIdHTTPRequest& ARequest, TIdHTTPResponse& AResponse,
                     const TIdHTTPIgnoreReplies& AIgnoreReplies);
  bool BodyExpected(TIdHTTPRequest& ARequest, TIdHTTPResponse& AResponse);
  bool DataPending(int32_t AMSec);
  void ReadChunkedBody(TStream* AStream, TIdHTTPResponse& AResponse);
  int32_t ReadChunkSize();
  void ReadMultipartBody(TStream* AStream, TIdHTTPResponse& AResponse);

  // ---- Cookies ------------------------------------------------------------------------
  // The cookie store's side of the exchange; nothing is stored or sent until a cookie
  // manager is attached.
  void StoreResponseCookies(TIdHTTPResponse& AResponse);
  void AddRequestCookies(TIdHTTPRequest& ARequest, TIdURI& AURI);

private:
  // Back to the position (and size) the caller's stream had when the call began.
  static void ResetContentStream(TStream* AStream, int64_t APosition);
  // The body collected by a string form, decoded with the response's character set.
  String DecodedContent(const TMemoryStream& AContent);
  // The collected body of an HTML or XML answer goes to the caller's stream.
  static void CopyCollectedBody(TMemoryStream& ACollected, TStream& ADest);

  int32_t FAuthRetries = 0;
  int32_t FAuthProxyRetries = 0;
  TIdCookieManager* FCookieManager = nullptr;
  TIdZLibCompressorBase* FCompressor = nullptr;
  bool FImplicitCookieManager = false;
  int32_t FMaxAuthRetries = 3;
  int32_t FMaxHeaderLines = 255;
  bool FAllowCookies = true;
  TIdAuthenticationManager* FAuthenticationManager = nullptr;
  TIdHTTPProtocolVersion FProtocolVersion = pv1_1;
  int32_t FRedirectCount = 0;
  int32_t FRedirectMax = 15;
  bool FHandleRedirects = false;
  TIdHTTPOptions FOptions{hoForceEncodeParams};
  std::unique_ptr<TIdURI> FURI;
  std::unique_ptr<TIdHTTPProtocol> FHTTPProto;
  std::unique_ptr<TIdProxyConnectionInfo> FProxyParameters;
};

// Publishes the engine; adds nothing.
class TIdHTTP : public TIdCustomHTTP {
public:
  using TIdCustomHTTP::TIdCustomHTTP;
};

// The character set an XML document declares (or its byte-order mark names) from
// the start of AStream; "UTF-8" when it names none. The stream's position is kept,
// moved past a byte-order mark when there is one.
String DetectXmlCharset(TStream* AStream);

}  // namespace vyn
