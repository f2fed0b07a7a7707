// TLS over OpenSSL: the option record, the library context wrapper, the per-connection
// session, the I/O handler for both roles, and the certificate information objects.
//
// Client role. The HTTP client component creates one handler and sets PassThrough
// false, SSLOptions and the rest from its TLS options:
//   Version tls1_0/tls1_1/tls1_2/tls1_3 -> SSLOptions->SetMethod(sslvTLSv1/_1/_2/_3),
//   tlsUndefined -> SSLOptions->SetSSLVersions({sslvTLSv1, sslvTLSv1_1, sslvTLSv1_2,
//   sslvTLSv1_3}) (TLS 1.2 or 1.3 is then negotiated); SSLOptions->SetMode(sslmClient);
//   RootCertFile, CertFile (PEM chain, or .p12/.pfx), KeyFile -> the same-named options;
//   VerifyCertificate -> SetVerifyMode({sslvrfPeer}) (the chain and the host name of
//   URIToCheck are then checked) or {}; ALPNProtocols -> SetALPNProtocols;
//   Password -> OnGetPassword; OpenSSL_Options.APIVersion -> OpenSSLAPIVersion and
//   LibPath/LibPathCustom -> SetSSLLibPath(ProgramFolder() or the folder) (binding).
// The engine sets URIToCheck (the SNI and certificate host name) and PassThrough per
// connection. Connecting runs the proxy negotiation in clear text, then the handshake.
// SetPassThrough(false) on an open connection starts TLS there (after a plain CONNECT
// or STARTTLS exchange); SetPassThrough(true) closes TLS and goes on in clear text.
//
// Server role, on an accepted socket:
//
//   TIdSSLIOHandlerSocketOpenSSL h;
//   h.SSLOptions()->SetMode(sslmServer);
//   h.SSLOptions()->SetSSLVersions({sslvTLSv1_2, sslvTLSv1_3});
//   h.SSLOptions()->SetCertFile(u"server.pem");   // PEM chain, or .p12/.pfx
//   h.SSLOptions()->SetKeyFile(u"server.key");    // PEM key, or the same .p12/.pfx
//   h.OnGetPassword = ...;                        // for an encrypted key or PKCS#12
//   // optional: RootCertFile + VerifyMode {sslvrfPeer, sslvrfFailIfNoPeerCert} to ask
//   // for client certificates; OnALPNSelect to choose among the client's protocols
//   h.SetPassThrough(false);
//   h.Open();                                     // a socket handle, nothing connected
//   h.Binding()->Accept(listener);                // on the accepting thread: quick
//   h.AfterAccept();                              // on the connection's thread: handshake
//
// AcceptConnection(listener) does the last three in one call. AfterAccept sets IsPeer,
// builds the server context and runs the handshake; when it fails it closes the
// handler and raises (EIdOSSLAcceptError, EIdOSSLLoadingCertError, ...). Afterwards the
// handler reads and writes decrypted data like any I/O handler; Close sends the TLS
// close and closes the socket. With PassThrough left true, AfterAccept only prepares
// the context, and SetPassThrough(false) later runs the handshake (STARTTLS).
//
// Reading hands out what one SSL_read yields (one TLS record, at most RecvBufferSize
// bytes) as soon as it is decrypted; nothing waits for more.
//
// Threads: a handler and its session are used by one thread at a time. The library
// callbacks (password, status, verification) run under the binding's three
// process-wide locks, one per kind.
#pragma once

#include <array>
#include <functional>
#include <memory>

#include "vynDateUtils.h"
#include "vynIdSSL.h"
#include "vynIdSSLOpenSSLHeaders.h"
#include "vynSet.h"

