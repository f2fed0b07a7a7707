#include "vynIdSSLOpenSSL.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "vynIdIPAddress.h"
#include "vynIdResourceStrings.h"
#include "vynIdStack.h"
#include "vynIdStackLinux.h"
#include "vynIdURI.h"

namespace vyn {

int SSLPasswordCallback(char* buf, int size, int rwflag, void* userdata);

namespace {

// Library constants (the documented values, the same in every generation used here).
constexpr long SSL_OP_NO_SSLv2 = 0x01000000L;
constexpr long SSL_OP_NO_SSLv3 = 0x02000000L;
constexpr long SSL_OP_NO_TLSv1 = 0x04000000L;
constexpr long SSL_OP_NO_TLSv1_2 = 0x08000000L;
constexpr long SSL_OP_NO_TLSv1_1 = 0x10000000L;
constexpr long SSL_OP_NO_TLSv1_3 = 0x20000000L;
constexpr long SSL_MODE_AUTO_RETRY = 4;
constexpr long TLS1_VERSION = 0x0301;
constexpr long TLS1_1_VERSION = 0x0302;
constexpr long TLS1_2_VERSION = 0x0303;
constexpr long TLS1_3_VERSION = 0x0304;
constexpr int X509_FILETYPE_PEM = 1;
constexpr int X509_FILETYPE_ASN1 = 2;
constexpr int SSL_TLSEXT_ERR_OK = 0;
constexpr int SSL_TLSEXT_ERR_NOACK = 3;
constexpr int kDefaultTLSTimeout = 30000;

// Error reasons and the functions the loaders report under.
constexpr int ERR_R_SYS_LIB = 2;
constexpr int ERR_R_BUF_LIB = 7;
constexpr int ERR_R_PEM_LIB = 9;
constexpr int ERR_R_ASN1_LIB = 13;
constexpr int ERR_R_PKCS12_LIB = 35;
constexpr int ERR_R_MALLOC_FAILURE = 65;
constexpr int SSL_R_BAD_SSL_FILETYPE = 124;
constexpr int PEM_R_NO_START_LINE = 108;
constexpr int kFuncLoadCertCrlFile = 132;
constexpr int kFuncUseCertificateFile = 173;
constexpr int kFuncUsePrivateKeyFile = 176;
constexpr int kFuncLoadClientCAFile = 185;
constexpr int kFuncSetTmpDH = 213;
constexpr int kFuncUseCertificateChainFile = 220;

// Writes to a peer that has gone raise SIGPIPE inside the library's socket writes;
// the signal is held back for this thread while a session call runs. A write that
// fails with EPIPE has left it pending, and it is taken off again before the mask is
// restored. When the thread holds the signal back already, nothing changes.
class TSigPipeGuard {
public:
  TSigPipeGuard() {
    sigemptyset(&FPipe);
    sigaddset(&FPipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &FPipe, &FOld);
    FWasBlocked = sigismember(&FOld, SIGPIPE) == 1;
  }
  ~TSigPipeGuard() {
    if (FWasBlocked) return;
    const int saved = errno;
    if (saved == EPIPE) {
      timespec zero{0, 0};
      sigtimedwait(&FPipe, nullptr, &zero);
    }
    pthread_sigmask(SIG_SETMASK, &FOld, nullptr);
    errno = saved;
  }
  TSigPipeGuard(const TSigPipeGuard&) = delete;
  TSigPipeGuard& operator=(const TSigPipeGuard&) = delete;

private:
  sigset_t FPipe;
  sigset_t FOld;
  bool FWasBlocked = false;
};

// The library did its own socket calls: its errno becomes the stack's last socket
// error, which the socket error checks read.
void NoteSocketError(int AErrno) {
  if (TIdStack* stack = GStack()) stack->WSSetLastError(AErrno ? TIdStackLinux::TranslateErrno(AErrno) : 0);
}

// A library callback's frame: the thread's last socket error is kept and its lock held
// for the callback's whole body.
class TCallbackScope {
public:
  explicit TCallbackScope(std::mutex* ALock) : FLock(ALock) {
    FErrno = errno;
    if (TIdStack* stack = GStack()) FSocketError = stack->WSGetLastError();
    if (FLock) FLock->lock();
  }
  ~TCallbackScope() {
    if (FLock) FLock->unlock();
    if (TIdStack* stack = GStack()) stack->WSSetLastError(FSocketError);
    errno = FErrno;
  }
  TCallbackScope(const TCallbackScope&) = delete;
  TCallbackScope& operator=(const TCallbackScope&) = delete;

private:
  std::mutex* FLock;
  int FErrno = 0;
  int32_t FSocketError = 0;
};

String Text8Bit(const char* AText) {
  String out;
  if (AText)
    for (const char* p = AText; *p; ++p) out += static_cast<char16_t>(static_cast<unsigned char>(*p));
  return out;
}

std::string Bytes8Bit(const String& AText) {
  std::string out;
  out.reserve(AText.size());
  for (char16_t c : AText) out += static_cast<char>(c <= 0xFF ? c : u'?');
  return out;
}

String HexText(const uint8_t* AData, size_t ALength, bool AColons) {
  static const char16_t kDigits[] = u"0123456789abcdef";
  String out;
  for (size_t i = 0; i < ALength; ++i) {
    if (AColons && i > 0) out += u':';
    out += kDigits[AData[i] >> 4];
    out += kDigits[AData[i] & 0xF];
  }
  return out;
}

// ---- Reading files into the library ----------------------------------------------------------

bool ReadWholeFile(const String& AFileName, std::string& VData) {
  std::ifstream in(std::filesystem::path(ToUtf8(AFileName)), std::ios::binary);
  if (!in) return false;
  VData.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

using TPutError = void (*)(int AFunction, int AReason);

// A file's bytes with a read-only memory buffer of the library over them. A failure
// puts (function, reason 2) when the file cannot be read and (function, ABufferReason)
// when the buffer cannot be made.
class TFileBuffer {
public:
  TFileBuffer(const String& AFileName, TPutError APut, int AFunction, int ABufferReason) {
    if (!ReadWholeFile(AFileName, FData)) {
      APut(AFunction, ERR_R_SYS_LIB);
      return;
    }
    FBio = BIO_new_mem_buf(FData.data(), static_cast<int>(FData.size()));
    if (!FBio) APut(AFunction, ABufferReason);
  }
  ~TFileBuffer() {
    if (FBio) BIO_free(FBio);
  }
  TFileBuffer(const TFileBuffer&) = delete;
  TFileBuffer& operator=(const TFileBuffer&) = delete;
  BIO* Bio() const { return FBio; }

private:
  std::string FData;
  BIO* FBio = nullptr;
};

// Certificates and revocation lists of a PEM file into a store; the count added.
int AddPEMFileToStore(X509_STORE* AStore, const String& AFileName) {
  TFileBuffer file(AFileName, X509err, kFuncLoadCertCrlFile, ERR_R_SYS_LIB);
  if (!file.Bio()) return 0;
  OPENSSL_STACK* items = PEM_X509_INFO_read_bio(file.Bio(), nullptr, nullptr, nullptr);
  if (!items) {
    X509err(kFuncLoadCertCrlFile, ERR_R_PEM_LIB);
    return 0;
  }
  int count = 0;
  for (int i = 0; i < sk_num(items); ++i) {
    auto* item = static_cast<X509_INFO*>(sk_value(items, i));
    if (item->x509) {
      X509_STORE_add_cert(AStore, item->x509);
      ++count;
    }
    if (item->crl) {
      X509_STORE_add_crl(AStore, item->crl);
      ++count;
    }
  }
  sk_pop_free(items, reinterpret_cast<TStackItemFree>(reinterpret_cast<void*>(X509_INFO_free)));
  return count;
}

// Certificates of a file into a store by type (PEM: every certificate in it; ASN.1: one
// DER certificate); the count added, 0 on failure.
int AddCertificatesFileToStore(X509_STORE* AStore, const String& AFileName, int AType) {
  constexpr int kFuncLoadCertFile = 111;
  constexpr int X509_R_BAD_X509_FILETYPE = 100;
  if (AFileName.empty()) return 1;
  TFileBuffer file(AFileName, X509err, kFuncLoadCertFile, ERR_R_SYS_LIB);
  if (!file.Bio()) return 0;
  if (AType == X509_FILETYPE_PEM) {
    int count = 0;
    while (X509* cert = PEM_read_bio_X509_AUX(file.Bio(), nullptr, nullptr, nullptr)) {
      const int added = X509_STORE_add_cert(AStore, cert);
      X509_free(cert);
      if (!added) return 0;
      ++count;
    }
    // The end of the certificates shows as "no start line".
    if (count > 0 && ERR_GET_REASON(static_cast<uint32_t>(ERR_peek_last_error())) == PEM_R_NO_START_LINE) {
      ERR_clear_error();
      return count;
    }
    X509err(kFuncLoadCertFile, ERR_R_PEM_LIB);
    return 0;
  }
  if (AType == X509_FILETYPE_ASN1) {
    X509* cert = d2i_X509_bio(file.Bio(), nullptr);
    if (!cert) {
      X509err(kFuncLoadCertFile, ERR_R_ASN1_LIB);
      return 0;
    }
    const int added = X509_STORE_add_cert(AStore, cert);
    X509_free(cert);
    return added;
  }
  X509err(kFuncLoadCertFile, X509_R_BAD_X509_FILETYPE);
  return 0;
}

// The 1.0 API's lookup records, for the generation that has no accessors.
struct TLookupMethod0 {
  const char* name;
  int (*new_item)(X509_LOOKUP*);
  void (*free)(X509_LOOKUP*);
  int (*init)(X509_LOOKUP*);
  int (*shutdown)(X509_LOOKUP*);
  TX509LookupCtrl ctrl;
  void* get_by_subject;
  void* get_by_issuer_serial;
  void* get_by_fingerprint;
  void* get_by_alias;
};
struct TLookup0 {
  int init;
  int skip;
  X509_LOOKUP_METHOD* method;
  char* method_data;
  X509_STORE* store_ctx;
};

X509_STORE* LookupStore(X509_LOOKUP* ALookup) {
  if (X509_LOOKUP_get_store) return X509_LOOKUP_get_store(ALookup);
  return reinterpret_cast<TLookup0*>(ALookup)->store_ctx;
}

// The lookup's one operation: command 1 loads the file named by argc, which is the
// system's own UTF-16 text, so that the name never passes through the library.
int FileLookupCtrl(X509_LOOKUP* ALookup, int ACmd, const char* AArgc, long AArgl, char**) {
  constexpr int X509_L_FILE_LOAD = 1;
  constexpr int X509_FILETYPE_DEFAULT = 3;
  constexpr int kFuncByFileCtrl = 101;
  constexpr int X509_R_LOADING_DEFAULTS = 104;
  if (ACmd != X509_L_FILE_LOAD) return 0;
  try {
    X509_STORE* store = LookupStore(ALookup);
    const String name = AArgc ? String(reinterpret_cast<const char16_t*>(AArgc)) : String();
    if (AArgl == X509_FILETYPE_PEM) return AddPEMFileToStore(store, name) > 0 ? 1 : 0;
    if (AArgl == X509_FILETYPE_DEFAULT) {
      const char* variable = X509_get_default_cert_file_env();
      const char* fromEnvironment = variable ? std::getenv(variable) : nullptr;
      const String file = FromUtf8(fromEnvironment && *fromEnvironment ? fromEnvironment : X509_get_default_cert_file());
      const int added = AddPEMFileToStore(store, file);
      if (added < 1) X509err(kFuncByFileCtrl, X509_R_LOADING_DEFAULTS);
      return added > 0 ? 1 : 0;
    }
    return AddCertificatesFileToStore(store, name, static_cast<int>(AArgl)) > 0 ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

}  // namespace

// "Load file into cache": a lookup method whose only operation is FileLookupCtrl. Made
// once for the loaded library (the 1.1 API builds it through its accessors; the 1.0
// API takes the record as it is).
X509_LOOKUP_METHOD* FileLookupMethod() {
  static std::mutex lock;
  static TLibHandle madeFor = nullptr;
  static X509_LOOKUP_METHOD* method = nullptr;
  static const std::string name = ToUtf8(RSOSSLCertificateLookup);
  static TLookupMethod0 method0{name.c_str(), nullptr, nullptr, nullptr, nullptr, FileLookupCtrl,
                                nullptr, nullptr, nullptr, nullptr};
  std::lock_guard<std::mutex> guard(lock);
  if (madeFor == GetSSLCryptoLibrary() && method) return method;
  madeFor = GetSSLCryptoLibrary();
  method = nullptr;
  if (X509_LOOKUP_meth_new && X509_LOOKUP_meth_set_ctrl) {
    method = X509_LOOKUP_meth_new(name.c_str());
    if (method) X509_LOOKUP_meth_set_ctrl(method, FileLookupCtrl);
  } else if (SSLLoadedAPIVersion() == 0) {
    method = reinterpret_cast<X509_LOOKUP_METHOD*>(&method0);
  }
  return method;
}

// The trusted roots of a file and the hashed folders of ADirs into a store: 1 when
// anything was given and all of it loaded, else 0. The file is read by the system, not
// by the library, so that any name the platform accepts works.
int LoadStoreLocations(X509_STORE* AStore, const String& AFile, const String& ADirs) {
  if (!AStore) return 0;
  if (!AFile.empty()) {
    X509_LOOKUP_METHOD* method = FileLookupMethod();
    X509_LOOKUP* lookup = method ? X509_STORE_add_lookup(AStore, method) : nullptr;
    if (!lookup) return 0;
    if (X509_LOOKUP_load_file(lookup, reinterpret_cast<const char*>(AFile.c_str()), X509_FILETYPE_PEM) != 1)
      return 0;
  }
  if (!ADirs.empty() && X509_STORE_load_locations(AStore, nullptr, ToUtf8(ADirs).c_str()) != 1) return 0;
  return (!AFile.empty() || !ADirs.empty()) ? 1 : 0;
}

namespace {

bool IsPKCS12File(const String& AFileName) {
  const auto dot = AFileName.rfind(u'.');
  if (dot == String::npos) return false;
  const String ext = AFileName.substr(dot);
  return SameText(ext, u".p12") || SameText(ext, u".pfx");
}

int UseCertificateFile(TIdSSLContext& ACtx, const String& AFileName, int AType) {
  TFileBuffer file(AFileName, SSLerr, kFuncUseCertificateFile, ERR_R_BUF_LIB);
  if (!file.Bio()) return 0;
  X509* cert = nullptr;
  if (AType == X509_FILETYPE_PEM) {
    cert = PEM_read_bio_X509(file.Bio(), nullptr, SSLPasswordCallback, &ACtx);
    if (!cert) SSLerr(kFuncUseCertificateFile, ERR_R_PEM_LIB);
  } else if (AType == X509_FILETYPE_ASN1) {
    cert = d2i_X509_bio(file.Bio(), nullptr);
    if (!cert) SSLerr(kFuncUseCertificateFile, ERR_R_ASN1_LIB);
  } else {
    SSLerr(kFuncUseCertificateFile, SSL_R_BAD_SSL_FILETYPE);
  }
  if (!cert) return 0;
  const int r = SSL_CTX_use_certificate(ACtx.Context(), cert);
  X509_free(cert);
  return r;
}

// The first certificate of a PEM file as the context's, the rest as its chain.
int UseCertificateChainFile(TIdSSLContext& ACtx, const String& AFileName) {
  ERR_clear_error();
  TFileBuffer file(AFileName, SSLerr, kFuncUseCertificateChainFile, ERR_R_BUF_LIB);
  if (!file.Bio()) return 0;
  X509* first = PEM_read_bio_X509_AUX(file.Bio(), nullptr, SSLPasswordCallback, &ACtx);
  if (!first) {
    SSLerr(kFuncUseCertificateChainFile, ERR_R_PEM_LIB);
    return 0;
  }
  int r = SSL_CTX_use_certificate(ACtx.Context(), first);
  if (ERR_peek_error() != 0) r = 0;
  if (r != 0) {
    SSL_CTX_clear_chain_certs(ACtx.Context());
    while (X509* ca = PEM_read_bio_X509(file.Bio(), nullptr, SSLPasswordCallback, &ACtx)) {
      if (!SSL_CTX_add0_chain_cert(ACtx.Context(), ca)) {
        X509_free(ca);
        r = 0;
        break;
      }
    }
  }
  X509_free(first);
  return r;
}

// Parses a PKCS#12 file with the password the context's callback gives; true with the
// key and certificate (and chain) when it parsed.
struct TPKCS12Parts {
  EVP_PKEY* Key = nullptr;
  X509* Cert = nullptr;
  OPENSSL_STACK* Chain = nullptr;
  PKCS12* Container = nullptr;
  ~TPKCS12Parts() {
    if (Chain) sk_pop_free(Chain, reinterpret_cast<TStackItemFree>(reinterpret_cast<void*>(X509_free)));
    if (Cert) X509_free(Cert);
    if (Key) EVP_PKEY_free(Key);
    if (Container) PKCS12_free(Container);
  }
};

bool ParsePKCS12(TIdSSLContext& ACtx, const String& AFileName, int AFunction, TPKCS12Parts& VParts) {
  TFileBuffer file(AFileName, SSLerr, AFunction, ERR_R_BUF_LIB);
  if (!file.Bio()) return false;
  char password[129] = {};
  SSLPasswordCallback(password, 128, 0, &ACtx);
  VParts.Container = d2i_PKCS12_bio(file.Bio(), nullptr);
  if (!VParts.Container) {
    SSLerr(AFunction, ERR_R_PKCS12_LIB);
    return false;
  }
  if (PKCS12_parse(VParts.Container, password, &VParts.Key, &VParts.Cert, &VParts.Chain) != 1) {
    SSLerr(AFunction, ERR_R_PKCS12_LIB);
    return false;
  }
  return true;
}

int UsePKCS12Certificate(TIdSSLContext& ACtx, const String& AFileName) {
  TPKCS12Parts parts;
  if (!ParsePKCS12(ACtx, AFileName, kFuncUseCertificateFile, parts)) return 0;
  return SSL_CTX_use_certificate(ACtx.Context(), parts.Cert);
}

int UsePKCS12PrivateKey(TIdSSLContext& ACtx, const String& AFileName) {
  TPKCS12Parts parts;
  if (!ParsePKCS12(ACtx, AFileName, kFuncUsePrivateKeyFile, parts)) return 0;
  return SSL_CTX_use_PrivateKey(ACtx.Context(), parts.Key);
}

int UsePrivateKeyFile(TIdSSLContext& ACtx, const String& AFileName, int AType) {
  TFileBuffer file(AFileName, SSLerr, kFuncUsePrivateKeyFile, ERR_R_BUF_LIB);
  if (!file.Bio()) return 0;
  EVP_PKEY* key = nullptr;
  if (AType == X509_FILETYPE_PEM) {
    key = PEM_read_bio_PrivateKey(file.Bio(), nullptr, SSLPasswordCallback, &ACtx);
    if (!key) SSLerr(kFuncUsePrivateKeyFile, ERR_R_PEM_LIB);
  } else if (AType == X509_FILETYPE_ASN1) {
    key = d2i_PrivateKey_bio(file.Bio(), nullptr);
    if (!key) SSLerr(kFuncUsePrivateKeyFile, ERR_R_ASN1_LIB);
  } else {
    SSLerr(kFuncUsePrivateKeyFile, SSL_R_BAD_SSL_FILETYPE);
  }
  if (!key) return 0;
  const int r = SSL_CTX_use_PrivateKey(ACtx.Context(), key);
  EVP_PKEY_free(key);
  return r;
}

int UseDHParamsFile(TIdSSLContext& ACtx, const String& AFileName, int AType) {
  TFileBuffer file(AFileName, SSLerr, kFuncSetTmpDH, ERR_R_BUF_LIB);
  if (!file.Bio()) return 0;
  if (AType != X509_FILETYPE_PEM || !PEM_read_bio_DHparams) {
    SSLerr(kFuncSetTmpDH, SSL_R_BAD_SSL_FILETYPE);
    return 0;
  }
  DH* dh = PEM_read_bio_DHparams(file.Bio(), nullptr, SSLPasswordCallback, &ACtx);
  if (!dh) {
    SSLerr(kFuncSetTmpDH, ERR_R_PEM_LIB);
    return 0;
  }
  const int r = static_cast<int>(SSL_CTX_set_tmp_dh(ACtx.Context(), dh));
  DH_free(dh);
  return r;
}

int CompareNames(const void* A, const void* B) {
  return X509_NAME_cmp(*static_cast<X509_NAME* const*>(A), *static_cast<X509_NAME* const*>(B));
}

// ---- Library callbacks ---------------------------------------------------------------------

void SSLInfoCallback(const SSL* ssl, int where, int ret) {
  try {
    TCallbackScope scope(SSLInfoCallbackLock());
    auto* socket = static_cast<TIdSSLSocket*>(SSL_get_app_data(ssl));
    if (socket && socket->Parent()) {
      const String text = Format(RSOSSLStatusString, {Text8Bit(SSL_state_string_long(ssl))});
      socket->Parent()->ReportStatus(ssl, where, ret, text);
    }
  } catch (...) {
  }
}

int SSLVerifyCallback(int preverify_ok, X509_STORE_CTX* store_ctx) {
  try {
    TCallbackScope scope(SSLVerifyCallbackLock());
    SSL* ssl = nullptr;
    if (SSLLoadedAPIVersion() == 0)
      ssl = static_cast<SSL*>(X509_STORE_CTX_get_app_data(store_ctx));
    else
      ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store_ctx, SSL_get_ex_data_X509_STORE_CTX_idx()));
    if (!ssl) return preverify_ok;
    TIdX509 certificate(X509_STORE_CTX_get_current_cert(store_ctx), false);
    auto* socket = static_cast<TIdSSLSocket*>(SSL_get_app_data(ssl));
    const int error = X509_STORE_CTX_get_error(store_ctx);
    const int depth = X509_STORE_CTX_get_error_depth(store_ctx);
    const int limit = socket && socket->SSLContext() ? socket->SSLContext()->VerifyDepth() : 0;
    const bool ok = preverify_ok > 0 && depth <= limit;
    if (socket && socket->Parent()) return socket->Parent()->ApprovePeer(&certificate, ok, depth, error) ? 1 : 0;
    return 1;
  } catch (...) {
    return 0;
  }
}

int SSLALPNSelectCallback(SSL* ssl, const unsigned char** out, unsigned char* outlen, const unsigned char* in,
                          unsigned int inlen, void*) {
  *outlen = 0;
  int result = SSL_TLSEXT_ERR_NOACK;
  try {
    auto* socket = static_cast<TIdSSLSocket*>(SSL_get_app_data(ssl));
    if (!socket || inlen == 0) return result;
    TStringList offers;
    for (unsigned int i = 0; i < inlen;) {
      const unsigned int n = in[i++];
      if (n == 0 || i + n > inlen) break;
      String p;
      for (unsigned int k = 0; k < n; ++k) p += static_cast<char16_t>(in[i + k]);
      offers.Add(p);
      i += n;
    }
    String protocol;
    if (socket->OnALPNSelect) socket->OnALPNSelect(socket, &offers, protocol);
    if (offers.Count() > 0) {
      std::string chosen = Bytes8Bit(protocol);
      if (chosen.size() > 255) chosen.resize(255);
      *outlen = static_cast<unsigned char>(chosen.size());
      if (!chosen.empty()) {
        socket->SetALPNProtocol(chosen);
        *out = reinterpret_cast<const unsigned char*>(socket->ALPNProtocol().data());
        result = SSL_TLSEXT_ERR_OK;
      }
    }
  } catch (...) {
    *outlen = 0;
    result = SSL_TLSEXT_ERR_NOACK;
  }
  return result;
}

// A failed handshake: the session's error as the handshake's own class (the queue's
// text for a protocol error, such as a certificate that does not verify).
template <class E>
[[noreturn]] void RaiseHandshakeError(SSL* ASSL, int ARetCode, const String& AMsg) {
  const int error = SSL_get_error(ASSL, ARetCode);
  if (error == SSL_ERROR_SSL) {
    const uint32_t code = ERR_get_error ? static_cast<uint32_t>(ERR_get_error()) : 0;
    throw E(AMsg + u"\r\n" + SSLErrorCodeText(code), error, ARetCode);
  }
  E::RaiseExceptionCode(error, ARetCode, AMsg);
}

}  // namespace

// userdata is the TIdSSLContext. The password goes out as UTF-8, cut to the buffer
// with a zero in its last byte; the length returned is what the buffer holds, so that
// the library never reads past it.
int SSLPasswordCallback(char* buf, int size, int rwflag, void* userdata) {
  if (!buf || size <= 0) return 0;
  try {
    TCallbackScope scope(SSLPasswordCallbackLock());
    auto* ctx = static_cast<TIdSSLContext*>(userdata);
    String password;
    if (ctx && ctx->Parent()) password = ctx->Parent()->AskPassword(rwflag > 0);
    std::memset(buf, 0, static_cast<size_t>(size));
    const std::string encoded = ToUtf8(password);
    const size_t n = std::min(encoded.size(), static_cast<size_t>(size));
    std::memcpy(buf, encoded.data(), n);
    buf[size - 1] = 0;
    return static_cast<int>(std::min(encoded.size(), static_cast<size_t>(size - 1)));
  } catch (...) {
    std::memset(buf, 0, static_cast<size_t>(size));
    return 0;
  }
}

// ---- Options -------------------------------------------------------------------------------------

void TIdSSLOptions::SetMethod(TIdSSLVersion AValue) {
  fMethod = AValue;
  fSSLVersions = AValue == sslvSSLv23 ? kAllSSLVersions : TIdSSLVersions{AValue};
}

void TIdSSLOptions::SetSSLVersions(TIdSSLVersions AValue) {
  fSSLVersions = AValue;
  int count = 0;
  TIdSSLVersion single = sslvSSLv23;
  for (TIdSSLVersion v : {sslvSSLv2, sslvSSLv3, sslvTLSv1, sslvTLSv1_1, sslvTLSv1_2, sslvTLSv1_3})
    if (AValue.Contains(v)) {
      ++count;
      single = v;
    }
  if (count == 1 && !AValue.Contains(sslvSSLv23)) {
    fMethod = single;
    return;
  }
  fMethod = sslvSSLv23;
  if (fSSLVersions.Contains(sslvSSLv23)) {
    fSSLVersions.Exclude(sslvSSLv23);
    if (fSSLVersions.Empty()) fSSLVersions = kAllSSLVersions;
  }
}

void TIdSSLOptions::Assign(const TPersistent* ASource) {
  const auto* source = dynamic_cast<const TIdSSLOptions*>(ASource);
  if (!source) {
    TPersistent::Assign(ASource);
    return;
  }
  fsRootCertFile = source->fsRootCertFile;
  fsCertFile = source->fsCertFile;
  fsKeyFile = source->fsKeyFile;
  fsDHParamsFile = source->fsDHParamsFile;
  SetMethod(source->fMethod);
  SetSSLVersions(source->fSSLVersions);
  fMode = source->fMode;
  fVerifyMode = source->fVerifyMode;
  fVerifyDepth = source->fVerifyDepth;
  fVerifyDirs = source->fVerifyDirs;
  fCipherList = source->fCipherList;
}

// ---- Context -------------------------------------------------------------------------------------

TIdSSLContext::TIdSSLContext() {
  if (!OpenSSLStartup()) {
    String msg = RSOSSLCouldNotLoadSSLLibrary;
    const String failures = GetSSLLoadFailures();
    if (!failures.empty()) {
      msg += u"\r\n***PATH*** " + GetSSLLibPath();
      msg += u"\r\n***VERSION*** " + GetSSLLibVersionText();
      msg += u"\r\n***METHODS*** " + failures;
    }
    EIdOSSLCouldNotLoadSSLLibrary::Toss(msg);
  }
}

TIdSSLContext::~TIdSSLContext() {
  FALPNProtocols.reset();
  FreeContext();
}

void TIdSSLContext::FreeContext() {
  if (fContext && SSL_CTX_free) SSL_CTX_free(fContext);
  fContext = nullptr;
}

TStrings* TIdSSLContext::ALPNProtocols() {
  if (!FALPNProtocols) FALPNProtocols = std::make_unique<TStringList>();
  return FALPNProtocols.get();
}

std::unique_ptr<TIdSSLContext> TIdSSLContext::Clone() const {
  auto c = std::make_unique<TIdSSLContext>();
  c->fStatusInfoOn = fStatusInfoOn;
  c->fVerifyOn = fVerifyOn;
  c->fMethod = fMethod;
  c->fSSLVersions = fSSLVersions;
  c->fMode = fMode;
  c->fsRootCertFile = fsRootCertFile;
  c->fsCertFile = fsCertFile;
  c->fsKeyFile = fsKeyFile;
  c->fVerifyMode = fVerifyMode;
  c->fVerifyDepth = fVerifyDepth;
  return c;
}

void TIdSSLContext::ChooseMethod(const SSL_METHOD*& AMethod) {
  if (fMode == sslmUnassigned) EIdOSSLModeNotSet::Toss(RSOSSLModeNotSet);
  TIdSSLVersion method = fMethod;
  const bool generation1x = IsOpenSSL_1x_OrLater();
  if (generation1x && (method == sslvSSLv2 || method == sslvSSLv3)) method = sslvTLSv1_2;
  // Several versions: from the 1.1 API on only the version-flexible method lets the
  // protocol bounds below choose among them (a version's own method fixes it).
  if (generation1x && method == sslvSSLv23) method = TLS_method ? sslvTLSv1_3 : sslvTLSv1_2;
  const int role = fMode == sslmServer ? 0 : fMode == sslmClient ? 1 : 2;
  auto pick = [role](TSSLMethodFunc AServer, TSSLMethodFunc AClient, TSSLMethodFunc AGeneral) {
    return role == 0 ? AServer : role == 1 ? AClient : AGeneral;
  };
  TSSLMethodFunc tls1 = pick(TLSv1_server_method, TLSv1_client_method, TLSv1_method);
  TSSLMethodFunc f = nullptr;
  switch (method) {
    case sslvSSLv2: f = pick(SSLv2_server_method, SSLv2_client_method, SSLv2_method); break;
    case sslvSSLv23: f = pick(SSLv23_server_method, SSLv23_client_method, SSLv23_method); break;
    case sslvSSLv3: f = pick(SSLv3_server_method, SSLv3_client_method, SSLv3_method); break;
    case sslvTLSv1: f = tls1; break;
    case sslvTLSv1_1: f = pick(TLSv1_1_server_method, TLSv1_1_client_method, TLSv1_1_method); break;
    case sslvTLSv1_2: f = pick(TLSv1_2_server_method, TLSv1_2_client_method, TLSv1_2_method); break;
    case sslvTLSv1_3: f = TLS_method; break;
  }
  if (!f && method >= sslvTLSv1_1) f = tls1;
  AMethod = f ? f() : nullptr;
  if (!AMethod) EIdOSSLGetMethodError::Toss(RSOSSLGetMethodError);
}

void TIdSSLContext::ApplyProtocolSwitches() {
  const struct {
    bool Available;
    TIdSSLVersion Version;
    long Option;
  } switches[] = {
      {IsOpenSSL_SSLv2_Available(), sslvSSLv2, SSL_OP_NO_SSLv2},
      {IsOpenSSL_SSLv3_Available(), sslvSSLv3, SSL_OP_NO_SSLv3},
      {IsOpenSSL_TLSv1_0_Available(), sslvTLSv1, SSL_OP_NO_TLSv1},
      {IsOpenSSL_TLSv1_1_Available(), sslvTLSv1_1, SSL_OP_NO_TLSv1_1},
      {IsOpenSSL_TLSv1_2_Available(), sslvTLSv1_2, SSL_OP_NO_TLSv1_2},
      {IsOpenSSL_1x_OrLater(), sslvTLSv1_3, SSL_OP_NO_TLSv1_3},
  };
  for (const auto& s : switches) {
    if (!s.Available) continue;
    if (!fSSLVersions.Contains(s.Version))
      SSL_CTX_set_options(fContext, s.Option);
    else if (fMethod == sslvSSLv23)
      SSL_CTX_clear_options(fContext, s.Option);
  }
  if (IsOpenSSL_1x_OrLater()) {
    long minimum = TLS1_VERSION;
    if (fSSLVersions.Contains(sslvTLSv1_3) || fSSLVersions.Contains(sslvTLSv1_2))
      minimum = TLS1_2_VERSION;
    else if (fSSLVersions.Contains(sslvTLSv1_1))
      minimum = TLS1_1_VERSION;
    SSL_CTX_set_min_proto_version(fContext, minimum);
    SSL_CTX_set_max_proto_version(fContext, SSLLibraryVersion() >= 0x1010100FU ? TLS1_3_VERSION : TLS1_2_VERSION);
  }
}

void TIdSSLContext::LoadFiles() {
  if ((!fsRootCertFile.empty() || !fVerifyDirs.empty()) && !LoadRootCert())
    EIdOSSLLoadingRootCertError::RaiseException(RSOSSLLoadingRootCertError);
  if (!fsCertFile.empty() && !LoadCert()) EIdOSSLLoadingCertError::RaiseException(RSOSSLLoadingCertError);
  if (!fsKeyFile.empty() && !LoadKey()) EIdOSSLLoadingKeyError::RaiseException(RSOSSLLoadingKeyError);
  if (!fsDHParamsFile.empty() && !LoadDHParams())
    EIdOSSLLoadingDHParamsError::RaiseException(RSOSSLLoadingDHParamsError);
}

void TIdSSLContext::SetUpContext(TIdSSLCtxMode ACtxMode) {
  FreeContext();
  fCtxMode = ACtxMode;
  if (fMode == sslmUnassigned) fMode = ACtxMode == sslCtxServer ? sslmServer : sslmClient;
  const SSL_METHOD* method = nullptr;
  ChooseMethod(method);
  fContext = SSL_CTX_new(method);
  if (!fContext) EIdOSSLCreatingContextError::RaiseException(RSOSSLCreatingContextError);
  ApplyProtocolSwitches();
  SSL_CTX_set_mode(fContext, SSL_MODE_AUTO_RETRY);
  SSL_CTX_set_default_passwd_cb(fContext, SSLPasswordCallback);
  SSL_CTX_set_default_passwd_cb_userdata(fContext, this);
  SSL_CTX_set_default_verify_paths(fContext);
  LoadFiles();
  if (fStatusInfoOn && SSL_CTX_set_info_callback) SSL_CTX_set_info_callback(fContext, SSLInfoCallback);
  if (!fCipherList.empty() && SSL_CTX_set_cipher_list(fContext, ToUtf8(fCipherList).c_str()) < 1)
    EIdOSSLSettingCipherError::Toss(RSOSSLSettingCipherError);
  if (!fVerifyMode.Empty()) ApplyVerifyMode();
  if (ACtxMode == sslCtxServer) {
    unsigned char id[4];
    std::memcpy(id, &fSessionId, sizeof id);
    SSL_CTX_set_session_id_context(fContext, id, sizeof id);
  }
  if (!fsRootCertFile.empty()) {
    if (OPENSSL_STACK* names = ReadClientCANames(fsRootCertFile)) SSL_CTX_set_client_CA_list(fContext, names);
  }
  if (ACtxMode == sslCtxClient)
    ApplyALPNProtocols();
  else if (SSL_CTX_set_alpn_select_cb)
    SSL_CTX_set_alpn_select_cb(fContext, SSLALPNSelectCallback, this);
}

void TIdSSLContext::ApplyVerifyMode() {
  int flags = 0;
  if (fVerifyMode.Contains(sslvrfPeer)) flags |= 1;
  if (fVerifyMode.Contains(sslvrfFailIfNoPeerCert)) flags |= 2;
  if (fVerifyMode.Contains(sslvrfClientOnce)) flags |= 4;
  SSL_CTX_set_verify(fContext, flags, fVerifyOn ? SSLVerifyCallback : nullptr);
  SSL_CTX_set_verify_depth(fContext, fVerifyDepth);
}

TIdBytes TIdSSLContext::ALPNWireList(const TStrings& AProtocols) {
  std::vector<std::string> names;
  size_t size = 0;
  for (int i = 0; i < AProtocols.Count(); ++i) {
    names.push_back(ToUtf8(AProtocols.Get(i)));
    size += names.back().size() + 1;
  }
  TIdBytes out(size, 0);
  size_t at = 0;
  for (const std::string& p : names) {
    if (p.empty() || p.size() > 255) continue;
    out[at++] = static_cast<uint8_t>(p.size());
    std::memcpy(out.data() + at, p.data(), std::min(p.size(), out.size() - at));
    at += p.size();
  }
  return out;
}

void TIdSSLContext::ApplyALPNProtocols() {
  if (!FALPNProtocols || FALPNProtocols->Count() == 0) return;
  const TIdBytes list = ALPNWireList(*FALPNProtocols);
  if (!SSL_CTX_set_alpn_protos ||
      SSL_CTX_set_alpn_protos(fContext, list.data(), static_cast<unsigned int>(list.size())) != 0)
    throw Exception(RSOSSLUpdatingALPNError);
}

bool TIdSSLContext::LoadRootCert() {
  return LoadStoreLocations(SSL_CTX_get_cert_store(fContext), fsRootCertFile, fVerifyDirs) > 0;
}

bool TIdSSLContext::LoadCert() {
  if (IsPKCS12File(fsCertFile)) return UsePKCS12Certificate(*this, fsCertFile) > 0;
  if (SSL_CTX_use_certificate_chain_file) return UseCertificateChainFile(*this, fsCertFile) > 0;
  return UseCertificateFile(*this, fsCertFile, X509_FILETYPE_PEM) > 0;
}

bool TIdSSLContext::LoadKey() {
  const int r = IsPKCS12File(fsKeyFile) ? UsePKCS12PrivateKey(*this, fsKeyFile)
                                         : UsePrivateKeyFile(*this, fsKeyFile, X509_FILETYPE_PEM);
  return r > 0 && SSL_CTX_check_private_key(fContext) > 0;
}

bool TIdSSLContext::LoadDHParams() { return UseDHParamsFile(*this, fsDHParamsFile, X509_FILETYPE_PEM) > 0; }

OPENSSL_STACK* ReadClientCANames(const String& AFileName) {
  OPENSSL_STACK* seen = sk_new(CompareNames);
  if (!seen) return nullptr;
  OPENSSL_STACK* result = nullptr;
  bool failed = false;
  {
    TFileBuffer file(AFileName, SSLerr, kFuncLoadClientCAFile, ERR_R_BUF_LIB);
    if (!file.Bio()) failed = true;
    while (!failed) {
      X509* cert = PEM_read_bio_X509(file.Bio(), nullptr, nullptr, nullptr);
      if (!cert) break;
      if (!result) {
        result = sk_new_null();
        if (!result) {
          SSLerr(kFuncLoadClientCAFile, ERR_R_MALLOC_FAILURE);
          X509_free(cert);
          failed = true;
          break;
        }
      }
      X509_NAME* subject = X509_get_subject_name(cert);
      X509_NAME* copy = subject ? X509_NAME_dup(subject) : nullptr;
      X509_free(cert);
      if (!copy) {
        failed = true;
        break;
      }
      if (sk_find(seen, copy) >= 0) {
        X509_NAME_free(copy);
      } else {
        sk_push(seen, copy);
        sk_push(result, copy);
      }
    }
  }
  sk_free(seen);  // the names belong to the result
  if (failed) {
    if (result) sk_pop_free(result, reinterpret_cast<TStackItemFree>(reinterpret_cast<void*>(X509_NAME_free)));
    return nullptr;
  }
  if (result) ERR_clear_error();
  return result;
}

// ---- Session -------------------------------------------------------------------------------------

TIdSSLSocket::TIdSSLSocket(TIdSSLIOHandlerSocketOpenSSL* Parent) : fParent(Parent) {}

TIdSSLSocket::~TIdSSLSocket() { FreeSession(); }

void TIdSSLSocket::FreeSession() {
  if (fSSL) {
    if (SSL_shutdown && (!FIO || FIOSSL_HandShake)) {
      if (ERR_clear_error) ERR_clear_error();
      TSigPipeGuard guard;
      SSL_shutdown(fSSL);
    }
    if (SSL_free) SSL_free(fSSL);
    fSSL = nullptr;
  }
  fSSLCipher.reset();
  fPeerCert.reset();
}

SSL* TIdSSLSocket::NewSession(TIdStackSocketHandle pHandle) {
  FreeSession();
  if (!fSSLContext || !fSSLContext->Context()) EIdOSSLCreatingSessionError::Toss(RSOSSLCreatingSessionError);
  fSSL = SSL_new(fSSLContext->Context());
  if (!fSSL) EIdOSSLCreatingSessionError::Toss(RSOSSLCreatingSessionError);
  int r = SSL_set_app_data(fSSL, this);
  if (r < 1) EIdOSSLDataBindingError::RaiseException(fSSL, r, RSOSSLDataBindingError);
  r = SSL_set_fd(fSSL, static_cast<int>(pHandle));
  if (r < 1) EIdOSSLFDSetError::RaiseException(fSSL, r, RSOSSLFDSetError);
  return fSSL;
}

void TIdSSLSocket::Connect(TIdStackSocketHandle pHandle) {
  TIdSSLIOHandlerSocketOpenSSL* owner = fParent ? fParent->OwnerIOHandler() : nullptr;
  NewSession(pHandle);
  if (owner && owner->SSLSocket() && owner->SSLSocket() != this && owner->SSLSocket()->SSLSession())
    SSL_copy_session_id(fSSL, owner->SSLSocket()->SSLSession());
  SSL_set_tlsext_host_name(fSSL, fHostName);
  // A verified certificate must also be the host's: without this check any valid
  // certificate of any host would be accepted.
  if (fSSLContext->VerifyMode().Contains(sslvrfPeer) && !fHostName.empty() && SSL_get0_param) {
    X509_VERIFY_PARAM* param = SSL_get0_param(fSSL);
    String host = fHostName;
    if (host.size() > 2 && host.front() == u'[' && host.back() == u']') host = host.substr(1, host.size() - 2);
    const std::string name = ToUtf8(host);
    if (TIdStack::IsIP(host) || !CanonicalIPv6Text(host).empty()) {
      if (X509_VERIFY_PARAM_set1_ip_asc) X509_VERIFY_PARAM_set1_ip_asc(param, name.c_str());
    } else if (X509_VERIFY_PARAM_set1_host) {
      X509_VERIFY_PARAM_set1_host(param, name.c_str(), name.size());
    }
  }
  ERR_clear_error();
  int r;
  int err;
  {
    TSigPipeGuard guard;
    r = SSL_connect(fSSL);
    err = errno;
  }
  if (r < 1) {
    NoteSocketError(err);
    RaiseHandshakeError<EIdOSSLConnectError>(fSSL, r, RSOSSLConnectError);
  }
  FIOSSL_HandShake = true;
  if (owner) {
    TIdSSLCipher* cipher = Cipher();
    owner->NotifyStatusInfo(u"Cipher: name = " + cipher->Name() + u"; description = " + cipher->Description() +
                            u"; bits = " + IntToStr(cipher->Bits()) + u"; version = " + cipher->Version() + u"; ");
  }
}

void TIdSSLSocket::Accept(TIdStackSocketHandle pHandle) {
  NewSession(pHandle);
  ERR_clear_error();
  int r;
  int err;
  {
    TSigPipeGuard guard;
    r = SSL_accept(fSSL);
    err = errno;
  }
  if (r < 1) {
    NoteSocketError(err);
    RaiseHandshakeError<EIdOSSLAcceptError>(fSSL, r, RSOSSLAcceptError);
  }
  FIOSSL_HandShake = true;
}

int TIdSSLSocket::Recv(TIdBytesSpan ABuffer) {
  if (!fSSL) return 0;
  for (;;) {
    ERR_clear_error();
    int r;
    int err;
    {
      TSigPipeGuard guard;
      r = SSL_read(fSSL, ABuffer.data(), static_cast<int>(ABuffer.size()));
      err = errno;
    }
    if (r > 0) return r;
    const int e = SSLErrorOf(r);
    if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) continue;
    if (e == SSL_ERROR_ZERO_RETURN) return 0;
    NoteSocketError(err);
    return r;
  }
}

int TIdSSLSocket::Send(const TIdBytes& ABuffer, int AOffset, int ALength) {
  if (!fSSL || ALength <= 0) return 0;
  int total = 0;
  for (;;) {
    ERR_clear_error();
    int r;
    int err;
    {
      TSigPipeGuard guard;
      r = SSL_write(fSSL, ABuffer.data() + AOffset, ALength);
      err = errno;
    }
    if (r <= 0) {
      const int e = SSLErrorOf(r);
      if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) continue;
      if (e == SSL_ERROR_ZERO_RETURN) return 0;
      NoteSocketError(err);
      return r;
    }
    ALength -= r;
    total += r;
    AOffset += r;
    if (ALength <= 0) return total;
  }
}

