// The run-time binding to the OpenSSL libraries. Nothing links OpenSSL: the crypto and
// ssl library files of one API generation are loaded with the platform's library
// loader, every function the library may call is resolved by its exported name into
// the process-wide table below, and the libraries are started once per process.
//
// Generations (OpenSSLAPIVersion): 0 is the 1.0 API (libcrypto.so.1.0.0,
// libssl.so.1.0.0), 1 the 1.1 API (libcrypto.so.1.1, libssl.so.1.1), 2 the 3.x API
// (libcrypto.so.3, libssl.so.3); the ssl library is also tried as libssl.so. The
// values are those of TwsOpenSSLAPI.
//
// The library's types are opaque here; the few records whose leading members are part
// of the library's public interface are declared with those members only. No OpenSSL
// header is included anywhere.
//
// Threads: OpenSSLStartup is serialised and may be called from any thread. The table
// is written only by start-up and shutdown and read without locks afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "vynDynLibs.h"
#include "vynIdException.h"

namespace vyn {

// ---- Library types ------------------------------------------------------------------------
struct SSL_CTX;
struct SSL;
struct SSL_METHOD;
struct SSL_CIPHER;
struct SSL_SESSION;
struct X509;
struct X509_NAME;
struct X509_STORE;
struct X509_STORE_CTX;
struct X509_CRL;
struct X509_VERIFY_PARAM;
struct X509_LOOKUP;
struct X509_LOOKUP_METHOD;
struct EVP_PKEY;
struct EVP_MD;
struct BIO;
struct BIO_METHOD;
struct DH;
struct PKCS12;
struct OPENSSL_STACK;
struct ASN1_OBJECT;
// The library's byte string (integers, times, bit strings): a public record in every
// generation.
struct ASN1_STRING {
  int length;
  int type;
  unsigned char* data;
  long flags;
};
using ASN1_INTEGER = ASN1_STRING;
using ASN1_TIME = ASN1_STRING;
using ASN1_BIT_STRING = ASN1_STRING;
// Leading members of the library's algorithm identifier and PEM item records.
struct X509_ALGOR {
  ASN1_OBJECT* algorithm;
  void* parameter;
};
struct X509_INFO {
  X509* x509;
  X509_CRL* crl;
};

using TPemPasswordCallback = int (*)(char* buf, int size, int rwflag, void* userdata);
using TSSLVerifyCallback = int (*)(int preverify_ok, X509_STORE_CTX* store_ctx);
using TSSLInfoCallback = void (*)(const SSL* ssl, int where, int ret);
using TSSLALPNSelectCallback = int (*)(SSL* ssl, const unsigned char** out, unsigned char* outlen,
                                       const unsigned char* in, unsigned int inlen, void* arg);
using TSSLLockingCallback = void (*)(int mode, int n, const char* file, int line);
using TStackCompare = int (*)(const void* a, const void* b);
using TStackItemFree = void (*)(void* item);
using Ti2d_of_void = int(const void*, unsigned char**);
using Td2i_of_void = void*(void**, const unsigned char**, long);
using TSSLMethodFunc = const SSL_METHOD* (*)();
using TX509LookupCtrl = int (*)(X509_LOOKUP* ctx, int cmd, const char* argc, long argl, char** ret);

// ---- The entry points the library calls ---------------------------------------------------
// Null while the libraries are not loaded or when the name was not found (optional
// entries). The stack entries are looked up with the generation's prefix
// ("OPENSSL_sk_num" from generation 1 on).
#define VYN_SSL_ENTRIES(X)                                                                      \
  /* contexts and sessions */                                                                   \
  X(SSL_CTX*, SSL_CTX_new, (const SSL_METHOD*))                                                 \
  X(void, SSL_CTX_free, (SSL_CTX*))                                                             \
  X(long, SSL_CTX_ctrl, (SSL_CTX*, int, long, void*))                                           \
  X(long, SSL_ctrl, (SSL*, int, long, void*))                                                   \
  X(int, SSL_CTX_set_cipher_list, (SSL_CTX*, const char*))                                      \
  X(void, SSL_CTX_set_verify, (SSL_CTX*, int, TSSLVerifyCallback))                              \
  X(void, SSL_CTX_set_verify_depth, (SSL_CTX*, int))                                            \
  X(void, SSL_CTX_set_default_passwd_cb, (SSL_CTX*, TPemPasswordCallback))                      \
  X(void, SSL_CTX_set_default_passwd_cb_userdata, (SSL_CTX*, void*))                            \
  X(int, SSL_CTX_check_private_key, (const SSL_CTX*))                                           \
  X(int, SSL_CTX_use_certificate, (SSL_CTX*, X509*))                                            \
  X(int, SSL_CTX_use_PrivateKey, (SSL_CTX*, EVP_PKEY*))                                         \
  X(int, SSL_CTX_use_certificate_chain_file, (SSL_CTX*, const char*))                           \
  X(X509_STORE*, SSL_CTX_get_cert_store, (const SSL_CTX*))                                      \
  X(int, SSL_CTX_set_default_verify_paths, (SSL_CTX*))                                          \
  X(int, SSL_CTX_set_session_id_context, (SSL_CTX*, const unsigned char*, unsigned int))        \
  X(void, SSL_CTX_set_client_CA_list, (SSL_CTX*, OPENSSL_STACK*))                               \
  X(int, SSL_CTX_set_alpn_protos, (SSL_CTX*, const unsigned char*, unsigned int))               \
  X(void, SSL_CTX_set_alpn_select_cb, (SSL_CTX*, TSSLALPNSelectCallback, void*))                \
  X(void, SSL_CTX_set_info_callback, (SSL_CTX*, TSSLInfoCallback))                              \
  X(SSL*, SSL_new, (SSL_CTX*))                                                                  \
  X(void, SSL_free, (SSL*))                                                                     \
  X(int, SSL_set_fd, (SSL*, int))                                                               \
  X(int, SSL_set_ex_data, (SSL*, int, void*))                                                   \
  X(void*, SSL_get_ex_data, (const SSL*, int))                                                  \
  X(int, SSL_copy_session_id, (SSL*, const SSL*))                                               \
  X(int, SSL_connect, (SSL*))                                                                   \
  X(int, SSL_accept, (SSL*))                                                                    \
  X(int, SSL_read, (SSL*, void*, int))                                                          \
  X(int, SSL_write, (SSL*, const void*, int))                                                   \
  X(int, SSL_pending, (const SSL*))                                                             \
  X(int, SSL_get_error, (const SSL*, int))                                                      \
  X(int, SSL_shutdown, (SSL*))                                                                  \
  X(const char*, SSL_get_version, (const SSL*))                                                 \
  X(void, SSL_get0_alpn_selected, (const SSL*, const unsigned char**, unsigned int*))           \
  X(const char*, SSL_state_string_long, (const SSL*))                                           \
  X(const char*, SSL_alert_type_string_long, (int))                                             \
  X(const char*, SSL_alert_desc_string_long, (int))                                             \
  X(int, SSL_get_ex_data_X509_STORE_CTX_idx, ())                                                \
  X(X509*, SSL_get_peer_certificate, (const SSL*)) /* generation 2: SSL_get1_peer_certificate */ \
  X(const SSL_CIPHER*, SSL_get_current_cipher, (const SSL*))                                    \
  X(char*, SSL_CIPHER_description, (const SSL_CIPHER*, char*, int))                             \
  X(const char*, SSL_CIPHER_get_name, (const SSL_CIPHER*))                                      \
  X(const char*, SSL_CIPHER_get_version, (const SSL_CIPHER*))                                   \
  X(int, SSL_CIPHER_get_bits, (const SSL_CIPHER*, int*))                                        \
  X(SSL_SESSION*, SSL_get_session, (const SSL*))                                                \
  X(const unsigned char*, SSL_SESSION_get_id, (const SSL_SESSION*, unsigned int*))              \
  X(X509_VERIFY_PARAM*, SSL_get0_param, (SSL*))                                                 \
  X(int, SSL_library_init, ())                                                                  \
  X(void, SSL_load_error_strings, ())                                                           \
  X(void, SSL_COMP_free_compression_methods, ())                                                \
  X(OPENSSL_STACK*, SSL_COMP_get_compression_methods, ())                                       \
  /* protocol methods */                                                                        \
  X(const SSL_METHOD*, TLS_method, ())                                                          \
  X(const SSL_METHOD*, SSLv2_method, ())                                                        \
  X(const SSL_METHOD*, SSLv2_server_method, ())                                                 \
  X(const SSL_METHOD*, SSLv2_client_method, ())                                                 \
  X(const SSL_METHOD*, SSLv3_method, ())                                                        \
  X(const SSL_METHOD*, SSLv3_server_method, ())                                                 \
  X(const SSL_METHOD*, SSLv3_client_method, ())                                                 \
  X(const SSL_METHOD*, SSLv23_method, ())                                                       \
  X(const SSL_METHOD*, SSLv23_server_method, ())                                                \
  X(const SSL_METHOD*, SSLv23_client_method, ())                                                \
  X(const SSL_METHOD*, TLSv1_method, ())                                                        \
  X(const SSL_METHOD*, TLSv1_server_method, ())                                                 \
  X(const SSL_METHOD*, TLSv1_client_method, ())                                                 \
  X(const SSL_METHOD*, TLSv1_1_method, ())                                                      \
  X(const SSL_METHOD*, TLSv1_1_server_method, ())                                               \
  X(const SSL_METHOD*, TLSv1_1_client_method, ())                                               \
  X(const SSL_METHOD*, TLSv1_2_method, ())                                                      \
  X(const SSL_METHOD*, TLSv1_2_server_method, ())                                               \
  X(const SSL_METHOD*, TLSv1_2_client_method, ())                                               \
  /* version, memory, threads, global set-up and clean-up */                                    \
  X(unsigned long, OpenSSL_version_num, ())                                                     \
  X(unsigned long, SSLeay, ())                                                                  \
  X(void*, CRYPTO_malloc, (size_t, const char*, int))                                           \
  X(void, CRYPTO_free, (void*, const char*, int))                                               \
  X(int, CRYPTO_num_locks, ())                                                                  \
  X(void, CRYPTO_set_locking_callback, (TSSLLockingCallback))                                   \
  X(void, OpenSSL_add_all_ciphers, ())                                                          \
  X(void, OpenSSL_add_all_digests, ())                                                          \
  X(void, CRYPTO_cleanup_all_ex_data, ())                                                       \
  X(void, EVP_cleanup, ())                                                                      \
  X(void, RAND_screen, ())                                                                      \
  X(void, RAND_cleanup, ())                                                                     \
  /* errors */                                                                                  \
  X(unsigned long, ERR_get_error, ())                                                           \
  X(unsigned long, ERR_peek_error, ())                                                          \
  X(unsigned long, ERR_peek_last_error, ())                                                     \
  X(void, ERR_clear_error, ())                                                                  \
  X(void, ERR_error_string_n, (unsigned long, char*, size_t))                                   \
  X(void, ERR_put_error, (int, int, int, const char*, int))                                     \
  X(void, ERR_new, ())                                                                          \
  X(void, ERR_set_debug, (const char*, int, const char*))                                       \
  X(void, ERR_set_error, (int, int, const char*, ...))                                          \
  X(void, ERR_free_strings, ())                                                                 \
  X(void, ERR_remove_thread_state, (const void*))                                               \
  X(void, ERR_remove_state, (unsigned long))                                                    \
  /* stacks */                                                                                  \
  X(int, sk_num, (const OPENSSL_STACK*))                                                        \
  X(void*, sk_value, (const OPENSSL_STACK*, int))                                               \
  X(OPENSSL_STACK*, sk_new, (TStackCompare))                                                    \
  X(OPENSSL_STACK*, sk_new_null, ())                                                            \
  X(void, sk_free, (OPENSSL_STACK*))                                                            \
  X(int, sk_push, (OPENSSL_STACK*, const void*))                                                \
  X(int, sk_find, (OPENSSL_STACK*, const void*))                                                \
  X(void, sk_pop_free, (OPENSSL_STACK*, TStackItemFree))                                        \
  /* memory buffers */                                                                          \
  X(BIO*, BIO_new, (const BIO_METHOD*))                                                         \
  X(int, BIO_free, (BIO*))                                                                      \
  X(BIO*, BIO_new_mem_buf, (const void*, int))                                                  \
  X(const BIO_METHOD*, BIO_s_mem, ())                                                           \
  X(long, BIO_ctrl, (BIO*, int, long, void*))                                                   \
  /* certificates, names, stores, keys */                                                       \
  X(X509*, PEM_read_bio_X509, (BIO*, X509**, TPemPasswordCallback, void*))                      \
  X(X509*, PEM_read_bio_X509_AUX, (BIO*, X509**, TPemPasswordCallback, void*))                  \
  X(EVP_PKEY*, PEM_read_bio_PrivateKey, (BIO*, EVP_PKEY**, TPemPasswordCallback, void*))        \
  X(DH*, PEM_read_bio_DHparams, (BIO*, DH**, TPemPasswordCallback, void*))                      \
  X(OPENSSL_STACK*, PEM_X509_INFO_read_bio, (BIO*, OPENSSL_STACK*, TPemPasswordCallback, void*)) \
  X(void, X509_INFO_free, (X509_INFO*))                                                         \
  X(int, X509_STORE_add_cert, (X509_STORE*, X509*))                                             \
  X(int, X509_STORE_add_crl, (X509_STORE*, X509_CRL*))                                          \
  X(int, X509_STORE_load_locations, (X509_STORE*, const char*, const char*))                    \
  X(X509_LOOKUP*, X509_STORE_add_lookup, (X509_STORE*, X509_LOOKUP_METHOD*))                    \
  X(int, X509_LOOKUP_ctrl, (X509_LOOKUP*, int, const char*, long, char**))                      \
  X(X509_LOOKUP_METHOD*, X509_LOOKUP_meth_new, (const char*))                                   \
  X(int, X509_LOOKUP_meth_set_ctrl, (X509_LOOKUP_METHOD*, TX509LookupCtrl))                     \
  X(X509_STORE*, X509_LOOKUP_get_store, (const X509_LOOKUP*))                                   \
  X(const char*, X509_get_default_cert_file, ())                                                \
  X(const char*, X509_get_default_cert_file_env, ())                                            \
  X(X509*, d2i_X509_bio, (BIO*, X509**))                                                        \
  X(EVP_PKEY*, d2i_PrivateKey_bio, (BIO*, EVP_PKEY**))                                          \
  X(PKCS12*, d2i_PKCS12_bio, (BIO*, PKCS12**))                                                  \
  X(int, PKCS12_parse, (PKCS12*, const char*, EVP_PKEY**, X509**, OPENSSL_STACK**))             \
  X(void, PKCS12_free, (PKCS12*))                                                               \
  X(void, X509_free, (X509*))                                                                   \
  X(void, EVP_PKEY_free, (EVP_PKEY*))                                                           \
  X(void, DH_free, (DH*))                                                                       \
  X(int, X509_digest, (const X509*, const EVP_MD*, unsigned char*, unsigned int*))              \
  X(X509_NAME*, X509_get_subject_name, (const X509*))                                           \
  X(X509_NAME*, X509_get_issuer_name, (const X509*))                                            \
  X(char*, X509_NAME_oneline, (const X509_NAME*, char*, int))                                   \
  X(int, X509_NAME_cmp, (const X509_NAME*, const X509_NAME*))                                   \
  X(void, X509_NAME_free, (X509_NAME*))                                                         \
  X(ASN1_INTEGER*, X509_get_serialNumber, (X509*))                                              \
  X(long, X509_get_version, (const X509*))                                                      \
  X(const ASN1_TIME*, X509_get0_notBefore, (const X509*))                                       \
  X(const ASN1_TIME*, X509_get0_notAfter, (const X509*))                                        \
  X(void, X509_get0_signature, (const ASN1_BIT_STRING**, const X509_ALGOR**, const X509*))      \
  X(int, X509_print, (BIO*, X509*))                                                             \
  X(void*, X509_STORE_CTX_get_ex_data, (const X509_STORE_CTX*, int))                            \
  X(X509*, X509_STORE_CTX_get_current_cert, (const X509_STORE_CTX*))                            \
  X(int, X509_STORE_CTX_get_error, (const X509_STORE_CTX*))                                     \
  X(int, X509_STORE_CTX_get_error_depth, (const X509_STORE_CTX*))                               \
  X(const char*, X509_verify_cert_error_string, (long))                                         \
  X(int, X509_VERIFY_PARAM_set1_host, (X509_VERIFY_PARAM*, const char*, size_t))                \
  X(int, X509_VERIFY_PARAM_set1_ip_asc, (X509_VERIFY_PARAM*, const char*))                      \
  X(int, OBJ_obj2nid, (const ASN1_OBJECT*))                                                     \
  X(const char*, OBJ_nid2ln, (int))                                                             \
  X(int, EVP_PKEY_type, (int))                                                                  \
  X(void*, ASN1_dup, (Ti2d_of_void*, Td2i_of_void*, const void*))                               \
  X(int, i2d_X509_NAME, (const X509_NAME*, unsigned char**))                                    \
  X(X509_NAME*, d2i_X509_NAME, (X509_NAME**, const unsigned char**, long))                      \
  /* digests */                                                                                 \
  X(const EVP_MD*, EVP_md5, ())                                                                 \
  X(const EVP_MD*, EVP_sha1, ())                                                                \
  X(const EVP_MD*, EVP_sha224, ())                                                              \
  X(const EVP_MD*, EVP_sha256, ())                                                              \
  X(const EVP_MD*, EVP_sha384, ())                                                              \
  X(const EVP_MD*, EVP_sha512, ())

#define VYN_SSL_DECLARE_ENTRY(ARet, AName, AArgs) extern ARet(*AName) AArgs;
VYN_SSL_ENTRIES(VYN_SSL_DECLARE_ENTRY)
#undef VYN_SSL_DECLARE_ENTRY

// ---- Process-wide state -------------------------------------------------------------------
// The generation loaded next (0, 1 or 2; see above). Written by plain assignment before
// start-up; this platform ships generation 2.
extern uint8_t OpenSSLAPIVersion;
// The generation the current files and table were loaded for; what the helpers that
// depend on the generation go by.
uint8_t SSLLoadedAPIVersion();
// OpenSSL_version_num() recorded by start-up in generations 1 and 2 (0 otherwise).
uint32_t SSLLibraryVersion();
// Whether the bound HMAC_Init_ex, HMAC_Update and HMAC_Final return a status (the 1.0
// API) or nothing (older ones); decided at load time from SSLeay.
bool SSLHMACReturnsStatus();

// The folder the library files are loaded from: empty (the platform's search order) or
// a path ending in "/". An empty APath empties it; otherwise "/" is appended when
// missing.
void SetSSLLibPath(const String& APath);
String GetSSLLibPath();
// Shown in the load failure report; nothing sets it.
String GetSSLLibVersionText();
// The folder of the running executable, ending in "/".
String ProgramFolder();

// Loading and unloading the files and the table. Only start-up and shutdown call them.
bool LoadSSLLibraries();
void UnloadSSLLibraries();
// Idempotent and thread-safe; false when the libraries are not usable (the next call
// tries again).
bool OpenSSLStartup();
// Removes the locking callback, cleans up and unloads, frees the locks.
void OpenSSLShutdown();
bool SSLLibraryLoaded();

// What the last load found missing: a required name as looked up, or a line
// "Failed to load %s." naming a file.
std::vector<String> SSLFailedLoadList();
// The same as comma text: items joined by ","; an item containing a blank, a comma, a
// double quote or a control character is quoted, inner quotes doubled.
String GetSSLLoadFailures();
TLibHandle GetSSLCryptoLibrary();
TLibHandle GetSSLLibrary();

// The address of a bound entry by the name the table knows it under (stack names
// without prefix, the generation-chosen ones by their generation-0 name); nullptr when
// not bound or not in the table.
void* GetSSLEntry(const char* AName);
// Every name a complete library of that generation exports for the table's required
// entries, as looked up (prefixes and generation names applied). For test libraries.
std::vector<std::string> SSLRequiredNames(uint8_t AGeneration, bool ASslLibrary);
// Every name the table looks up in that generation, required or optional.
std::vector<std::string> SSLTableNames(uint8_t AGeneration, bool ASslLibrary);

// The locks the library callbacks run under; null while not started.
std::mutex* SSLInfoCallbackLock();
std::mutex* SSLPasswordCallbackLock();
std::mutex* SSLVerifyCallbackLock();
// Generation 0: the number of locks handed to the library's locking callback.
size_t SSLLockCount();
// The locking callback generation 0 installs (C calling convention).
extern "C" void SSLLockingCallback(int mode, int n, const char* file, int line);

// Availability of a protocol: its general, server and client method entries are bound.
bool IsOpenSSL_SSLv2_Available();
bool IsOpenSSL_SSLv3_Available();
bool IsOpenSSL_TLSv1_0_Available();
bool IsOpenSSL_TLSv1_1_Available();
bool IsOpenSSL_TLSv1_2_Available();
// The loaded generation is 1 or later.
bool IsOpenSSL_1x_OrLater();

// ---- Macro helpers ------------------------------------------------------------------------
long SSL_CTX_set_options(SSL_CTX* ctx, long options);
long SSL_CTX_clear_options(SSL_CTX* ctx, long options);
long SSL_CTX_set_mode(SSL_CTX* ctx, long mode);
long SSL_CTX_set_min_proto_version(SSL_CTX* ctx, long version);
long SSL_CTX_set_max_proto_version(SSL_CTX* ctx, long version);
long SSL_CTX_get_options(SSL_CTX* ctx);  // the options now set
long SSL_CTX_get_min_proto_version(SSL_CTX* ctx);
long SSL_CTX_get_max_proto_version(SSL_CTX* ctx);
long SSL_CTX_set_tmp_dh(SSL_CTX* ctx, DH* dh);
long SSL_CTX_set_ecdh_auto(SSL_CTX* ctx, long onoff);
// The context takes the certificate over.
long SSL_CTX_add0_chain_cert(SSL_CTX* ctx, X509* cert);
long SSL_CTX_clear_chain_certs(SSL_CTX* ctx);
// AName as zero-terminated UTF-8.
long SSL_set_tlsext_host_name(SSL* ssl, const String& AName);
long BIO_get_mem_data(BIO* bio, char** out);
long BIO_ctrl_pending(BIO* bio);
int SSL_set_app_data(SSL* ssl, void* p);
void* SSL_get_app_data(const SSL* ssl);
void* X509_STORE_CTX_get_app_data(const X509_STORE_CTX* ctx);
// X509_LOOKUP_ctrl(lookup, 1 (load a file), file, type, null).
int X509_LOOKUP_load_file(X509_LOOKUP* lookup, const char* file, long type);
X509_NAME* X509_NAME_dup(const X509_NAME* name);
void* OPENSSL_malloc(size_t n);
// The library and reason parts of an error code, as the loaded generation packs them.
int ERR_GET_LIB(uint32_t code);
int ERR_GET_REASON(uint32_t code);
// Puts an error of the certificate library (11) or the ssl library (20) on the queue,
// in the way of the loaded generation.
void SSLPutError(int ALib, int AFunction, int AReason);
void X509err(int AFunction, int AReason);
void SSLerr(int AFunction, int AReason);
// The library's name hash (X509_NAME_hash, in generation 2 X509_NAME_hash_ex).
unsigned long X509NameHash(const X509_NAME* name);
// EVP_MD_size and its generation-2 name.
int EVPMDSize(const EVP_MD* md);
// The text of an error code (ERR_error_string_n into 160 bytes), read as 8-bit text.
String SSLErrorCodeText(uint32_t AErrCode);

// Library constants the helpers and the handler use.
inline constexpr int SSL_ERROR_NONE = 0;
inline constexpr int SSL_ERROR_SSL = 1;
inline constexpr int SSL_ERROR_WANT_READ = 2;
inline constexpr int SSL_ERROR_WANT_WRITE = 3;
inline constexpr int SSL_ERROR_SYSCALL = 5;
inline constexpr int SSL_ERROR_ZERO_RETURN = 6;

}  // namespace vyn