namespace vyn {

enum TIdSSLVersion { sslvSSLv2, sslvSSLv23, sslvSSLv3, sslvTLSv1, sslvTLSv1_1, sslvTLSv1_2, sslvTLSv1_3 };
using TIdSSLVersions = TSet<TIdSSLVersion>;
enum TIdSSLMode { sslmUnassigned, sslmClient, sslmServer, sslmBoth };
// Bits 0, 1, 2 are the library's verify flags peer, fail if no peer certificate and
// client once.
enum TIdSSLVerifyMode { sslvrfPeer, sslvrfFailIfNoPeerCert, sslvrfClientOnce };
using TIdSSLVerifyModeSet = TSet<TIdSSLVerifyMode>;
enum TIdSSLCtxMode { sslCtxClient, sslCtxServer };

// Every version but sslvSSLv23.
inline constexpr TIdSSLVersions kAllSSLVersions{sslvSSLv2, sslvSSLv3, sslvTLSv1, sslvTLSv1_1, sslvTLSv1_2,
                                                sslvTLSv1_3};

class TIdSSLIOHandlerSocketOpenSSL;
class TIdSSLSocket;
class TIdSSLContext;

// ---- Certificate information -----------------------------------------------------------------

struct TIdSSLEVP_MD {
  int32_t Length = 0;
  std::array<uint8_t, 64> MD{};
};

struct TIdSSLByteArray {
  int32_t Length = 0;
  const uint8_t* Data = nullptr;  // owned by the library
};

union TIdSSLULong {
  struct {
    uint8_t B1, B2, B3, B4;
  };
  struct {
    uint16_t W1, W2;
  };
  uint32_t L;
};

// A certificate name; the library's object is not owned.
class TIdX509Name : public TObject {
public:
  explicit TIdX509Name(X509_NAME* aX509Name) : fX509Name(aX509Name) {}
  // X509_NAME_oneline ("/C=../CN=.."), empty without a name.
  String OneLine() const;
  TIdSSLULong Hash() const;
  String HashAsString() const;  // "%.8x"
  X509_NAME* CertificateName() const { return fX509Name; }

private:
  X509_NAME* fX509Name;
};

class TIdX509Info : public TObject {
public:
  explicit TIdX509Info(X509* aX509) : FX509(aX509) {}

protected:
  X509* FX509;  // not owned
};

// Digests of the whole certificate. A digest the library does not offer gives a
// zero record and an empty text.
class TIdX509Fingerprints : public TIdX509Info {
public:
  using TIdX509Info::TIdX509Info;
  TIdSSLEVP_MD MD5() const;
  String MD5AsString() const;
  TIdSSLEVP_MD SHA1() const;
  String SHA1AsString() const;
  TIdSSLEVP_MD SHA224() const;
  String SHA224AsString() const;
  TIdSSLEVP_MD SHA256() const;
  String SHA256AsString() const;
  TIdSSLEVP_MD SHA384() const;
  String SHA384AsString() const;
  TIdSSLEVP_MD SHA512() const;
  String SHA512AsString() const;
};

class TIdX509SigInfo : public TIdX509Info {
public:
  using TIdX509Info::TIdX509Info;
  // The signature bytes as "xx:xx:...".
  String Signature() const;
  // The signature algorithm's number (sha256WithRSAEncryption, ...) and long name.
  int32_t SigType() const;
  String SigTypeAsString() const;
};

class TIdX509 : public TObject {
public:
  // Frees the library's certificate at destruction when aCanFreeX509.
  explicit TIdX509(X509* aX509, bool aCanFreeX509 = true);
  ~TIdX509() override;
  TIdX509(const TIdX509&) = delete;
  TIdX509& operator=(const TIdX509&) = delete;

  // The version as the library stores it (0 for v1, 2 for v3).
  int32_t Version() const;
  TIdX509SigInfo* SigInfo() const { return FSigInfo.get(); }
  TIdX509Fingerprints* Fingerprints() const { return FFingerprints.get(); }
  TIdSSLEVP_MD Fingerprint() const { return FFingerprints->MD5(); }
  String FingerprintAsString() const { return FFingerprints->MD5AsString(); }
  TIdX509Name* Subject();
  TIdX509Name* Issuer();
  // Local time; 0 without a certificate.
  TDateTime notBefore() const;
  TDateTime notAfter() const;
  String SerialNumber() const;  // "xx:xx:..."
  // The library's printout of the certificate, one line each.
  TStrings* DisplayInfo();
  X509* Certificate() const { return FX509; }

private:
  std::unique_ptr<TIdX509Fingerprints> FFingerprints;
  std::unique_ptr<TIdX509SigInfo> FSigInfo;
  bool FCanFreeX509;
  X509* FX509;
  std::unique_ptr<TIdX509Name> FSubject;
  std::unique_ptr<TIdX509Name> FIssuer;
  std::unique_ptr<TStringList> FDisplayInfo;
};

// The current cipher of a session.
class TIdSSLCipher : public TObject {
public:
  explicit TIdSSLCipher(TIdSSLSocket* AOwner) : fSSLSocket(AOwner) {}
  String Description() const;
  String Name() const;
  int32_t Bits() const;
  String Version() const;

private:
  const SSL_CIPHER* Current() const;
  TIdSSLSocket* fSSLSocket;
};

// ---- Options ----------------------------------------------------------------------------------

class TIdSSLOptions : public TPersistent {
public:
  // Copies the file names, then Method and SSLVersions through their rules, then Mode,
  // VerifyMode, VerifyDepth, VerifyDirs and CipherList.
  void Assign(const TPersistent* ASource) override;