TIdX509* TIdSSLSocket::PeerCert() {
  // The library hands out a reference of its own, which the object releases.
  if (!fPeerCert && fSSL) {
    if (X509* x = SSL_get_peer_certificate(fSSL)) fPeerCert = std::make_unique<TIdX509>(x, true);
  }
  return fPeerCert.get();
}

TIdSSLCipher* TIdSSLSocket::Cipher() {
  if (!fSSLCipher && fSSL) fSSLCipher = std::make_unique<TIdSSLCipher>(this);
  return fSSLCipher.get();
}

TIdSSLByteArray TIdSSLSocket::GetSessionID() const {
  TIdSSLByteArray out;
  if (fSSL && SSL_get_session && SSL_SESSION_get_id) {
    if (SSL_SESSION* session = SSL_get_session(fSSL)) {
      unsigned int length = 0;
      out.Data = SSL_SESSION_get_id(session, &length);
      out.Length = static_cast<int32_t>(length);
    }
  }
  return out;
}

String TIdSSLSocket::GetSessionIDAsString() const {
  const TIdSSLByteArray id = GetSessionID();
  return id.Data ? HexText(id.Data, static_cast<size_t>(id.Length), false) : String();
}

// ---- Handler -------------------------------------------------------------------------------------

namespace {
// Registered when the library starts, so that an engine asking the registry for a TLS
// handler gets this one.
const bool GOpenSSLHandlerRegistered = [] {
  const TIdIOHandlerClass handler = TIdIOHandlerClass::Of<TIdSSLIOHandlerSocketOpenSSL>();
  TIdIOHandler::RegisterIOHandler(handler);
  TIdSSLRegistry::Add({u"OpenSSL", u"The OpenSSL Project", u"Apache License 2.0",
                       u"TLS client and server sessions through the OpenSSL libraries, loaded at run time",
                       u"https://www.openssl.org/", handler, handler});
  return true;
}();
}  // namespace

