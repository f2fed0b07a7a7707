#include "vynIdSSLOpenSSLHeaders.h"

#include <cfenv>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <memory>

#include "vynIdResourceStrings.h"
#include "vynIdStack.h"

namespace vyn {

#define VYN_SSL_DEFINE_ENTRY(ARet, AName, AArgs) ARet(*AName) AArgs = nullptr;
VYN_SSL_ENTRIES(VYN_SSL_DEFINE_ENTRY)
#undef VYN_SSL_DEFINE_ENTRY

uint8_t OpenSSLAPIVersion = 2;

namespace {

// Which library an entry is resolved from.
enum TSSLLibKind : uint8_t { S, C };
// Generations in which an entry is required, one bit per generation.
constexpr uint8_t ALL = 0b111, G0 = 0b001, G01 = 0b011, G12 = 0b110, OPT = 0;
// Looked up with "OPENSSL_" in front from generation 1 on.
constexpr uint8_t kStack = 1;
// Looked up only when ERR_remove_thread_state is absent, and then required.
constexpr uint8_t kOnlyWithoutThreadState = 2;

template <class T>
void** Slot(T* AEntry) {
  return reinterpret_cast<void**>(AEntry);
}

struct TSSLEntry {
  TSSLLibKind Lib;
  const char* Name;
  uint8_t Required;
  void** Typed = nullptr;          // the typed entry point, when the library calls it
  const char* Second = nullptr;    // tried when Name is absent
  const char* Generation2 = nullptr;  // the name looked up in generation 2 instead
  uint8_t Flags = 0;
};

// The table, in lookup order. Within each group: required in every generation, then
// required in some, then optional. RAND_screen and RAND_event exist on Windows only,
// so they are optional here.
const TSSLEntry GEntries[] = {
    // contexts and sessions
    {S, "SSL_get_peer_certificate", ALL, Slot(&SSL_get_peer_certificate), nullptr, "SSL_get1_peer_certificate"},
    {S, "SSL_CTX_set_options", OPT},
    {S, "SSL_CTX_clear_options", OPT},
    {S, "SSL_CTX_get_options", OPT},
    {S, "SSL_CTX_set_info_callback", OPT, Slot(&SSL_CTX_set_info_callback)},
    {S, "SSL_get0_param", OPT, Slot(&SSL_get0_param)},
    {S, "SSL_CTX_set_cipher_list", ALL, Slot(&SSL_CTX_set_cipher_list)},
    {S, "SSL_CTX_new", ALL, Slot(&SSL_CTX_new)},
    {S, "SSL_CTX_free", ALL, Slot(&SSL_CTX_free)},
    {S, "SSL_set_fd", ALL, Slot(&SSL_set_fd)},
    {S, "SSL_CTX_use_PrivateKey_file", ALL},
    {S, "SSL_CTX_use_PrivateKey", ALL, Slot(&SSL_CTX_use_PrivateKey)},
    {S, "SSL_CTX_use_certificate", ALL, Slot(&SSL_CTX_use_certificate)},
    {S, "SSL_CTX_use_certificate_file", ALL},
    {S, "SSL_state_string_long", ALL, Slot(&SSL_state_string_long)},
    {S, "SSL_alert_desc_string_long", ALL, Slot(&SSL_alert_desc_string_long)},
    {S, "SSL_alert_type_string_long", ALL, Slot(&SSL_alert_type_string_long)},
    {S, "SSL_CTX_set_verify", ALL, Slot(&SSL_CTX_set_verify)},
    {S, "SSL_CTX_set_verify_depth", ALL, Slot(&SSL_CTX_set_verify_depth)},
    {S, "SSL_CTX_get_verify_depth", ALL},
    {S, "SSL_CTX_set_default_passwd_cb", ALL, Slot(&SSL_CTX_set_default_passwd_cb)},
    {S, "SSL_CTX_set_default_passwd_cb_userdata", ALL, Slot(&SSL_CTX_set_default_passwd_cb_userdata)},
    {S, "SSL_CTX_check_private_key", ALL, Slot(&SSL_CTX_check_private_key)},
    {S, "SSL_new", ALL, Slot(&SSL_new)},
    {S, "SSL_free", ALL, Slot(&SSL_free)},
    {S, "SSL_accept", ALL, Slot(&SSL_accept)},
    {S, "SSL_connect", ALL, Slot(&SSL_connect)},
    {S, "SSL_read", ALL, Slot(&SSL_read)},
    {S, "SSL_write", ALL, Slot(&SSL_write)},
    {S, "SSL_ctrl", ALL, Slot(&SSL_ctrl)},
    {S, "SSL_callback_ctrl", ALL},
    {S, "SSL_CTX_ctrl", ALL, Slot(&SSL_CTX_ctrl)},
    {S, "SSL_CTX_callback_ctrl", ALL},
    {S, "SSL_get_error", ALL, Slot(&SSL_get_error)},
    {S, "SSL_shutdown", ALL, Slot(&SSL_shutdown)},
    {S, "SSL_set_shutdown", ALL},
    {S, "SSL_CTX_load_verify_locations", ALL},
    {S, "SSL_get_session", ALL, Slot(&SSL_get_session)},
    {S, "SSL_SESSION_get_id", ALL, Slot(&SSL_SESSION_get_id)},
    {S, "SSL_copy_session_id", ALL, Slot(&SSL_copy_session_id)},
    {S, "SSL_load_client_CA_file", ALL},
    {S, "SSL_CTX_set_client_CA_list", ALL, Slot(&SSL_CTX_set_client_CA_list)},
    {S, "SSL_CTX_set_default_verify_paths", ALL, Slot(&SSL_CTX_set_default_verify_paths)},
    {S, "SSL_CTX_set_session_id_context", ALL, Slot(&SSL_CTX_set_session_id_context)},
    {S, "SSL_CIPHER_description", ALL, Slot(&SSL_CIPHER_description)},
    {S, "SSL_get_current_cipher", ALL, Slot(&SSL_get_current_cipher)},
    {S, "SSL_CIPHER_get_name", ALL, Slot(&SSL_CIPHER_get_name)},
    {S, "SSL_CIPHER_get_version", ALL, Slot(&SSL_CIPHER_get_version)},
    {S, "SSL_CIPHER_get_bits", ALL, Slot(&SSL_CIPHER_get_bits)},
    {S, "SSL_CTX_get_cert_store", ALL, Slot(&SSL_CTX_get_cert_store)},
    {S, "SSL_get_version", G12, Slot(&SSL_get_version)},
    {S, "SSL_get_ex_data_X509_STORE_CTX_idx", G12, Slot(&SSL_get_ex_data_X509_STORE_CTX_idx)},
    {S, "SSL_load_error_strings", G0, Slot(&SSL_load_error_strings)},
    {S, "SSL_library_init", G0, Slot(&SSL_library_init)},
    {S, "SSL_CTX_use_certificate_chain_file", OPT, Slot(&SSL_CTX_use_certificate_chain_file)},
    {S, "SSL_peek", OPT},
    {S, "SSL_pending", OPT, Slot(&SSL_pending)},
    {S, "SSL_set_connect_state", OPT},
    {S, "SSL_set_accept_state", OPT},
    {S, "SSL_set_ex_data", OPT, Slot(&SSL_set_ex_data)},
    {S, "SSL_get_ex_data", OPT, Slot(&SSL_get_ex_data)},
    {S, "SSL_CTX_set_alpn_protos", OPT, Slot(&SSL_CTX_set_alpn_protos)},
    {S, "SSL_CTX_set_alpn_select_cb", OPT, Slot(&SSL_CTX_set_alpn_select_cb)},
    {S, "SSL_CTX_set_cookie_generate_cb", OPT},
    {S, "SSL_CTX_set_cookie_verify_cb", OPT},
    {S, "SSL_do_handshake", OPT},
    {S, "SSL_is_init_finished", OPT},
    {S, "SSL_get0_alpn_selected", OPT, Slot(&SSL_get0_alpn_selected)},
    {S, "SSL_set_bio", OPT},
    {S, "SSL_get_rbio", OPT},
    {S, "SSL_get_wbio", OPT},
    {S, "BIO_should_retry", OPT},
    {S, "SSL_state", OPT},
    {S, "SSL_get_state", OPT},
    {S, "SSL_COMP_get_compression_methods", OPT, Slot(&SSL_COMP_get_compression_methods)},
    {S, "SSL_COMP_free_compression_methods", OPT, Slot(&SSL_COMP_free_compression_methods)},
    // protocol methods
    {S, "TLS_method", G12, Slot(&TLS_method)},
    {S, "SSLv2_method", OPT, Slot(&SSLv2_method)},
    {S, "SSLv2_server_method", OPT, Slot(&SSLv2_server_method)},
    {S, "SSLv2_client_method", OPT, Slot(&SSLv2_client_method)},
    {S, "SSLv3_method", OPT, Slot(&SSLv3_method)},
    {S, "SSLv3_server_method", OPT, Slot(&SSLv3_server_method)},
    {S, "SSLv3_client_method", OPT, Slot(&SSLv3_client_method)},
    {S, "SSLv23_method", OPT, Slot(&SSLv23_method)},
    {S, "SSLv23_server_method", OPT, Slot(&SSLv23_server_method)},
    {S, "SSLv23_client_method", OPT, Slot(&SSLv23_client_method)},
    {S, "TLSv1_method", OPT, Slot(&TLSv1_method)},
    {S, "TLSv1_server_method", OPT, Slot(&TLSv1_server_method)},
    {S, "TLSv1_client_method", OPT, Slot(&TLSv1_client_method)},
    {S, "TLSv1_1_method", OPT, Slot(&TLSv1_1_method)},
    {S, "TLSv1_1_server_method", OPT, Slot(&TLSv1_1_server_method)},
    {S, "TLSv1_1_client_method", OPT, Slot(&TLSv1_1_client_method)},
    {S, "TLSv1_2_method", OPT, Slot(&TLSv1_2_method)},
    {S, "TLSv1_2_server_method", OPT, Slot(&TLSv1_2_server_method)},
    {S, "TLSv1_2_client_method", OPT, Slot(&TLSv1_2_client_method)},
    {S, "DTLSv1_method", OPT},
    {S, "DTLSv1_server_method", OPT},
    {S, "DTLSv1_client_method", OPT},
    {S, "DTLSv1_2_method", OPT},
    {S, "DTLSv1_2_server_method", OPT},
    {S, "DTLSv1_2_client_method", OPT},
    {S, "DTLS_method", OPT},
    {S, "DTLS_server_method", OPT},
    {S, "DTLS_client_method", OPT},
    // quic and hkdf
    {S, "SSL_quic_read_level", OPT},
    {S, "SSL_set_quic_transport_params", OPT},
    {S, "SSL_CIPHER_get_prf_nid", OPT},
    {S, "SSL_is_quic", OPT},
    {S, "SSL_get_peer_quic_transport_params", OPT},
    {S, "SSL_quic_write_level", OPT},
    {S, "SSL_CTX_set_quic_method", OPT},
    {S, "SSL_set_quic_method", OPT},
    {S, "SSL_quic_max_handshake_flight_len", OPT},
    {S, "SSL_process_quic_post_handshake", OPT},
    {S, "SSL_provide_quic_data", OPT},
    {S, "SSL_set_quic_use_legacy_codepoint", OPT},
    {S, "SSL_set_quic_transport_version", OPT},
    {S, "SSL_get_peer_quic_transport_version", OPT},
    {S, "SSL_get_quic_transport_version", OPT},
    {S, "SSL_set_quic_early_data_enabled", OPT},
    {C, "EVP_PKEY_CTX_set_hkdf_mode", OPT},
    {C, "EVP_PKEY_CTX_set_hkdf_md", OPT},
    {C, "EVP_PKEY_CTX_set1_hkdf_salt", OPT},
    {C, "EVP_PKEY_CTX_set1_hkdf_key", OPT},
    {C, "EVP_PKEY_CTX_add1_hkdf_info", OPT},
    // library version, memory, threads and glo
    {C, "CRYPTO_set_mem_functions", ALL},
    {C, "CRYPTO_malloc", ALL, Slot(&CRYPTO_malloc)},
    {C, "CRYPTO_free", ALL, Slot(&CRYPTO_free)},
    {C, "CRYPTO_mem_ctrl", G01},
    {C, "OpenSSL_version_num", G12, Slot(&OpenSSL_version_num)},
    {C, "OpenSSL_version", G12},
    {C, "SSLeay_version", G0},
    {C, "SSLeay", G0, Slot(&SSLeay)},
    {C, "CRYPTO_lock", G0},
    {C, "CRYPTO_num_locks", G0, Slot(&CRYPTO_num_locks)},
    {C, "CRYPTO_set_locking_callback", G0, Slot(&CRYPTO_set_locking_callback)},
    {C, "CRYPTO_mem_leaks", G0},
    {C, "CRYPTO_set_mem_debug_functions", G0},
    {C, "OpenSSL_add_all_algorithms", G0, nullptr, "OPENSSL_add_all_algorithms_noconf"},
    {C, "OpenSSL_add_all_ciphers", G0, Slot(&OpenSSL_add_all_ciphers)},
    {C, "OpenSSL_add_all_digests", G0, Slot(&OpenSSL_add_all_digests)},
    {C, "EVP_cleanup", G0, Slot(&EVP_cleanup)},
    {C, "CRYPTO_cleanup_all_ex_data", OPT, Slot(&CRYPTO_cleanup_all_ex_data)},
    // certificates, names and stores
    {C, "X509_NAME_hash", ALL, nullptr, nullptr, "X509_NAME_hash_ex"},
    {C, "X509_get_version", OPT, Slot(&X509_get_version)},
    {C, "X509_get0_notBefore", OPT, Slot(&X509_get0_notBefore)},
    {C, "X509_get0_notAfter", OPT, Slot(&X509_get0_notAfter)},
    {C, "X509_get0_signature", OPT, Slot(&X509_get0_signature)},
    {C, "X509_LOOKUP_meth_new", OPT, Slot(&X509_LOOKUP_meth_new)},
    {C, "X509_LOOKUP_meth_set_ctrl", OPT, Slot(&X509_LOOKUP_meth_set_ctrl)},
    {C, "X509_LOOKUP_get_store", OPT, Slot(&X509_LOOKUP_get_store)},
    {C, "X509_VERIFY_PARAM_set1_host", OPT, Slot(&X509_VERIFY_PARAM_set1_host)},
    {C, "X509_VERIFY_PARAM_set1_ip_asc", OPT, Slot(&X509_VERIFY_PARAM_set1_ip_asc)},
    {C, "d2i_X509_NAME", ALL, Slot(&d2i_X509_NAME)},
    {C, "i2d_X509_NAME", ALL, Slot(&i2d_X509_NAME)},
    {C, "X509_NAME_oneline", ALL, Slot(&X509_NAME_oneline)},
    {C, "X509_NAME_cmp", ALL, Slot(&X509_NAME_cmp)},
    {C, "X509_get_issuer_name", ALL, Slot(&X509_get_issuer_name)},
    {C, "X509_get_subject_name", ALL, Slot(&X509_get_subject_name)},
    {C, "X509_digest", ALL, Slot(&X509_digest)},
    {C, "X509_STORE_add_cert", ALL, Slot(&X509_STORE_add_cert)},
    {C, "X509_STORE_add_crl", ALL, Slot(&X509_STORE_add_crl)},
    {C, "X509_STORE_CTX_get_error", ALL, Slot(&X509_STORE_CTX_get_error)},
    {C, "X509_STORE_CTX_get_error_depth", ALL, Slot(&X509_STORE_CTX_get_error_depth)},
    {C, "X509_STORE_CTX_get_current_cert", ALL, Slot(&X509_STORE_CTX_get_current_cert)},
    {C, "X509_STORE_add_lookup", ALL, Slot(&X509_STORE_add_lookup)},
    {C, "X509_STORE_load_locations", ALL, Slot(&X509_STORE_load_locations)},
    {C, "X509V3_set_ctx", ALL},
    {C, "d2i_X509_bio", ALL, Slot(&d2i_X509_bio)},
    {C, "d2i_X509", ALL},
    {C, "X509_get_default_cert_file", ALL, Slot(&X509_get_default_cert_file)},
    {C, "X509_get_default_cert_file_env", ALL, Slot(&X509_get_default_cert_file_env)},
    {C, "X509_free", ALL, Slot(&X509_free)},
    {C, "X509_NAME_new", ALL},
    {C, "X509_NAME_free", ALL, Slot(&X509_NAME_free)},
    {C, "X509_NAME_add_entry_by_txt", ALL},
    {C, "X509_INFO_free", ALL, Slot(&X509_INFO_free)},
    {C, "X509_get_serialNumber", ALL, Slot(&X509_get_serialNumber)},
    {C, "X509_set_issuer_name", OPT},
    {C, "X509_set_subject_name", OPT},
    {C, "X509_LOOKUP_ctrl", OPT, Slot(&X509_LOOKUP_ctrl)},
    {C, "X509_STORE_CTX_get_ex_data", OPT, Slot(&X509_STORE_CTX_get_ex_data)},
    {C, "X509_STORE_CTX_set_error", OPT},
    {C, "X509_sign", OPT},
    {C, "X509_REQ_sign", OPT},
    {C, "X509_REQ_add_extensions", OPT},
    {C, "X509V3_EXT_conf_nid", OPT},
    {C, "X509_EXTENSION_create_by_NID", OPT},
    {C, "X509_EXTENSION_free", OPT},
    {C, "X509_add_ext", OPT},
    {C, "X509_print", OPT, Slot(&X509_print)},
    {C, "i2d_X509_bio", OPT},
    {C, "i2d_X509_REQ_bio", OPT},
    {C, "i2d_X509", OPT},
    {C, "i2d_X509_REQ", OPT},
    {C, "d2i_X509_REQ", OPT},
    {C, "i2d_X509_CRL", OPT},
    {C, "d2i_X509_CRL", OPT},
    {C, "X509_new", OPT},
    {C, "X509_REQ_new", OPT},
    {C, "X509_REQ_free", OPT},
    {C, "X509_to_X509_REQ", OPT},
    {C, "X509_set_version", OPT},
    {C, "X509_gmtime_adj", OPT},
    {C, "X509_set_notBefore", OPT},
    {C, "X509_set_notAfter", OPT},
    {C, "X509_set_pubkey", OPT},
    {C, "X509_REQ_set_pubkey", OPT},
    {C, "X509_PUBKEY_get", OPT},
    {C, "X509_verify", OPT},
    {C, "X509_verify_cert_error_string", OPT, Slot(&X509_verify_cert_error_string)},
    // key and container encodings
    {C, "i2d_DSAPrivateKey", ALL},
    {C, "d2i_DSAPrivateKey", ALL},
    {C, "d2i_PrivateKey", ALL},
    {C, "d2i_PrivateKey_bio", ALL, Slot(&d2i_PrivateKey_bio)},
    {C, "d2i_PKCS12_bio", ALL, Slot(&d2i_PKCS12_bio)},
    {C, "PKCS12_parse", ALL, Slot(&PKCS12_parse)},
    {C, "d2i_DHparams", ALL},
    {C, "i2d_NETSCAPE_CERT_SEQUENCE", ALL},
    {C, "PKCS12_create", ALL},
    {C, "i2d_PKCS12_bio", ALL},
    {C, "PKCS12_free", ALL, Slot(&PKCS12_free)},
    {C, "i2d_PrivateKey_bio", OPT},
    {C, "i2d_PKCS7", OPT},
    {C, "d2i_PKCS7", OPT},
    {C, "i2d_RSAPrivateKey", OPT},
    {C, "d2i_RSAPrivateKey", OPT},
    {C, "i2d_RSAPublicKey", OPT},
    {C, "d2i_RSAPublicKey", OPT},
    {C, "i2d_PrivateKey", OPT},
    {C, "i2d_DSAparams", OPT},
    {C, "d2i_DSAparams", OPT},
    {C, "i2d_DHparams", OPT},
    {C, "i2d_PUBKEY", OPT},
    {C, "d2i_PublicKey", OPT},
    {C, "i2d_PublicKey", OPT},
    {C, "d2i_AutoPrivateKey", OPT},
    // pem
    {C, "PEM_X509_INFO_read_bio", ALL, Slot(&PEM_X509_INFO_read_bio)},
    {C, "PEM_read_bio_X509_AUX", ALL, Slot(&PEM_read_bio_X509_AUX)},
    {C, "PEM_read_bio_X509", OPT, Slot(&PEM_read_bio_X509)},
    {C, "PEM_read_bio_X509_REQ", OPT},
    {C, "PEM_read_bio_X509_CRL", OPT},
    {C, "PEM_read_bio_RSAPrivateKey", OPT},
    {C, "PEM_read_bio_RSAPublicKey", OPT},
    {C, "PEM_read_bio_DSAPrivateKey", OPT},
    {C, "PEM_read_bio_PrivateKey", OPT, Slot(&PEM_read_bio_PrivateKey)},
    {C, "PEM_read_bio_PKCS7", OPT},
    {C, "PEM_read_bio_DHparams", OPT, Slot(&PEM_read_bio_DHparams)},
    {C, "PEM_read_bio_DSAparams", OPT},
    {C, "PEM_read_bio_NETSCAPE_CERT_SEQUENCE", OPT},
    {C, "PEM_read_bio_PUBKEY", OPT},
    {C, "PEM_write_bio_X509", OPT},
    {C, "PEM_write_bio_X509_REQ", OPT},
    {C, "PEM_write_bio_X509_CRL", OPT},
    {C, "PEM_write_bio_RSAPrivateKey", OPT},
    {C, "PEM_write_bio_RSAPublicKey", OPT},
    {C, "PEM_write_bio_DSAPrivateKey", OPT},
    {C, "PEM_write_bio_PrivateKey", OPT},
    {C, "PEM_write_bio_PKCS7", OPT},
    {C, "PEM_write_bio_DHparams", OPT},
    {C, "PEM_write_bio_DSAparams", OPT},
    {C, "PEM_write_bio_NETSCAPE_CERT_SEQUENCE", OPT},
    {C, "PEM_write_bio_PKCS8PrivateKey", OPT},
    {C, "PEM_write_bio_PUBKEY", OPT},
    // digests and ciphers
    {C, "EVP_MD_type", ALL, nullptr, nullptr, "EVP_MD_get_type"},
    {C, "EVP_MD_size", ALL, nullptr, nullptr, "EVP_MD_get_size"},
    {C, "EVP_MD_block_size", ALL, nullptr, nullptr, "EVP_MD_get_block_size"},
    {C, "EVP_sha1", ALL, Slot(&EVP_sha1)},
    {C, "EVP_md5", ALL, Slot(&EVP_md5)},
    {C, "EVP_des_cfb64", ALL},
    {C, "EVP_DigestInit", ALL},
    {C, "EVP_DigestInit_ex", ALL},
    {C, "EVP_DigestUpdate", ALL},
    {C, "EVP_DigestFinal_ex", ALL},
    {C, "EVP_EncryptUpdate", ALL},
    {C, "EVP_DecryptUpdate", ALL},
    {C, "EVP_get_cipherbyname", ALL},
    {C, "EVP_get_digestbyname", ALL},
    {C, "EVP_MD_CTX_md", ALL},
    {C, "EVP_CIPHER_CTX_cipher", ALL},
    {C, "EVP_CIPHER_CTX_get_app_data", ALL},
    {C, "EVP_CIPHER_CTX_set_app_data", ALL},
    {C, "EVP_CIPHER_flags", G01},
    {C, "EVP_CIPHER_type", G01},
    {C, "EVP_MD_CTX_init", G0},
    {C, "EVP_MD_CTX_cleanup", G0},
    {C, "EVP_CIPHER_CTX_flags", G0},
    {C, "EVP_des_ede3_cbc", OPT},
    {C, "EVP_sha512", OPT, Slot(&EVP_sha512)},
    {C, "EVP_sha384", OPT, Slot(&EVP_sha384)},
    {C, "EVP_sha256", OPT, Slot(&EVP_sha256)},
    {C, "EVP_sha224", OPT, Slot(&EVP_sha224)},
    {C, "EVP_sha", OPT},
    {C, "EVP_dss", OPT},
    {C, "EVP_dss1", OPT},
    {C, "EVP_ecdsa", OPT},
    {C, "EVP_mdc2", OPT},
    {C, "EVP_md4", OPT},
    {C, "EVP_ripemd160", OPT},
    {C, "EVP_whirlpool", OPT},
    {C, "EVP_md_null", OPT},
    {C, "EVP_des_ecb", OPT},
    {C, "EVP_des_ede", OPT},
    {C, "EVP_des_ede3", OPT},
    {C, "EVP_des_ede_ecb", OPT},
    {C, "EVP_des_ede3_ecb", OPT},
    {C, "EVP_des_cfb1", OPT},
    {C, "EVP_des_cfb8", OPT},
    {C, "EVP_des_ede_cfb64", OPT},
    {C, "EVP_des_ede3_cfb1", OPT},
    {C, "EVP_des_ede3_cfb8", OPT},
    {C, "EVP_des_ofb", OPT},
    {C, "EVP_des_ede_ofb", OPT},
    {C, "EVP_des_ede3_ofb", OPT},
    {C, "EVP_des_cbc", OPT},
    {C, "EVP_des_ede_cbc", OPT},
    {C, "EVP_desx_cbc", OPT},
    {C, "EVP_rc4", OPT},
    {C, "EVP_rc4_40", OPT},
    {C, "EVP_rc4_hmac_md5", OPT},
    {C, "EVP_idea_ecb", OPT},
    {C, "EVP_idea_cfb64", OPT},
    {C, "EVP_idea_ofb", OPT},
    {C, "EVP_idea_cbc", OPT},
    {C, "EVP_rc2_ecb", OPT},
    {C, "EVP_rc2_cbc", OPT},
    {C, "EVP_rc2_40_cbc", OPT},
    {C, "EVP_rc2_64_cbc", OPT},
    {C, "EVP_rc2_cfb64", OPT},
    {C, "EVP_rc2_ofb", OPT},
    {C, "EVP_bf_ecb", OPT},
    {C, "EVP_bf_cbc", OPT},
    {C, "EVP_bf_cfb64", OPT},
    {C, "EVP_bf_ofb", OPT},
    {C, "EVP_cast5_ecb", OPT},
    {C, "EVP_cast5_cbc", OPT},
    {C, "EVP_cast5_cfb64", OPT},
    {C, "EVP_cast5_ofb", OPT},
    {C, "EVP_aes_128_ecb", OPT},
    {C, "EVP_aes_128_cbc", OPT},
    {C, "EVP_aes_128_cfb1", OPT},
    {C, "EVP_aes_128_cfb8", OPT},
    {C, "EVP_aes_128_cfb128", OPT},
    {C, "EVP_aes_128_ofb", OPT},
    {C, "EVP_aes_128_ctr", OPT},
    {C, "EVP_aes_128_gcm", OPT},
    {C, "EVP_aes_128_ccm", OPT},
    {C, "EVP_aes_128_xts", OPT},
    {C, "EVP_aes_192_ecb", OPT},
    {C, "EVP_aes_192_cbc", OPT},
    {C, "EVP_aes_192_cfb1", OPT},
    {C, "EVP_aes_192_cfb128", OPT},
    {C, "EVP_aes_192_ofb", OPT},
    {C, "EVP_aes_192_ctr", OPT},
    {C, "EVP_aes_192_gcm", OPT},
    {C, "EVP_aes_192_ccm", OPT},
    {C, "EVP_aes_256_ecb", OPT},
    {C, "EVP_aes_256_cbc", OPT},
    {C, "EVP_aes_256_cfb1", OPT},
    {C, "EVP_aes_256_cfb8", OPT},
    {C, "EVP_aes_256_cfb128", OPT},
    {C, "EVP_aes_256_ofb", OPT},
    {C, "EVP_aes_256_ctr", OPT},
    {C, "EVP_aes_256_gcm", OPT},
    {C, "EVP_aes_256_ccm", OPT},
    {C, "EVP_aes_256_xts", OPT},
    {C, "EVP_aes_128_cbc_hmac_sha1", OPT},
    {C, "EVP_aes_256_cbc_hmac_sha1", OPT},
    {C, "EVP_seed_ecb", OPT},
    {C, "EVP_seed_cbc", OPT},
    {C, "EVP_seed_cfb128", OPT},
    {C, "EVP_seed_ofb", OPT},
    {C, "EVP_MD_CTX_create", OPT},
    {C, "EVP_MD_CTX_destroy", OPT},
    {C, "EVP_MD_CTX_new", OPT},
    {C, "EVP_MD_CTX_free", OPT},
    {C, "EVP_MD_CTX_copy", OPT},
    {C, "EVP_MD_CTX_copy_ex", OPT},
    {C, "EVP_EncryptInit", OPT},
    {C, "EVP_EncryptInit_ex", OPT},
    {C, "EVP_EncryptFinal_ex", OPT},
    {C, "EVP_EncryptFinal", OPT},
    {C, "EVP_DecryptInit", OPT},
    {C, "EVP_DecryptInit_ex", OPT},
    {C, "EVP_DecryptFinal", OPT},
    {C, "EVP_DecryptFinal_ex", OPT},
    {C, "EVP_CipherInit", OPT},
    {C, "EVP_CipherInit_ex", OPT},
    {C, "EVP_CipherUpdate", OPT},
    {C, "EVP_CipherFinal", OPT},
    {C, "EVP_CipherFinal_ex", OPT},
    {C, "EVP_SignFinal", OPT},
    {C, "EVP_VerifyFinal", OPT},
    {C, "EVP_DigestSignInit", OPT},
    {C, "EVP_DigestSignFinal", OPT},
    {C, "EVP_DigestVerifyInit", OPT},
    {C, "EVP_DigestVerifyFinal", OPT},
    {C, "EVP_OpenInit", OPT},
    {C, "EVP_OpenFinal", OPT},
    {C, "EVP_SealInit", OPT},
    {C, "EVP_SealFinal", OPT},
    {C, "EVP_EncodeInit", OPT},
    {C, "EVP_EncodeUpdate", OPT},
    {C, "EVP_EncodeFinal", OPT},
    {C, "EVP_EncodeBlock", OPT},
    {C, "EVP_DecodeInit", OPT},
    {C, "EVP_DecodeUpdate", OPT},
    {C, "EVP_DecodeFinal", OPT},
    {C, "EVP_DecodeBlock", OPT},
    {C, "EVP_CIPHER_CTX_init", OPT},
    {C, "EVP_CIPHER_CTX_cleanup", OPT},
    {C, "EVP_CIPHER_CTX_new", OPT},
    {C, "EVP_CIPHER_CTX_free", OPT},
    {C, "EVP_CIPHER_CTX_set_key_length", OPT},
    {C, "EVP_CIPHER_CTX_set_padding", OPT},
    {C, "EVP_CIPHER_CTX_ctrl", OPT},
    {C, "EVP_CIPHER_CTX_rand_key", OPT},
    {C, "EVP_MD_flags", OPT},
    {C, "EVP_CIPHER_nid", OPT},
    {C, "EVP_CIPHER_block_size", OPT},
    {C, "EVP_CIPHER_key_length", OPT},
    {C, "EVP_CIPHER_iv_length", OPT},
    {C, "EVP_CIPHER_CTX_nid", OPT},
    {C, "EVP_CIPHER_CTX_block_size", OPT},
    {C, "EVP_CIPHER_CTX_key_length", OPT},
    {C, "EVP_CIPHER_CTX_iv_length", OPT},
    {C, "EVP_CIPHER_CTX_copy", OPT},
    {C, "EVP_add_cipher", OPT},
    {C, "EVP_add_digest", OPT},
    {C, "EVP_CIPHER_do_all", OPT},
    {C, "EVP_CIPHER_do_all_sorted", OPT},
    {C, "EVP_MD_do_all", OPT},
    {C, "EVP_MD_do_all_sorted", OPT},
    {C, "EVP_CIPHER_param_to_asn1", OPT},
    {C, "EVP_CIPHER_asn1_to_param", OPT},
    {C, "EVP_CIPHER_set_asn1_iv", OPT},
    {C, "EVP_CIPHER_get_asn1_iv", OPT},
    // password-based encryption
    {C, "PKCS5_PBE_keyivgen", OPT},
    {C, "PKCS5_PBKDF2_HMAC_SHA1", OPT},
    {C, "PKCS5_PBKDF2_HMAC", OPT},
    {C, "PKCS5_v2_PBE_keyivgen", OPT},
    {C, "PKCS5_PBE_add", OPT},
    {C, "EVP_PBE_CipherInit", OPT},
    {C, "EVP_PBE_alg_add_type", OPT},
    {C, "EVP_PBE_alg_add", OPT},
    {C, "EVP_PBE_find", OPT},
    {C, "EVP_PBE_cleanup", OPT},
    // public keys
    {C, "DH_free", ALL, Slot(&DH_free)},
    {C, "EVP_PKEY_type", ALL, Slot(&EVP_PKEY_type)},
    {C, "EVP_PKEY_new", ALL},
    {C, "EVP_PKEY_free", ALL, Slot(&EVP_PKEY_free)},
    {C, "EVP_PKEY_assign", ALL},
    {C, "RSA_free", OPT},
    {C, "RSA_generate_key_ex", OPT},
    {C, "RSA_generate_key", OPT},
    {C, "RSA_check_key", OPT},
    {C, "RSA_new", OPT},
    {C, "RSA_size", OPT},
    {C, "RSA_private_decrypt", OPT},
    {C, "RSA_public_encrypt", OPT},
    {C, "BN_new", OPT},
    {C, "BN_free", OPT},
    {C, "BN_hex2bn", OPT},
    {C, "BN_bn2dec", OPT},
    {C, "BN_bn2hex", OPT},
    {C, "BN_set_word", OPT},
    {C, "EVP_PKEY_decrypt_old", OPT},
    {C, "EVP_PKEY_encrypt_old", OPT},
    {C, "EVP_PKEY_id", OPT},
    {C, "EVP_PKEY_base_id", OPT},
    {C, "EVP_PKEY_bits", OPT},
    {C, "EVP_PKEY_size", OPT},
    {C, "EVP_PKEY_set_type", OPT},
    {C, "EVP_PKEY_set_type_str", OPT},
    {C, "EVP_PKEY_get0", OPT},
    {C, "EVP_PKEY_set1_RSA", OPT},
    {C, "EVP_PKEY_get1_RSA", OPT},
    {C, "EVP_PKEY_set1_DSA", OPT},
    {C, "EVP_PKEY_get1_DSA", OPT},
    {C, "EVP_PKEY_set1_DH", OPT},
    {C, "EVP_PKEY_get1_DH", OPT},
    {C, "EVP_PKEY_set1_EC_KEY", OPT},
    {C, "EVP_PKEY_get1_EC_KEY", OPT},
    {C, "EVP_PKEY_copy_parameters", OPT},
    {C, "EVP_PKEY_missing_parameters", OPT},
    {C, "EVP_PKEY_save_parameters", OPT},
    {C, "EVP_PKEY_cmp_parameters", OPT},
    {C, "EVP_PKEY_cmp", OPT},
    {C, "EVP_PKEY_print_public", OPT},
    {C, "EVP_PKEY_print_private", OPT},
    {C, "EVP_PKEY_print_params", OPT},
    {C, "EVP_PKEY_get_default_digest_nid", OPT},
    {C, "EVP_PKEY_asn1_get_count", OPT},
    {C, "EVP_PKEY_asn1_get0", OPT},
    {C, "EVP_PKEY_asn1_find", OPT},
    {C, "EVP_PKEY_asn1_find_str", OPT},
    {C, "EVP_PKEY_asn1_add0", OPT},
    {C, "EVP_PKEY_asn1_add_alias", OPT},
    {C, "EVP_PKEY_asn1_get0_info", OPT},
    {C, "EVP_PKEY_get0_asn1", OPT},
    {C, "EVP_PKEY_asn1_new", OPT},
    {C, "EVP_PKEY_asn1_copy", OPT},
    {C, "EVP_PKEY_asn1_free", OPT},
    {C, "EVP_PKEY_asn1_set_public", OPT},
    {C, "EVP_PKEY_asn1_set_private", OPT},
    {C, "EVP_PKEY_asn1_set_param", OPT},
    {C, "EVP_PKEY_asn1_set_free", OPT},
    {C, "EVP_PKEY_asn1_set_ctrl", OPT},
    {C, "EVP_PKEY_meth_find", OPT},
    {C, "EVP_PKEY_meth_new", OPT},
    {C, "EVP_PKEY_meth_get0_info", OPT},
    {C, "EVP_PKEY_meth_copy", OPT},
    {C, "EVP_PKEY_meth_free", OPT},
    {C, "EVP_PKEY_meth_add0", OPT},
    {C, "EVP_PKEY_CTX_new", OPT},
    {C, "EVP_PKEY_CTX_new_id", OPT},
    {C, "EVP_PKEY_CTX_dup", OPT},
    {C, "EVP_PKEY_CTX_free", OPT},
    {C, "EVP_PKEY_CTX_ctrl", OPT},
    {C, "EVP_PKEY_CTX_ctrl_str", OPT},
    {C, "EVP_PKEY_CTX_get_operation", OPT},
    {C, "EVP_PKEY_CTX_set0_keygen_info", OPT},
    {C, "EVP_PKEY_new_mac_key", OPT},
    {C, "EVP_PKEY_CTX_set_data", OPT},
    {C, "EVP_PKEY_CTX_get_data", OPT},
    {C, "EVP_PKEY_CTX_get0_pkey", OPT},
    {C, "EVP_PKEY_CTX_get0_peerkey", OPT},
    {C, "EVP_PKEY_CTX_set_app_data", OPT},
    {C, "EVP_PKEY_CTX_get_app_data", OPT},
    {C, "EVP_PKEY_sign_init", OPT},
    {C, "EVP_PKEY_sign", OPT},
    {C, "EVP_PKEY_verify_init", OPT},
    {C, "EVP_PKEY_verify", OPT},
    {C, "EVP_PKEY_verify_recover_init", OPT},
    {C, "EVP_PKEY_verify_recover", OPT},
    {C, "EVP_PKEY_encrypt_init", OPT},
    {C, "EVP_PKEY_encrypt", OPT},
    {C, "EVP_PKEY_decrypt_init", OPT},
    {C, "EVP_PKEY_decrypt", OPT},
    {C, "EVP_PKEY_derive_init", OPT},
    {C, "EVP_PKEY_derive_set_peer", OPT},
    {C, "EVP_PKEY_derive", OPT},
    {C, "EVP_PKEY_paramgen_init", OPT},
    {C, "EVP_PKEY_paramgen", OPT},
    {C, "EVP_PKEY_keygen_init", OPT},
    {C, "EVP_PKEY_keygen", OPT},
    {C, "EVP_PKEY_CTX_set_cb", OPT},
    {C, "EVP_PKEY_CTX_get_cb", OPT},
    {C, "EVP_PKEY_CTX_get_keygen_info", OPT},
    {C, "EVP_PKEY_meth_set_init", OPT},
    {C, "EVP_PKEY_meth_set_copy", OPT},
    {C, "EVP_PKEY_meth_set_cleanup", OPT},
    {C, "EVP_PKEY_meth_set_paramgen", OPT},
    {C, "EVP_PKEY_meth_set_keygen", OPT},
    {C, "EVP_PKEY_meth_set_sign", OPT},
    {C, "EVP_PKEY_meth_set_verify", OPT},
    {C, "EVP_PKEY_meth_set_verify_recover", OPT},
    {C, "EVP_PKEY_meth_set_signctx", OPT},
    {C, "EVP_PKEY_meth_set_verifyctx", OPT},
    {C, "EVP_PKEY_meth_set_encrypt", OPT},
    {C, "EVP_PKEY_meth_set_decrypt", OPT},
    {C, "EVP_PKEY_meth_set_derive", OPT},
    {C, "EVP_PKEY_meth_set_ctrl", OPT},
    // bio
    {C, "BIO_new", ALL, Slot(&BIO_new)},
    {C, "BIO_free", ALL, Slot(&BIO_free)},
    {C, "BIO_new_mem_buf", ALL, Slot(&BIO_new_mem_buf)},
    {C, "BIO_s_mem", ALL, Slot(&BIO_s_mem)},
    {C, "BIO_ctrl", ALL, Slot(&BIO_ctrl)},
    {C, "BIO_new_file", ALL},
    {C, "BIO_set_flags", OPT},
    {C, "BIO_push", OPT},
    {C, "BIO_pop", OPT},
    {C, "BIO_set_next", OPT},
    {C, "BIO_free_all", OPT},
    {C, "BIO_s_file", OPT},
    {C, "BIO_set_ex_data", OPT},
    {C, "BIO_get_ex_data", OPT},
    {C, "BIO_int_ctrl", OPT},
    {C, "BIO_ptr_ctrl", OPT},
    {C, "BIO_puts", OPT},
    {C, "BIO_read", OPT},
    {C, "BIO_write", OPT},
    {C, "BIO_f_md", OPT},
    {C, "BIO_f_base64", OPT},
    {C, "BIO_f_cipher", OPT},
    {C, "BIO_f_reliable", OPT},
    {C, "BIO_set_cipher", OPT},
    // random numbers
    {C, "RAND_bytes", ALL},
    {C, "RAND_pseudo_bytes", ALL},
    {C, "RAND_seed", ALL},
    {C, "RAND_add", ALL},
    {C, "RAND_status", ALL},
    {C, "RAND_screen", OPT, Slot(&RAND_screen)},  // Windows only
    {C, "RAND_event", OPT},  // Windows only
    {C, "RAND_cleanup", OPT, Slot(&RAND_cleanup)},
    // errors
    {C, "ERR_peek_last_error", ALL, Slot(&ERR_peek_last_error)},
    {C, "ERR_clear_error", ALL, Slot(&ERR_clear_error)},
    {C, "ERR_free_strings", G0, Slot(&ERR_free_strings)},
    {C, "ERR_put_error", OPT, Slot(&ERR_put_error)},
    {C, "ERR_new", OPT, Slot(&ERR_new)},
    {C, "ERR_set_debug", OPT, Slot(&ERR_set_debug)},
    {C, "ERR_set_error", OPT, Slot(&ERR_set_error)},
    {C, "ERR_get_error", OPT, Slot(&ERR_get_error)},
    {C, "ERR_peek_error", OPT, Slot(&ERR_peek_error)},
    {C, "ERR_error_string", OPT},
    {C, "ERR_error_string_n", OPT, Slot(&ERR_error_string_n)},
    {C, "ERR_lib_error_string", OPT},
    {C, "ERR_func_error_string", OPT},
    {C, "ERR_reason_error_string", OPT},
    {C, "ERR_load_ERR_strings", OPT},
    {C, "ERR_load_CRYPTO_strings", OPT},
    {C, "ERR_remove_thread_state", OPT, Slot(&ERR_remove_thread_state)},
    {C, "ERR_remove_state", OPT, Slot(&ERR_remove_state), nullptr, nullptr, kOnlyWithoutThreadState},  // required when ERR_remove_thread_state is absent
    // stacks
    {C, "sk_num", ALL, Slot(&sk_num), nullptr, nullptr, kStack},
    {C, "sk_new", ALL, Slot(&sk_new), nullptr, nullptr, kStack},
    {C, "sk_new_null", ALL, Slot(&sk_new_null), nullptr, nullptr, kStack},
    {C, "sk_free", ALL, Slot(&sk_free), nullptr, nullptr, kStack},
    {C, "sk_push", ALL, Slot(&sk_push), nullptr, nullptr, kStack},
    {C, "sk_dup", ALL, nullptr, nullptr, nullptr, kStack},
    {C, "sk_find", ALL, Slot(&sk_find), nullptr, nullptr, kStack},
    {C, "sk_value", ALL, Slot(&sk_value), nullptr, nullptr, kStack},
    {C, "sk_pop_free", OPT, Slot(&sk_pop_free), nullptr, nullptr, kStack},
    // hmac
    {C, "HMAC_Init_ex", ALL},
    {C, "HMAC_Update", ALL},
    {C, "HMAC_Final", ALL},
    {C, "HMAC_CTX_init", G0},
    {C, "HMAC_CTX_cleanup", G0},
    // objects and asn
    {C, "OBJ_obj2nid", ALL, Slot(&OBJ_obj2nid)},
    {C, "OBJ_nid2obj", ALL},
    {C, "OBJ_nid2ln", ALL, Slot(&OBJ_nid2ln)},
    {C, "OBJ_nid2sn", ALL},
    {C, "ASN1_INTEGER_set", ALL},
    {C, "ASN1_INTEGER_get", ALL},
    {C, "ASN1_INTEGER_to_BN", ALL},
    {C, "ASN1_STRING_type_new", ALL},
    {C, "ASN1_STRING_free", ALL},
    {C, "ASN1_dup", ALL, Slot(&ASN1_dup)},
    // single des
    {C, "DES_set_odd_parity", ALL},
    {C, "DES_set_key", ALL},
    {C, "DES_ecb_encrypt", ALL},
    {C, "DES_set_odd_parity", OPT, nullptr, "_ossl_old_des_set_odd_parity"},
    {C, "_ossl_old_des_set_key", OPT},
    {C, "DES_ecb_encrypt", OPT, nullptr, "_ossl_old_des_ecb_encrypt"},
    // fips
    {C, "FIPS_mode_set", OPT},
    {C, "FIPS_mode", OPT},
};

constexpr size_t kEntryCount = std::size(GEntries);
void* GValues[kEntryCount];  // what each entry resolved to

std::mutex GStateLock;  // the folder, the failure list and the handles
String GLibPath;
String GLibVersionText;
std::vector<String> GFailedLoadList;
TLibHandle GCryptoLib = nullptr;
TLibHandle GSslLib = nullptr;
uint8_t GLoadedGeneration = 2;
bool GHMACReturnsStatus = false;

std::mutex GLoadedLock;  // the lock of SSLLibraryLoaded: serialises start-up
bool GLoaded = false;
uint32_t GLibraryVersion = 0;
std::unique_ptr<std::mutex> GInfoLock, GPasswordLock, GVerifyLock;
std::mutex GLockListLock;
std::vector<std::unique_ptr<std::mutex>> GLockList;

const char* CryptoFileName(uint8_t AGeneration) {
  switch (AGeneration) {
    case 0: return "libcrypto.so.1.0.0";
    case 1: return "libcrypto.so.1.1";
    default: return "libcrypto.so.3";
  }
}

const char* SslFileName(uint8_t AGeneration) {
  switch (AGeneration) {
    case 0: return "libssl.so.1.0.0";
    case 1: return "libssl.so.1.1";
    default: return "libssl.so.3";
  }
}

constexpr char kSecondSslFileName[] = "libssl.so";

uint8_t ClampGeneration(uint8_t AValue) { return AValue > 2 ? 2 : AValue; }

// The name an entry is looked up under in a generation.
std::string LookupName(const TSSLEntry& AEntry, uint8_t AGeneration) {
  if (AGeneration == 2 && AEntry.Generation2) return AEntry.Generation2;
  if ((AEntry.Flags & kStack) && AGeneration >= 1) return std::string("OPENSSL_") + AEntry.Name;
  return AEntry.Name;
}

bool RequiredIn(const TSSLEntry& AEntry, uint8_t AGeneration) { return (AEntry.Required >> AGeneration) & 1; }

// The platform's loader, with the floating-point environment kept as it was: a
// library's start-up code may change the control word or leave exceptions pending.
TLibHandle LoadOneFile(const String& AFileName) {
  std::fenv_t env;
  std::fegetenv(&env);
  TLibHandle h = LoadDynLibrary(AFileName);
  std::fesetenv(&env);
  std::feclearexcept(FE_ALL_EXCEPT);
  return h;
}

size_t EntryIndex(const char* AName) {
  for (size_t i = 0; i < kEntryCount; ++i)
    if (std::strcmp(GEntries[i].Name, AName) == 0) return i;
  return kEntryCount;
}

void* EntryValue(const char* AName) {
  const size_t i = EntryIndex(AName);
  return i < kEntryCount ? GValues[i] : nullptr;
}

template <class TFunc>
TFunc EntryAs(const char* AName) {
  return reinterpret_cast<TFunc>(EntryValue(AName));
}

void ClearTable() {
  for (size_t i = 0; i < kEntryCount; ++i) {
    GValues[i] = nullptr;
    if (GEntries[i].Typed) *GEntries[i].Typed = nullptr;
  }
}

void ResolveTable() {
  const uint8_t gen = GLoadedGeneration;
  bool threadStateFound = false;
  for (size_t i = 0; i < kEntryCount; ++i) {
    const TSSLEntry& e = GEntries[i];
    bool required = RequiredIn(e, gen);
    void* p = nullptr;
    const std::string name = LookupName(e, gen);
    if (e.Flags & kOnlyWithoutThreadState) {
      if (!threadStateFound) {
        required = true;
        p = GetDynProc(e.Lib == S ? GSslLib : GCryptoLib, name.c_str());
      }
    } else {
      TLibHandle lib = e.Lib == S ? GSslLib : GCryptoLib;
      p = GetDynProc(lib, name.c_str());
      if (!p && e.Second) p = GetDynProc(lib, e.Second);
      if (std::strcmp(e.Name, "ERR_remove_thread_state") == 0) threadStateFound = p != nullptr;
    }
    GValues[i] = p;
    if (e.Typed) *e.Typed = p;
    if (!p && required) GFailedLoadList.push_back(FromUtf8(name));
  }
  // The HMAC entries of the 1.0 API return a status; earlier ones return nothing.
  GHMACReturnsStatus = false;
  if (SSLeay) {
    const unsigned long v = SSLeay();
    GHMACReturnsStatus = v >= 0x10000000UL && v < 0x20000000UL;
  }
}

bool NeedsQuotes(const String& AItem) {
  if (AItem.empty()) return false;
  for (char16_t c : AItem)
    if (c <= u' ' || c == u',' || c == u'"' || c == 0x7F) return true;
  return false;
}

}  // namespace

// ---- Folder and report ---------------------------------------------------------------------

void SetSSLLibPath(const String& APath) {
  std::lock_guard<std::mutex> guard(GStateLock);
  if (APath.empty())
    GLibPath.clear();
  else
    GLibPath = APath.back() == u'/' ? APath : APath + u"/";
}

String GetSSLLibPath() {
  std::lock_guard<std::mutex> guard(GStateLock);
  return GLibPath;
}

String GetSSLLibVersionText() {
  std::lock_guard<std::mutex> guard(GStateLock);
  return GLibVersionText;
}

String ProgramFolder() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return String();
  String s = FromUtf8(exe.string());
  const auto slash = s.rfind(u'/');
  return slash == String::npos ? String() : s.substr(0, slash + 1);
}