  const String& RootCertFile() const { return fsRootCertFile; }
  void SetRootCertFile(const String& AValue) { fsRootCertFile = AValue; }
  const String& CertFile() const { return fsCertFile; }
  void SetCertFile(const String& AValue) { fsCertFile = AValue; }
  const String& KeyFile() const { return fsKeyFile; }
  void SetKeyFile(const String& AValue) { fsKeyFile = AValue; }
  const String& DHParamsFile() const { return fsDHParamsFile; }
  void SetDHParamsFile(const String& AValue) { fsDHParamsFile = AValue; }
  // Setting a version makes SSLVersions that version alone; sslvSSLv23 makes it every
  // version but sslvSSLv23.
  TIdSSLVersion Method() const { return fMethod; }
  void SetMethod(TIdSSLVersion AValue);
  // One version makes Method that version; anything else makes it sslvSSLv23, with
  // sslvSSLv23 itself removed (a set of only sslvSSLv23 becomes every version).
  TIdSSLVersions SSLVersions() const { return fSSLVersions; }
  void SetSSLVersions(TIdSSLVersions AValue);
  TIdSSLMode Mode() const { return fMode; }
  void SetMode(TIdSSLMode AValue) { fMode = AValue; }
  int32_t VerifyDepth() const { return fVerifyDepth; }
  void SetVerifyDepth(int32_t AValue) { fVerifyDepth = AValue; }
  TIdSSLVerifyModeSet VerifyMode() const { return fVerifyMode; }
  void SetVerifyMode(TIdSSLVerifyModeSet AValue) { fVerifyMode = AValue; }
  const String& VerifyDirs() const { return fVerifyDirs; }
  void SetVerifyDirs(const String& AValue) { fVerifyDirs = AValue; }
  // OpenSSL's cipher list syntax; empty keeps the library's default.
  const String& CipherList() const { return fCipherList; }
  void SetCipherList(const String& AValue) { fCipherList = AValue; }

private:
  String fsRootCertFile;
  String fsCertFile;
  String fsKeyFile;
  String fsDHParamsFile;
  TIdSSLVersion fMethod = sslvTLSv1;
  TIdSSLVersions fSSLVersions{sslvTLSv1};
  TIdSSLMode fMode = sslmUnassigned;
  int32_t fVerifyDepth = 0;
  TIdSSLVerifyModeSet fVerifyMode;
  String fVerifyDirs;
  String fCipherList;
};

// The record a handler creates for itself.
class TIdSSLOptions_Internal : public TIdSSLOptions {
public:
  explicit TIdSSLOptions_Internal(TIdSSLIOHandlerSocketOpenSSL* AParent) : FParent(AParent) {}
  TIdSSLIOHandlerSocketOpenSSL* Parent() const { return FParent; }

private:
  TIdSSLIOHandlerSocketOpenSSL* FParent;
};

// ---- Events and the callback interface --------------------------------------------------------

using TCallbackEvent = std::function<void(const String& AMsg)>;
using TCallbackExEvent = std::function<void(TObject* ASender, const SSL* AsslSocket, int32_t AWhere, int32_t Aret,
                                            const String& AType, const String& AMsg)>;
using TPasswordEvent = std::function<void(String& Password)>;
using TPasswordEventEx = std::function<void(TObject* ASender, String& VPassword, bool AIsWrite)>;
using TVerifyPeerEvent = std::function<bool(TIdX509* Certificate, bool AOk, int32_t ADepth, int32_t AError)>;
using TIOHandlerNotify = std::function<void(TIdSSLIOHandlerSocketOpenSSL* ASender)>;
// Server side: AProtocols are the client's offers in order; set VProtocol to one of them
// (empty: none).
using TALPNSelectEvent = std::function<void(TObject* ASender, TStrings* AProtocols, String& VProtocol)>;

// How the library callbacks reach the handler that owns a context or session.
class IIdSSLOpenSSLCallbackHelper {
public:
  virtual ~IIdSSLOpenSSLCallbackHelper() = default;
  virtual String AskPassword(bool AIsWrite) = 0;
  virtual void ReportStatus(const SSL* AsslSocket, int32_t AWhere, int32_t ARet, const String& AStatusStr) = 0;
  virtual bool ApprovePeer(TIdX509* ACertificate, bool AOk, int32_t ADepth, int32_t AError) = 0;
  virtual TIdSSLIOHandlerSocketOpenSSL* OwnerIOHandler() = 0;
};

// ---- Context ----------------------------------------------------------------------------------

class TIdSSLContext : public TObject {
public:
  // Starts OpenSSL; EIdOSSLCouldNotLoadSSLLibrary with the load report when it cannot.
  TIdSSLContext();
  ~TIdSSLContext() override;
  TIdSSLContext(const TIdSSLContext&) = delete;
  TIdSSLContext& operator=(const TIdSSLContext&) = delete;