bool OpenSSLIOHandlerRegistered() { return GOpenSSLHandlerRegistered; }

TIdSSLIOHandlerSocketOpenSSL::TIdSSLIOHandlerSocketOpenSSL(TComponent* AOwner)
    : TIdSSLIOHandlerSocketBase(AOwner), fxSSLOptions(std::make_unique<TIdSSLOptions_Internal>(this)) {
  (void)GOpenSSLHandlerRegistered;
  SetIsPeer(false);
}

TIdSSLIOHandlerSocketOpenSSL::~TIdSSLIOHandlerSocketOpenSSL() {
  FreeSession();
  FreeContext();
}

TStrings* TIdSSLIOHandlerSocketOpenSSL::ALPNProtocols() {
  if (!FALPNProtocols) FALPNProtocols = std::make_unique<TStringList>();
  return FALPNProtocols.get();
}

void TIdSSLIOHandlerSocketOpenSSL::FreeSession() { fSSLSocket.reset(); }

void TIdSSLIOHandlerSocketOpenSSL::FreeContext() {
  if (fSSLContext && fSSLContext->Parent() == this) FOwnedContext.reset();
  fSSLContext = nullptr;
}

void TIdSSLIOHandlerSocketOpenSSL::EnsureContext(TIdSSLCtxMode ACtxMode) {
  if (fSSLContext) return;
  auto ctx = std::make_unique<TIdSSLContext>();
  ctx->SetParent(this);
  const TIdSSLOptions& o = *fxSSLOptions;
  ctx->SetRootCertFile(o.RootCertFile());
  ctx->SetCertFile(o.CertFile());
  ctx->SetKeyFile(o.KeyFile());
  ctx->SetDHParamsFile(o.DHParamsFile());
  ctx->SetVerifyDepth(o.VerifyDepth());
  ctx->SetVerifyMode(o.VerifyMode());
  ctx->SetVerifyDirs(o.VerifyDirs());
  ctx->SetCipherList(o.CipherList());
  ctx->SetVerifyOn(static_cast<bool>(OnVerifyPeer));
  ctx->SetStatusInfoOn(static_cast<bool>(OnStatusInfo) || static_cast<bool>(OnStatusInfoEx));
  ctx->SetMethod(o.Method());
  ctx->SetSSLVersions(o.SSLVersions());
  ctx->SetMode(o.Mode());
  if (FALPNProtocols) ctx->ALPNProtocols()->Assign(FALPNProtocols.get());
  ctx->SetUpContext(ACtxMode);
  FOwnedContext = std::move(ctx);
  fSSLContext = FOwnedContext.get();
}