std::vector<String> SSLFailedLoadList() {
  std::lock_guard<std::mutex> guard(GStateLock);
  return GFailedLoadList;
}

String GetSSLLoadFailures() {
  std::lock_guard<std::mutex> guard(GStateLock);
  String out;
  for (size_t i = 0; i < GFailedLoadList.size(); ++i) {
    if (i > 0) out += u',';
    const String& item = GFailedLoadList[i];
    if (NeedsQuotes(item)) {
      out += u'"';
      for (char16_t c : item) {
        if (c == u'"') out += u'"';
        out += c;
      }
      out += u'"';
    } else {
      out += item;
    }
  }
  return out;
}

TLibHandle GetSSLCryptoLibrary() {
  std::lock_guard<std::mutex> guard(GStateLock);
  return GCryptoLib;
}

TLibHandle GetSSLLibrary() {
  std::lock_guard<std::mutex> guard(GStateLock);
  return GSslLib;
}

void* GetSSLEntry(const char* AName) { return EntryValue(AName); }

std::vector<std::string> SSLTableNames(uint8_t AGeneration, bool ASslLibrary) {
  std::vector<std::string> out;
  for (const TSSLEntry& e : GEntries)
    if ((e.Lib == S) == ASslLibrary) out.push_back(LookupName(e, ClampGeneration(AGeneration)));
  return out;
}