  // Builds the library context for the role: method, protocol switches and bounds,
  // files, callbacks, cipher list, verification and ALPN.
  void SetUpContext(TIdSSLCtxMode ACtxMode);
  void FreeContext();
  // A new context with the same settings and no library context.
  std::unique_ptr<TIdSSLContext> Clone() const;

  bool LoadRootCert();
  bool LoadCert();
  bool LoadKey();
  bool LoadDHParams();

  TIdSSLVersion Method() const { return fMethod; }
  void SetMethod(TIdSSLVersion AValue) { fMethod = AValue; }
  TIdSSLVersions SSLVersions() const { return fSSLVersions; }
  void SetSSLVersions(TIdSSLVersions AValue) { fSSLVersions = AValue; }
  TIdSSLMode Mode() const { return fMode; }
  void SetMode(TIdSSLMode AValue) { fMode = AValue; }
  const String& RootCertFile() const { return fsRootCertFile; }
  void SetRootCertFile(const String& AValue) { fsRootCertFile = AValue; }
  const String& CertFile() const { return fsCertFile; }
  void SetCertFile(const String& AValue) { fsCertFile = AValue; }
  const String& KeyFile() const { return fsKeyFile; }
  void SetKeyFile(const String& AValue) { fsKeyFile = AValue; }
  const String& DHParamsFile() const { return fsDHParamsFile; }
  void SetDHParamsFile(const String& AValue) { fsDHParamsFile = AValue; }
  int32_t VerifyDepth() const { return fVerifyDepth; }
  void SetVerifyDepth(int32_t AValue) { fVerifyDepth = AValue; }
  TIdSSLVerifyModeSet VerifyMode() const { return fVerifyMode; }
  void SetVerifyMode(TIdSSLVerifyModeSet AValue) { fVerifyMode = AValue; }
  const String& VerifyDirs() const { return fVerifyDirs; }
  void SetVerifyDirs(const String& AValue) { fVerifyDirs = AValue; }
  const String& CipherList() const { return fCipherList; }
  void SetCipherList(const String& AValue) { fCipherList = AValue; }
  SSL_CTX* Context() const { return fContext; }
  bool StatusInfoOn() const { return fStatusInfoOn; }
  void SetStatusInfoOn(bool AValue) { fStatusInfoOn = AValue; }
  bool VerifyOn() const { return fVerifyOn; }
  void SetVerifyOn(bool AValue) { fVerifyOn = AValue; }
  uint32_t SessionId() const { return fSessionId; }
  TIdSSLCtxMode CtxMode() const { return fCtxMode; }
  // Protocols offered (client) through ALPN; created on first use.
  TStrings* ALPNProtocols();
  // The handler the context belongs to, or none.
  TIdSSLIOHandlerSocketOpenSSL* Parent() const { return FParent; }
  void SetParent(TIdSSLIOHandlerSocketOpenSSL* AValue) { FParent = AValue; }

  // The ALPN wire list: per entry a length byte and the entry's bytes; an empty entry
  // still counts one byte of the (zero) tail. Empty for no entries.
  static TIdBytes ALPNWireList(const TStrings& AProtocols);

private:
  void ChooseMethod(const SSL_METHOD*& AMethod);
  void ApplyProtocolSwitches();
  void ApplyVerifyMode();
  void ApplyALPNProtocols();
  void LoadFiles();