void TIdSSLIOHandlerSocketOpenSSL::SetSocketTimeouts(int32_t AMSec) {
  if (!BindingAllocated()) return;
  if (TIdStack* stack = GStack()) {
    stack->SetSocketOption(FBinding->Handle(), Id_SOL_SOCKET, Id_SO_RCVTIMEO, AMSec);
    stack->SetSocketOption(FBinding->Handle(), Id_SOL_SOCKET, Id_SO_SNDTIMEO, AMSec);
  }
}

void TIdSSLIOHandlerSocketOpenSSL::SetPassThrough(bool Value) {
  if (Value == PassThrough()) return;
  if (!Value) {
    if (BindingAllocated()) {
      if (!fSSLContext) EIdOSSLCouldNotLoadSSLLibrary::Toss(RSOSSLCouldNotLoadSSLLibrary);
      StartTLSSession();
    }
  } else if (fSSLSocket && fSSLSocket->SSLSession()) {
    SSL* ssl = fSSLSocket->SSLSession();
    ERR_clear_error();
    {
      TSigPipeGuard guard;
      if (SSL_shutdown(ssl) == 0) SSL_shutdown(ssl);
    }
    SetSocketTimeouts(0);
  }
  TIdSSLIOHandlerSocketBase::SetPassThrough(Value);
}