std::vector<std::string> SSLRequiredNames(uint8_t AGeneration, bool ASslLibrary) {
  const uint8_t gen = ClampGeneration(AGeneration);
  std::vector<std::string> out;
  for (const TSSLEntry& e : GEntries)
    if ((e.Lib == S) == ASslLibrary && (RequiredIn(e, gen) || (e.Flags & kOnlyWithoutThreadState)))
      out.push_back(LookupName(e, gen));
  return out;
}

uint8_t SSLLoadedAPIVersion() {
  std::lock_guard<std::mutex> guard(GStateLock);
  return GCryptoLib ? GLoadedGeneration : ClampGeneration(OpenSSLAPIVersion);
}

uint32_t SSLLibraryVersion() { return GLibraryVersion; }

bool SSLHMACReturnsStatus() { return GHMACReturnsStatus; }

// ---- Loading -----------------------------------------------------------------------------------

bool LoadSSLLibraries() {
  std::lock_guard<std::mutex> guard(GStateLock);
  if (GCryptoLib && GSslLib && GFailedLoadList.empty()) return true;
  GFailedLoadList.clear();
  if (!GCryptoLib) {
    const uint8_t gen = ClampGeneration(OpenSSLAPIVersion);
    const String name = GLibPath + FromUtf8(CryptoFileName(gen));
    GCryptoLib = LoadOneFile(name);
    if (!GCryptoLib) {
      GFailedLoadList.push_back(Format(RSOSSLFailedToLoad, {name}));
      return false;
    }
    GLoadedGeneration = gen;
  }
  if (!GSslLib) {
    const String first = GLibPath + FromUtf8(SslFileName(GLoadedGeneration));
    GSslLib = LoadOneFile(first);
    if (!GSslLib) GSslLib = LoadOneFile(GLibPath + FromUtf8(kSecondSslFileName));
    if (!GSslLib) {
      GFailedLoadList.push_back(Format(RSOSSLFailedToLoad, {first}));
      return false;
    }
  }
  ResolveTable();
  return GFailedLoadList.empty();
}