  TIdSSLVersion fMethod = sslvTLSv1;
  TIdSSLVersions fSSLVersions{sslvTLSv1};
  TIdSSLMode fMode = sslmUnassigned;
  String fsRootCertFile;
  String fsCertFile;
  String fsKeyFile;
  String fsDHParamsFile;
  int32_t fVerifyDepth = 0;
  TIdSSLVerifyModeSet fVerifyMode;
  String fVerifyDirs;
  String fCipherList;
  SSL_CTX* fContext = nullptr;
  bool fStatusInfoOn = false;
  bool fVerifyOn = false;
  uint32_t fSessionId = 1;
  TIdSSLCtxMode fCtxMode = sslCtxClient;
  std::unique_ptr<TStringList> FALPNProtocols;
  TIdSSLIOHandlerSocketOpenSSL* FParent = nullptr;
};

// Loads the certificates and revocation lists of a PEM file (through the "Load file
// into cache" lookup, the file read by the system) and the hashed folders ADirs into a
// store; 1 when anything was given and all of it loaded, else 0.
int LoadStoreLocations(X509_STORE* AStore, const String& AFile, const String& ADirs);
// The store lookup behind it: X509_LOOKUP_ctrl with command 1 and the file name as a
// pointer to its UTF-16 text loads a file of type 1 (PEM), 2 (a DER certificate) or 3
// (the library's default file).
X509_LOOKUP_METHOD* FileLookupMethod();

// The key password callback every context installs; userdata is the TIdSSLContext,
// whose handler is asked for the password. The password goes out as UTF-8, cut to
// size - 1 bytes with a zero after it; the result is the count that the buffer holds.
int SSLPasswordCallback(char* buf, int size, int rwflag, void* userdata);

// The trusted names of a PEM file, for a server's list of acceptable client CAs: a
// stack of X509_NAME that the caller owns (or hands to the library); null on failure.
OPENSSL_STACK* ReadClientCANames(const String& AFileName);

// ---- Session ----------------------------------------------------------------------------------

class TIdSSLSocket : public TObject {
public:
  explicit TIdSSLSocket(TIdSSLIOHandlerSocketOpenSSL* Parent);
  // Sends the TLS close (without waiting for the peer's) and frees the session.
  ~TIdSSLSocket() override;
  TIdSSLSocket(const TIdSSLSocket&) = delete;
  TIdSSLSocket& operator=(const TIdSSLSocket&) = delete;

  // The client handshake on the connected descriptor; EIdOSSLConnectError on failure.
  void Connect(TIdStackSocketHandle pHandle);
  // The server handshake; EIdOSSLAcceptError on failure.
  void Accept(TIdStackSocketHandle pHandle);
  // One SSL_read: the count, 0 when the peer closed TLS, negative on error.
  int Recv(TIdBytesSpan ABuffer);
  // Writes all ALength bytes: the total, 0 when the peer closed TLS, negative on error.
  int Send(const TIdBytes& ABuffer, int AOffset, int ALength);
  void SetCipherList(const String&) {}
  // The peer's certificate (null when it sent none); the cipher of the session.
  TIdX509* PeerCert();
  TIdSSLCipher* Cipher();
  TIdSSLByteArray GetSessionID() const;
  String GetSessionIDAsString() const;  // lower-case hexadecimal, no separators
  int SSLErrorOf(int ARetCode) const { return SSL_get_error(fSSL, ARetCode); }

  SSL* SSLSession() const { return fSSL; }
  TIdSSLContext* SSLContext() const { return fSSLContext; }
  void SetSSLContext(TIdSSLContext* AValue) { fSSLContext = AValue; }
  TIdSSLIOHandlerSocketOpenSSL* Parent() const { return fParent; }
  const String& HostName() const { return fHostName; }
  void SetHostName(const String& AValue) { fHostName = AValue; }
  // Memory-buffer mode is not used by this system's client or server.
  bool IO() const { return FIO; }
  // Server side: the protocol chosen through ALPN.
  const std::string& ALPNProtocol() const { return FALPNProtocol; }
  void SetALPNProtocol(const std::string& AValue) { FALPNProtocol = AValue; }
  bool IOSSL_HandShake() const { return FIOSSL_HandShake; }
  TALPNSelectEvent OnALPNSelect;

private:
  SSL* NewSession(TIdStackSocketHandle pHandle);
  void FreeSession();

  TIdSSLIOHandlerSocketOpenSSL* fParent;
  std::unique_ptr<TIdX509> fPeerCert;
  SSL* fSSL = nullptr;
  std::unique_ptr<TIdSSLCipher> fSSLCipher;
  TIdSSLContext* fSSLContext = nullptr;  // not owned
  String fHostName;
  bool FIO = false;
  std::string FALPNProtocol;
  bool FIOSSL_HandShake = false;
};

// ---- Handler ----------------------------------------------------------------------------------

class TIdSSLIOHandlerSocketOpenSSL : public TIdSSLIOHandlerSocketBase, public IIdSSLOpenSSLCallbackHelper {
public:
  explicit TIdSSLIOHandlerSocketOpenSSL(TComponent* AOwner = nullptr);
  ~TIdSSLIOHandlerSocketOpenSSL() override;