void TIdSSLIOHandlerSocketOpenSSL::ConnectClientSocket() {
  try {
    EnsureContext(sslCtxClient);
  } catch (const EIdOSSLCouldNotLoadSSLLibrary&) {
    if (!PassThrough()) throw;
  }
  const bool passThrough = PassThrough();
  TIdSSLIOHandlerSocketBase::SetPassThrough(true);
  try {
    TIdSSLIOHandlerSocketBase::ConnectClientSocket();
  } catch (...) {
    TIdSSLIOHandlerSocketBase::SetPassThrough(passThrough);
    throw;
  }
  TIdSSLIOHandlerSocketBase::SetPassThrough(passThrough);
  NotifyBeforeConnect();
  StartSSL();
}

void TIdSSLIOHandlerSocketOpenSSL::StartSSL() {
  if (!PassThrough()) StartTLSSession();
}

void TIdSSLIOHandlerSocketOpenSSL::StartTLSSession() {
  if (!BindingAllocated()) EIdNotConnected::Toss(RSNotConnected);
  if (fSSLSocket && fSSLSocket->SSLSession()) fSSLSocket.reset();  // a finished session: start anew
  if (!fSSLSocket) fSSLSocket = std::make_unique<TIdSSLSocket>(this);
  fSSLSocket->SetSSLContext(fSSLContext);
  fSSLSocket->OnALPNSelect = OnALPNSelect;
  // A blocked TLS read or write ends after the read time-out (30 s when none is set);
  // a read that times out there is retried, so an idle stream stays open.
  SetSocketTimeouts(ReadTimeout() < 1 ? kDefaultTLSTimeout : ReadTimeout());
  TIdSSLMode role = fSSLContext ? fSSLContext->Mode() : sslmUnassigned;
  if (role != sslmClient && role != sslmServer) role = IsPeer() ? sslmServer : sslmClient;
  if (role == sslmClient) {
    String host;
    if (!URIToCheck().empty()) {
      host = TIdURI(URIToCheck()).Host();
    } else if (TIdCustomTransparentProxy* proxy = ActiveProxy()) {
      for (TIdCustomTransparentProxy* p = proxy; p; p = p->ChainedProxy())
        if (p->Enabled()) host = p->Host();
    } else {
      host = Host();
    }
    fSSLSocket->SetHostName(host);
    fSSLSocket->Connect(FBinding->Handle());
  } else {
    fSSLSocket->SetHostName(String());
    fSSLSocket->Accept(FBinding->Handle());
  }
  TIdSSLIOHandlerSocketBase::SetPassThrough(false);
}