void UnloadSSLLibraries() {
  std::lock_guard<std::mutex> guard(GStateLock);
  if (GSslLib) {
    if (SSL_COMP_free_compression_methods) {
      SSL_COMP_free_compression_methods();
    } else if (SSLeay && SSLeay() == 0x0090801FUL && SSL_COMP_get_compression_methods && sk_pop_free &&
               CRYPTO_free) {
      // The library's own free has the 1.0 form here: it takes the block alone.
      sk_pop_free(SSL_COMP_get_compression_methods(),
                  reinterpret_cast<TStackItemFree>(reinterpret_cast<void*>(CRYPTO_free)));
    }
    if (CRYPTO_cleanup_all_ex_data) CRYPTO_cleanup_all_ex_data();
    if (ERR_free_strings) ERR_free_strings();
    if (ERR_remove_thread_state)
      ERR_remove_thread_state(nullptr);
    else if (ERR_remove_state)
      ERR_remove_state(0);
    if (EVP_cleanup) EVP_cleanup();
    FreeDynLibrary(GSslLib);
    GSslLib = nullptr;
  }
  if (GCryptoLib) {
    FreeDynLibrary(GCryptoLib);
    GCryptoLib = nullptr;
  }
  ClearTable();
}

// ---- Start-up and shutdown -------------------------------------------------------------------