  // Turning it off on an open connection starts TLS there; turning it on sends the TLS
  // close and goes on in clear text.
  void SetPassThrough(bool Value) override;
  void ConnectClientSocket() override;
  void StartSSL() override;
  bool Readable(int AMSec = TimeoutInfinite) override;
  int RecvEncrypted(TIdBytesSpan VBuffer) override;
  int SendEncrypted(const TIdBytes& ABuffer, int AOffset, int ALength) override;
  int TranslateIOError(int AResult) override;
  [[noreturn]] void RaiseIOError(int AError) override;
  void Open() override;
  // Frees the session and the context this handler made, then closes the socket.
  void Close() override;
  // Server side: the handshake on the connection just accepted into Binding().
  void AfterAccept() override;
  // Open, Binding()->Accept(AListener), AfterAccept.
  void AcceptConnection(TIdStackSocketHandle AListener);
  // A handler without owner with these options and callbacks, whose session resumes
  // this handler's TLS session.
  std::unique_ptr<TIdSSLIOHandlerSocketBase> Clone() override;

  // The protocol the server chose through ALPN; empty when none.
  String GetALPNProtocol() const;
  // "TLSv1.3", ... for the current session; empty without one.
  String GetSSLVersion() const;

  TIdSSLContext* SSLContext() const { return fSSLContext; }
  TIdSSLOptions* SSLOptions() const { return fxSSLOptions.get(); }
  // Copies the given options into the handler's own record.
  void SetSSLOptions(const TIdSSLOptions* AValue) { fxSSLOptions->Assign(AValue); }
  TIdSSLSocket* SSLSocket() const { return fSSLSocket.get(); }
  bool SSL_HandShake() const { return fSSLSocket && fSSLSocket->IOSSL_HandShake(); }
  // Protocols offered through ALPN (client) or accepted (server); created on first use.
  TStrings* ALPNProtocols();
  void SetALPNProtocols(const TStrings* AValue) { ALPNProtocols()->Assign(AValue); }

  TCallbackEvent OnStatusInfo;
  TCallbackExEvent OnStatusInfoEx;
  TPasswordEvent OnGetPassword;
  TPasswordEventEx OnGetPasswordEx;
  TVerifyPeerEvent OnVerifyPeer;
  TIOHandlerNotify OnBeforeConnect;
  // Handed to each server session (TIdSSLSocket::OnALPNSelect).
  TALPNSelectEvent OnALPNSelect;

  // IIdSSLOpenSSLCallbackHelper
  String AskPassword(bool AIsWrite) override;
  void ReportStatus(const SSL* AsslSocket, int32_t AWhere, int32_t ARet, const String& AStatusStr) override;
  bool ApprovePeer(TIdX509* ACertificate, bool AOk, int32_t ADepth, int32_t AError) override;
  TIdSSLIOHandlerSocketOpenSSL* OwnerIOHandler() override { return this; }

  virtual void NotifyBeforeConnect();
  virtual void NotifyStatusInfo(const String& AMsg);
  virtual void QueryPassword(String& Password);
  virtual void QueryPasswordEx(String& VPassword, bool AIsWrite);
  virtual bool QueryVerifyPeer(TIdX509* Certificate, bool AOk, int32_t ADepth, int32_t AError);

protected:
  virtual void StartTLSSession();
  // Creates and sets up the context when there is none.
  void EnsureContext(TIdSSLCtxMode ACtxMode);

private:
  void FreeSession();
  void FreeContext();
  // Bounds blocked TLS reads and writes on the socket (0: no bound).
  void SetSocketTimeouts(int32_t AMSec);

  TIdSSLContext* fSSLContext = nullptr;  // owned when its Parent is this handler
  std::unique_ptr<TIdSSLContext> FOwnedContext;
  std::unique_ptr<TIdSSLOptions> fxSSLOptions;
  std::unique_ptr<TIdSSLSocket> fSSLSocket;
  bool fSSLLayerClosed = true;
  std::unique_ptr<TStringList> FALPNProtocols;
};

}  // namespace vyn