bool TIdSSLIOHandlerSocketOpenSSL::Readable(int AMSec) {
  if (!PassThrough()) {
    if (!fSSLSocket || !fSSLSocket->SSLSession()) return false;
    if (SSL_pending && SSL_pending(fSSLSocket->SSLSession()) > 0) return true;
  }
  return TIdSSLIOHandlerSocketBase::Readable(AMSec);
}

int TIdSSLIOHandlerSocketOpenSSL::RecvEncrypted(TIdBytesSpan VBuffer) {
  return fSSLSocket ? fSSLSocket->Recv(VBuffer) : 0;
}

int TIdSSLIOHandlerSocketOpenSSL::SendEncrypted(const TIdBytes& ABuffer, int AOffset, int ALength) {
  if (!fSSLSocket) EIdNotConnected::Toss(RSNotConnected);
  return fSSLSocket->Send(ABuffer, AOffset, ALength);
}

int TIdSSLIOHandlerSocketOpenSSL::TranslateIOError(int AResult) {
  if (!PassThrough() && fSSLSocket && fSSLSocket->SSLSession()) {
    const int e = fSSLSocket->SSLErrorOf(AResult);
    if (e == SSL_ERROR_NONE) return 0;
    if (e == SSL_ERROR_SYSCALL) return TIdSSLIOHandlerSocketBase::TranslateIOError(-1);
    EIdOpenSSLAPISSLError::RaiseExceptionCode(e, AResult, String());
  }
  return TIdSSLIOHandlerSocketBase::TranslateIOError(AResult);
}