bool OpenSSLStartup() {
  std::lock_guard<std::mutex> guard(GLoadedLock);
  if (GLoaded) return true;
  if (!LoadSSLLibraries()) return false;
  if (SSLLoadedAPIVersion() == 0) {
    OpenSSL_add_all_ciphers();
    OpenSSL_add_all_digests();
    if (RAND_screen) RAND_screen();
    SSL_load_error_strings();
    if (SSL_library_init() <= 0) return false;
    GInfoLock = std::make_unique<std::mutex>();
    GPasswordLock = std::make_unique<std::mutex>();
    GVerifyLock = std::make_unique<std::mutex>();
    {
      std::lock_guard<std::mutex> list(GLockListLock);
      GLockList.clear();
      const int n = CRYPTO_num_locks();
      for (int i = 0; i < n; ++i) GLockList.push_back(std::make_unique<std::mutex>());
    }
    CRYPTO_set_locking_callback(SSLLockingCallback);
  } else {
    GInfoLock = std::make_unique<std::mutex>();
    GPasswordLock = std::make_unique<std::mutex>();
    GVerifyLock = std::make_unique<std::mutex>();
    GLibraryVersion = static_cast<uint32_t>(OpenSSL_version_num());
  }
  GLoaded = true;
  return true;
}

void OpenSSLShutdown() {
  std::lock_guard<std::mutex> guard(GLoadedLock);
  if (CRYPTO_set_locking_callback) CRYPTO_set_locking_callback(nullptr);
  if (RAND_cleanup) RAND_cleanup();
  UnloadSSLLibraries();
  GInfoLock.reset();
  GPasswordLock.reset();
  GVerifyLock.reset();
  {
    std::lock_guard<std::mutex> list(GLockListLock);
    GLockList.clear();
  }
  GLibraryVersion = 0;
  GLoaded = false;
}