void TIdSSLIOHandlerSocketOpenSSL::RaiseIOError(int AError) {
  if (!PassThrough() && AError != Id_WSAECONNABORTED && AError != Id_WSAECONNRESET && AError != Id_WSAESHUTDOWN &&
      fSSLSocket && fSSLSocket->SSLSession())
    EIdOpenSSLAPISSLError::RaiseException(fSSLSocket->SSLSession(), AError, String());
  TIdSSLIOHandlerSocketBase::RaiseIOError(AError);
}

void TIdSSLIOHandlerSocketOpenSSL::Open() { TIdSSLIOHandlerSocketBase::Open(); }

void TIdSSLIOHandlerSocketOpenSSL::Close() {
  FreeSession();
  FreeContext();
  TIdSSLIOHandlerSocketBase::Close();
}

void TIdSSLIOHandlerSocketOpenSSL::AfterAccept() {
  try {
    TIdSSLIOHandlerSocketBase::AfterAccept();
    SetIsPeer(true);
    try {
      EnsureContext(sslCtxServer);
    } catch (const EIdOSSLCouldNotLoadSSLLibrary&) {
      if (!PassThrough()) throw;
    }
    StartSSL();
  } catch (...) {
    try {
      Close();
    } catch (...) {
    }
    throw;
  }
}

void TIdSSLIOHandlerSocketOpenSSL::AcceptConnection(TIdStackSocketHandle AListener) {
  Open();
  FBinding->Accept(AListener);
  AfterAccept();
}

std::unique_ptr<TIdSSLIOHandlerSocketBase> TIdSSLIOHandlerSocketOpenSSL::Clone() {
  auto c = std::make_unique<TIdSSLIOHandlerSocketOpenSSL>();
  c->SSLOptions()->Assign(fxSSLOptions.get());
  c->OnStatusInfo = [this](const String& AMsg) { NotifyStatusInfo(AMsg); };
  c->OnGetPassword = [this](String& APassword) { QueryPassword(APassword); };
  c->OnVerifyPeer = [this](TIdX509* ACert, bool AOk, int32_t ADepth, int32_t AError) {
    return QueryVerifyPeer(ACert, AOk, ADepth, AError);
  };
  c->OnGetPasswordEx = OnGetPasswordEx;
  c->fSSLSocket = std::make_unique<TIdSSLSocket>(this);
  return c;
}

String TIdSSLIOHandlerSocketOpenSSL::GetALPNProtocol() const {
  if (!fSSLSocket || !fSSLSocket->SSLSession() || !SSL_get0_alpn_selected) return String();
  const unsigned char* data = nullptr;
  unsigned int length = 0;
  SSL_get0_alpn_selected(fSSLSocket->SSLSession(), &data, &length);
  String out;
  for (unsigned int i = 0; data && i < length; ++i) out += static_cast<char16_t>(data[i]);
  return out;
}

String TIdSSLIOHandlerSocketOpenSSL::GetSSLVersion() const {
  if (!fSSLSocket || !fSSLSocket->SSLSession() || !SSL_get_version) return String();
  return Text8Bit(SSL_get_version(fSSLSocket->SSLSession()));
}

String TIdSSLIOHandlerSocketOpenSSL::AskPassword(bool AIsWrite) {
  String password;
  QueryPasswordEx(password, AIsWrite);
  if (password.empty()) QueryPassword(password);
  return password;
}

void TIdSSLIOHandlerSocketOpenSSL::ReportStatus(const SSL* AsslSocket, int32_t AWhere, int32_t ARet,
                                                const String& AStatusStr) {
  NotifyStatusInfo(AStatusStr);
  if (!OnStatusInfoEx) return;
  const String state = Text8Bit(SSL_state_string_long(AsslSocket));
  const auto byResult = [ARet](const char16_t* AError, const char16_t* AFailed, const char16_t* AExit) {
    return String(ARet < 0 ? AError : ARet == 0 ? AFailed : AExit);
  };
  String type;
  String msg;
  switch (AWhere) {
    case 0x10: type = u"Handshake Start"; msg = state; break;
    case 0x20: type = u"Handshake Done"; msg = state; break;
    case 0x1001: type = u"Connect Loop"; msg = state; break;
    case 0x1002: type = byResult(u"Connect Error", u"Connect Failed", u"Connect Exit"); msg = state; break;
    case 0x2001: type = u"Accept Loop"; msg = state; break;
    case 0x2002: type = byResult(u"Accept Error", u"Accept Failed", u"Accept Exit"); msg = state; break;
    case 0x4000:
    case 0x4004:
    case 0x4008: {
      const String kind = Text8Bit(SSL_alert_type_string_long(ARet));
      type = kind + (AWhere == 0x4000 ? u" Alert" : AWhere == 0x4004 ? u" Read Alert" : u" Write Alert");
      msg = Text8Bit(SSL_alert_desc_string_long(ARet));
      break;
    }
    default: break;
  }
  OnStatusInfoEx(this, AsslSocket, AWhere, ARet, type, msg);
}

bool TIdSSLIOHandlerSocketOpenSSL::ApprovePeer(TIdX509* ACertificate, bool AOk, int32_t ADepth, int32_t AError) {
  return QueryVerifyPeer(ACertificate, AOk, ADepth, AError);
}

void TIdSSLIOHandlerSocketOpenSSL::NotifyBeforeConnect() {
  if (OnBeforeConnect) OnBeforeConnect(this);
}

void TIdSSLIOHandlerSocketOpenSSL::NotifyStatusInfo(const String& AMsg) {
  if (OnStatusInfo) OnStatusInfo(AMsg);
}

void TIdSSLIOHandlerSocketOpenSSL::QueryPassword(String& Password) {
  if (OnGetPassword) OnGetPassword(Password);
}

void TIdSSLIOHandlerSocketOpenSSL::QueryPasswordEx(String& VPassword, bool AIsWrite) {
  if (OnGetPasswordEx) OnGetPasswordEx(this, VPassword, AIsWrite);
}

bool TIdSSLIOHandlerSocketOpenSSL::QueryVerifyPeer(TIdX509* Certificate, bool AOk, int32_t ADepth, int32_t AError) {
  return OnVerifyPeer ? OnVerifyPeer(Certificate, AOk, ADepth, AError) : true;
}

// ---- Certificate information ---------------------------------------------------------------------

namespace {
// The 1.0 API's certificate records, read directly where that generation has no
// accessor: the certificate begins with its body, signature algorithm and signature;
// the body with version, serial number, signature algorithm, issuer and validity.
struct TX509Val0 {
  ASN1_TIME* notBefore;
  ASN1_TIME* notAfter;
};
struct TX509Cinf0 {
  ASN1_INTEGER* version;
  ASN1_INTEGER* serialNumber;
  X509_ALGOR* signature;
  X509_NAME* issuer;
  TX509Val0* validity;
};
struct TX5090 {
  TX509Cinf0* cert_info;
  X509_ALGOR* sig_alg;
  ASN1_BIT_STRING* signature;
};

const TX5090* Generation0(const X509* AX509) { return reinterpret_cast<const TX5090*>(AX509); }

TIdSSLEVP_MD Digest(X509* AX509, const EVP_MD* (*AMD)()) {
  TIdSSLEVP_MD out;
  if (!AX509 || !AMD || !X509_digest) return out;
  unsigned int length = 0;
  if (X509_digest(AX509, AMD(), out.MD.data(), &length) == 1) out.Length = static_cast<int32_t>(length);
  return out;
}

String DigestText(const TIdSSLEVP_MD& AMD) {
  return HexText(AMD.MD.data(), static_cast<size_t>(std::clamp(AMD.Length, 0, 64)), true);
}

// UTCTime (YYMMDDhhmmss, years 1950 to 2049) and GeneralizedTime (YYYYMMDDhhmmss),
// both in UTC, as local time.
TDateTime ASN1TimeToDateTime(const ASN1_TIME* ATime) {
  if (!ATime || !ATime->data) return 0;
  const std::string text(reinterpret_cast<const char*>(ATime->data), static_cast<size_t>(std::max(ATime->length, 0)));
  const bool fourDigitYear = ATime->type == 24 || (text.size() >= 14 && text.find_first_not_of("0123456789") >= 14);
  const size_t yearDigits = fourDigitYear ? 4 : 2;
  if (text.size() < yearDigits + 10) return 0;
  for (size_t i = 0; i < yearDigits + 10; ++i)
    if (text[i] < '0' || text[i] > '9') return 0;
  auto num = [&](size_t AAt, size_t ACount) { return std::stoi(text.substr(AAt, ACount)); };
  int year = num(0, yearDigits);
  if (!fourDigitYear) year += year < 50 ? 2000 : 1900;
  const size_t at = yearDigits;
  TDateTime date = 0;
  TDateTime time = 0;
  if (!TryEncodeDate(year, num(at, 2), num(at + 2, 2), date) ||
      !TryEncodeTime(num(at + 4, 2), num(at + 6, 2), num(at + 8, 2), 0, time))
    return 0;
  return UTCToLocalTime(ComposeDateTime(date, time));
}
}  // namespace

String TIdX509Name::OneLine() const {
  if (!fX509Name || !X509_NAME_oneline) return String();
  char buffer[2049] = {};
  X509_NAME_oneline(fX509Name, buffer, sizeof buffer);
  return Text8Bit(buffer);
}

TIdSSLULong TIdX509Name::Hash() const {
  TIdSSLULong out;
  out.L = static_cast<uint32_t>(X509NameHash(fX509Name));
  return out;
}

String TIdX509Name::HashAsString() const {
  const uint32_t h = Hash().L;
  const uint8_t bytes[4] = {uint8_t(h >> 24), uint8_t(h >> 16), uint8_t(h >> 8), uint8_t(h)};
  return HexText(bytes, 4, false);
}

TIdSSLEVP_MD TIdX509Fingerprints::MD5() const { return Digest(FX509, EVP_md5); }
String TIdX509Fingerprints::MD5AsString() const { return DigestText(MD5()); }
TIdSSLEVP_MD TIdX509Fingerprints::SHA1() const { return Digest(FX509, EVP_sha1); }
String TIdX509Fingerprints::SHA1AsString() const { return DigestText(SHA1()); }
TIdSSLEVP_MD TIdX509Fingerprints::SHA224() const { return Digest(FX509, EVP_sha224); }
String TIdX509Fingerprints::SHA224AsString() const { return DigestText(SHA224()); }
TIdSSLEVP_MD TIdX509Fingerprints::SHA256() const { return Digest(FX509, EVP_sha256); }
String TIdX509Fingerprints::SHA256AsString() const { return DigestText(SHA256()); }
TIdSSLEVP_MD TIdX509Fingerprints::SHA384() const { return Digest(FX509, EVP_sha384); }
String TIdX509Fingerprints::SHA384AsString() const { return DigestText(SHA384()); }
TIdSSLEVP_MD TIdX509Fingerprints::SHA512() const { return Digest(FX509, EVP_sha512); }
String TIdX509Fingerprints::SHA512AsString() const { return DigestText(SHA512()); }

namespace {
void SignatureParts(const X509* AX509, const ASN1_BIT_STRING*& VSignature, const X509_ALGOR*& VAlgorithm) {
  VSignature = nullptr;
  VAlgorithm = nullptr;
  if (!AX509) return;
  if (X509_get0_signature) {
    X509_get0_signature(&VSignature, &VAlgorithm, AX509);
  } else if (SSLLoadedAPIVersion() == 0) {
    VSignature = Generation0(AX509)->signature;
    VAlgorithm = Generation0(AX509)->sig_alg;
  }
}
}  // namespace

String TIdX509SigInfo::Signature() const {
  const ASN1_BIT_STRING* signature;
  const X509_ALGOR* algorithm;
  SignatureParts(FX509, signature, algorithm);
  if (!signature || !signature->data) return String();
  return HexText(signature->data, static_cast<size_t>(std::max(signature->length, 0)), true);
}

// The algorithm's own number: mapping it through EVP_PKEY_type, which knows key types
// only, would give "undefined" for every signature algorithm.
int32_t TIdX509SigInfo::SigType() const {
  const ASN1_BIT_STRING* signature;
  const X509_ALGOR* algorithm;
  SignatureParts(FX509, signature, algorithm);
  return algorithm && OBJ_obj2nid ? OBJ_obj2nid(algorithm->algorithm) : 0;
}

String TIdX509SigInfo::SigTypeAsString() const { return OBJ_nid2ln ? Text8Bit(OBJ_nid2ln(SigType())) : String(); }

TIdX509::TIdX509(X509* aX509, bool aCanFreeX509)
    : FFingerprints(std::make_unique<TIdX509Fingerprints>(aX509)),
      FSigInfo(std::make_unique<TIdX509SigInfo>(aX509)),
      FCanFreeX509(aCanFreeX509),
      FX509(aX509) {}

TIdX509::~TIdX509() {
  if (FCanFreeX509 && FX509 && X509_free) X509_free(FX509);
}

int32_t TIdX509::Version() const {
  if (!FX509) return 0;
  if (X509_get_version) return static_cast<int32_t>(X509_get_version(FX509));
  auto get = reinterpret_cast<long (*)(const ASN1_INTEGER*)>(GetSSLEntry("ASN1_INTEGER_get"));
  const TX509Cinf0* info = Generation0(FX509)->cert_info;
  return info && info->version && get ? static_cast<int32_t>(get(info->version)) : 0;
}

TIdX509Name* TIdX509::Subject() {
  if (!FSubject) FSubject = std::make_unique<TIdX509Name>(FX509 ? X509_get_subject_name(FX509) : nullptr);
  return FSubject.get();
}

TIdX509Name* TIdX509::Issuer() {
  if (!FIssuer) FIssuer = std::make_unique<TIdX509Name>(FX509 ? X509_get_issuer_name(FX509) : nullptr);
  return FIssuer.get();
}

TDateTime TIdX509::notBefore() const {
  if (!FX509) return 0;
  if (X509_get0_notBefore) return ASN1TimeToDateTime(X509_get0_notBefore(FX509));
  const TX509Cinf0* info = Generation0(FX509)->cert_info;
  return info && info->validity ? ASN1TimeToDateTime(info->validity->notBefore) : 0;
}

TDateTime TIdX509::notAfter() const {
  if (!FX509) return 0;
  if (X509_get0_notAfter) return ASN1TimeToDateTime(X509_get0_notAfter(FX509));
  const TX509Cinf0* info = Generation0(FX509)->cert_info;
  return info && info->validity ? ASN1TimeToDateTime(info->validity->notAfter) : 0;
}

String TIdX509::SerialNumber() const {
  if (!FX509) return String();
  const ASN1_INTEGER* serial = X509_get_serialNumber(FX509);
  if (!serial || !serial->data) return String();
  return HexText(serial->data, static_cast<size_t>(std::max(serial->length, 0)), true);
}

TStrings* TIdX509::DisplayInfo() {
  if (!FDisplayInfo) {
    FDisplayInfo = std::make_unique<TStringList>();
    if (FX509 && X509_print) {
      if (BIO* bio = BIO_new(BIO_s_mem())) {
        X509_print(bio, FX509);
        char* data = nullptr;
        const long length = BIO_get_mem_data(bio, &data);
        const String text = data && length > 0 ? FromUtf8(std::string_view(data, static_cast<size_t>(length))) : String();
        size_t start = 0;
        while (start < text.size()) {
          size_t end = text.find(u'\n', start);
          if (end == String::npos) end = text.size();
          String line = text.substr(start, end - start);
          if (!line.empty() && line.back() == u'\r') line.pop_back();
          FDisplayInfo->Add(line);
          start = end + 1;
        }
        BIO_free(bio);
      }
    }
  }
  return FDisplayInfo.get();
}

const SSL_CIPHER* TIdSSLCipher::Current() const {
  return fSSLSocket && fSSLSocket->SSLSession() ? SSL_get_current_cipher(fSSLSocket->SSLSession()) : nullptr;
}

String TIdSSLCipher::Description() const {
  const SSL_CIPHER* c = Current();
  if (!c) return String();
  char buffer[1024] = {};
  SSL_CIPHER_description(c, buffer, sizeof buffer);
  return Text8Bit(buffer);
}

String TIdSSLCipher::Name() const {
  const SSL_CIPHER* c = Current();
  return c ? Text8Bit(SSL_CIPHER_get_name(c)) : String();
}

int32_t TIdSSLCipher::Bits() const {
  const SSL_CIPHER* c = Current();
  int bits = 0;
  if (c) SSL_CIPHER_get_bits(c, &bits);
  return bits;
}

String TIdSSLCipher::Version() const {
  const SSL_CIPHER* c = Current();
  return c ? Text8Bit(SSL_CIPHER_get_version(c)) : String();
}

}  // namespace vyn