bool SSLLibraryLoaded() {
  std::lock_guard<std::mutex> guard(GLoadedLock);
  return GLoaded;
}

std::mutex* SSLInfoCallbackLock() { return GInfoLock.get(); }
std::mutex* SSLPasswordCallbackLock() { return GPasswordLock.get(); }
std::mutex* SSLVerifyCallbackLock() { return GVerifyLock.get(); }

size_t SSLLockCount() {
  std::lock_guard<std::mutex> list(GLockListLock);
  return GLockList.size();
}

extern "C" void SSLLockingCallback(int mode, int n, const char*, int) {
  std::mutex* lock = nullptr;
  {
    std::lock_guard<std::mutex> list(GLockListLock);
    if (n >= 0 && static_cast<size_t>(n) < GLockList.size()) lock = GLockList[static_cast<size_t>(n)].get();
  }
  if (!lock) return;
  if (mode & 1)
    lock->lock();
  else
    lock->unlock();
}

// ---- Availability -----------------------------------------------------------------------------

bool IsOpenSSL_SSLv2_Available() { return SSLv2_method && SSLv2_server_method && SSLv2_client_method; }
bool IsOpenSSL_SSLv3_Available() { return SSLv3_method && SSLv3_server_method && SSLv3_client_method; }
bool IsOpenSSL_TLSv1_0_Available() { return TLSv1_method && TLSv1_server_method && TLSv1_client_method; }
bool IsOpenSSL_TLSv1_1_Available() { return TLSv1_1_method && TLSv1_1_server_method && TLSv1_1_client_method; }
bool IsOpenSSL_TLSv1_2_Available() { return TLSv1_2_method && TLSv1_2_server_method && TLSv1_2_client_method; }
bool IsOpenSSL_1x_OrLater() { return SSLLoadedAPIVersion() >= 1; }

// ---- Macro helpers ------------------------------------------------------------------------------

namespace {
constexpr int SSL_CTRL_SET_TMP_DH = 3;
constexpr int SSL_CTRL_OPTIONS = 32;
constexpr int SSL_CTRL_MODE = 33;
constexpr int SSL_CTRL_SET_TLSEXT_HOSTNAME = 55;
constexpr int SSL_CTRL_CLEAR_OPTIONS = 77;
constexpr int SSL_CTRL_CHAIN = 88;
constexpr int SSL_CTRL_CHAIN_CERT = 89;
constexpr int SSL_CTRL_SET_ECDH_AUTO = 94;
constexpr int SSL_CTRL_SET_MIN_PROTO_VERSION = 123;
constexpr int SSL_CTRL_SET_MAX_PROTO_VERSION = 124;
constexpr int SSL_CTRL_GET_MIN_PROTO_VERSION = 130;
constexpr int SSL_CTRL_GET_MAX_PROTO_VERSION = 131;
constexpr int BIO_CTRL_INFO = 3;
constexpr int BIO_CTRL_PENDING = 10;
using TOptionsFunc = unsigned long (*)(SSL_CTX*, unsigned long);
using TGetOptionsFunc = unsigned long (*)(const SSL_CTX*);
}  // namespace

// From the 1.1 API on the options are set through functions; the control codes of the
// 1.0 API are no longer understood there.
long SSL_CTX_set_options(SSL_CTX* ctx, long options) {
  if (auto f = EntryAs<TOptionsFunc>("SSL_CTX_set_options")) return static_cast<long>(f(ctx, options));
  return SSL_CTX_ctrl(ctx, SSL_CTRL_OPTIONS, options, nullptr);
}

long SSL_CTX_clear_options(SSL_CTX* ctx, long options) {
  if (auto f = EntryAs<TOptionsFunc>("SSL_CTX_clear_options")) return static_cast<long>(f(ctx, options));
  return SSL_CTX_ctrl(ctx, SSL_CTRL_CLEAR_OPTIONS, options, nullptr);
}

long SSL_CTX_get_options(SSL_CTX* ctx) {
  if (auto f = EntryAs<TGetOptionsFunc>("SSL_CTX_get_options")) return static_cast<long>(f(ctx));
  return SSL_CTX_ctrl(ctx, SSL_CTRL_OPTIONS, 0, nullptr);
}

long SSL_CTX_set_mode(SSL_CTX* ctx, long mode) { return SSL_CTX_ctrl(ctx, SSL_CTRL_MODE, mode, nullptr); }
long SSL_CTX_set_min_proto_version(SSL_CTX* ctx, long version) {
  return SSL_CTX_ctrl(ctx, SSL_CTRL_SET_MIN_PROTO_VERSION, version, nullptr);
}
long SSL_CTX_set_max_proto_version(SSL_CTX* ctx, long version) {
  return SSL_CTX_ctrl(ctx, SSL_CTRL_SET_MAX_PROTO_VERSION, version, nullptr);
}
long SSL_CTX_get_min_proto_version(SSL_CTX* ctx) {
  return SSL_CTX_ctrl(ctx, SSL_CTRL_GET_MIN_PROTO_VERSION, 0, nullptr);
}
long SSL_CTX_get_max_proto_version(SSL_CTX* ctx) {
  return SSL_CTX_ctrl(ctx, SSL_CTRL_GET_MAX_PROTO_VERSION, 0, nullptr);
}
long SSL_CTX_set_tmp_dh(SSL_CTX* ctx, DH* dh) { return SSL_CTX_ctrl(ctx, SSL_CTRL_SET_TMP_DH, 0, dh); }
long SSL_CTX_set_ecdh_auto(SSL_CTX* ctx, long onoff) {
  return SSL_CTX_ctrl(ctx, SSL_CTRL_SET_ECDH_AUTO, onoff, nullptr);
}
long SSL_CTX_add0_chain_cert(SSL_CTX* ctx, X509* cert) { return SSL_CTX_ctrl(ctx, SSL_CTRL_CHAIN_CERT, 0, cert); }
long SSL_CTX_clear_chain_certs(SSL_CTX* ctx) { return SSL_CTX_ctrl(ctx, SSL_CTRL_CHAIN, 0, nullptr); }

long SSL_set_tlsext_host_name(SSL* ssl, const String& AName) {
  std::string name = ToUtf8(AName);
  return SSL_ctrl(ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, 0, name.data());
}

long BIO_get_mem_data(BIO* bio, char** out) { return BIO_ctrl(bio, BIO_CTRL_INFO, 0, out); }
long BIO_ctrl_pending(BIO* bio) { return BIO_ctrl(bio, BIO_CTRL_PENDING, 0, nullptr); }
int SSL_set_app_data(SSL* ssl, void* p) { return SSL_set_ex_data(ssl, 0, p); }
void* SSL_get_app_data(const SSL* ssl) { return SSL_get_ex_data(ssl, 0); }
void* X509_STORE_CTX_get_app_data(const X509_STORE_CTX* ctx) { return X509_STORE_CTX_get_ex_data(ctx, 0); }
int X509_LOOKUP_load_file(X509_LOOKUP* lookup, const char* file, long type) {
  return X509_LOOKUP_ctrl ? X509_LOOKUP_ctrl(lookup, 1, file, type, nullptr) : 0;
}

X509_NAME* X509_NAME_dup(const X509_NAME* name) {
  auto i2d = EntryAs<Ti2d_of_void*>("i2d_X509_NAME");
  auto d2i = EntryAs<Td2i_of_void*>("d2i_X509_NAME");
  if (!ASN1_dup || !i2d || !d2i || !name) return nullptr;
  return static_cast<X509_NAME*>(ASN1_dup(i2d, d2i, name));
}

void* OPENSSL_malloc(size_t n) { return CRYPTO_malloc(n, "", 0); }

int ERR_GET_LIB(uint32_t code) {
  // The 3.x API packs the library into bits 23 to 30 and the reason into bits 0 to 22.
  return SSLLoadedAPIVersion() >= 2 ? static_cast<int>((code >> 23) & 0xFF) : static_cast<int>(code >> 24);
}

int ERR_GET_REASON(uint32_t code) {
  return SSLLoadedAPIVersion() >= 2 ? static_cast<int>(code & 0x7FFFFF) : static_cast<int>(code & 0xFFF);
}

void SSLPutError(int ALib, int AFunction, int AReason) {
  if (SSLLoadedAPIVersion() >= 2) {
    if (ERR_new && ERR_set_debug && ERR_set_error) {
      ERR_new();
      ERR_set_debug(nullptr, 0, nullptr);
      ERR_set_error(ALib, AReason, nullptr);
    }
  } else if (ERR_put_error) {
    ERR_put_error(ALib, AFunction, AReason, nullptr, 0);
  }
}

void X509err(int AFunction, int AReason) { SSLPutError(11, AFunction, AReason); }
void SSLerr(int AFunction, int AReason) { SSLPutError(20, AFunction, AReason); }

unsigned long X509NameHash(const X509_NAME* name) {
  void* entry = EntryValue("X509_NAME_hash");
  if (!entry || !name) return 0;
  if (SSLLoadedAPIVersion() >= 2) {
    using THashEx = unsigned long (*)(const X509_NAME*, void*, const char*, int*);
    int ok = 0;
    return reinterpret_cast<THashEx>(entry)(name, nullptr, nullptr, &ok);
  }
  return reinterpret_cast<unsigned long (*)(const X509_NAME*)>(entry)(name);
}

int EVPMDSize(const EVP_MD* md) {
  auto f = EntryAs<int (*)(const EVP_MD*)>("EVP_MD_size");
  return f && md ? f(md) : 0;
}

String SSLErrorCodeText(uint32_t AErrCode) {
  char buffer[160] = {};
  if (ERR_error_string_n) ERR_error_string_n(AErrCode, buffer, sizeof buffer);
  buffer[sizeof buffer - 1] = 0;
  String out;
  for (const char* p = buffer; *p; ++p) out += static_cast<char16_t>(static_cast<unsigned char>(*p));
  return out;
}

// ---- Error helpers --------------------------------------------------------------------------------

uint32_t EIdOpenSSLAPICryptoError::TakeQueuedError() {
  return ERR_get_error ? static_cast<uint32_t>(ERR_get_error()) : 0;
}

String EIdOpenSSLAPICryptoError::CodeMessage(uint32_t AErrCode, const String& AMsg) {
  const String text = SSLErrorCodeText(AErrCode);
  return AMsg.empty() ? text : AMsg + u"\r\n" + text;
}

int32_t EIdOpenSSLAPISSLError::SessionError(void* ASSL, int32_t ARetCode) {
  return SSL_get_error ? SSL_get_error(static_cast<SSL*>(ASSL), ARetCode) : SSL_ERROR_SSL;
}

void EIdOpenSSLAPISSLError::RaiseCode(int32_t AErrCode, int32_t ARetCode, const String& AMsg, TThrower AThrow) {
  const String prefix = AMsg.empty() ? String() : AMsg + u"\r\n";
  if (AErrCode == SSL_ERROR_SSL) EIdOSSLUnderlyingCryptoError::RaiseException(AMsg);
  if (AErrCode == SSL_ERROR_SYSCALL) {
    const uint32_t queued = ERR_get_error ? static_cast<uint32_t>(ERR_get_error()) : 0;
    if (queued != 0) EIdOSSLUnderlyingCryptoError::RaiseExceptionCode(queued, AMsg);
    if (ARetCode == 0) {
      AThrow(prefix + RSOSSLEOFViolation, SSL_ERROR_SYSCALL, 0);
    } else if (ARetCode == -1) {
      if (TIdStack* stack = GStack()) stack->RaiseLastSocketError();
    }
  }
  AThrow(prefix + SSLErrorCodeText(static_cast<uint32_t>(AErrCode)), AErrCode, ARetCode);
  throw EIdOpenSSLAPISSLError(prefix, AErrCode, ARetCode);  // not reached: AThrow raises
}

namespace {
// Program end: shut the libraries down once, then forget the folder.
struct TSSLProcessEnd {
  ~TSSLProcessEnd() {
    OpenSSLShutdown();
    std::lock_guard<std::mutex> guard(GStateLock);
    GFailedLoadList.clear();
    GLibPath.clear();
    GLibVersionText.clear();
  }
} GSSLProcessEnd;
}  // namespace

}  // namespace vyn
