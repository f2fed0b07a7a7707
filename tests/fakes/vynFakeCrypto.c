/* The functions of a stand-in crypto library that the binding calls while it starts,
   reports errors and shuts down, with a log of the calls. A name is left out when
   FAKE_OMIT_<name> is defined. */
#include <stdio.h>
#include <string.h>

static char calls[4096];

static void note(const char* what) {
  if (calls[0]) strncat(calls, ",", sizeof calls - strlen(calls) - 1);
  strncat(calls, what, sizeof calls - strlen(calls) - 1);
}

const char* fake_crypto_log(void) { return calls; }
void fake_crypto_log_reset(void) { calls[0] = 0; }

#define NOTED(name) \
  void name(void) { note(#name); }

#ifndef FAKE_OMIT_OpenSSL_add_all_ciphers
NOTED(OpenSSL_add_all_ciphers)
#endif
#ifndef FAKE_OMIT_OpenSSL_add_all_digests
NOTED(OpenSSL_add_all_digests)
#endif
#ifndef FAKE_OMIT_RAND_screen
NOTED(RAND_screen)
#endif
#ifndef FAKE_OMIT_RAND_cleanup
NOTED(RAND_cleanup)
#endif
#ifndef FAKE_OMIT_EVP_cleanup
NOTED(EVP_cleanup)
#endif
#ifndef FAKE_OMIT_ERR_free_strings
NOTED(ERR_free_strings)
#endif
#ifndef FAKE_OMIT_CRYPTO_cleanup_all_ex_data
NOTED(CRYPTO_cleanup_all_ex_data)
#endif
#ifndef FAKE_OMIT_OPENSSL_add_all_algorithms_noconf
NOTED(OPENSSL_add_all_algorithms_noconf)
#endif
#ifndef FAKE_OMIT_ERR_remove_thread_state
void ERR_remove_thread_state(const void* tid) { note(tid ? "ERR_remove_thread_state" : "ERR_remove_thread_state(null)"); }
#endif
#ifndef FAKE_OMIT_ERR_remove_state
void ERR_remove_state(unsigned long pid) { note(pid ? "ERR_remove_state" : "ERR_remove_state(0)"); }
#endif

int CRYPTO_num_locks(void) { return 5; }

typedef void (*locking_callback)(int, int, const char*, int);
static locking_callback locking;
void CRYPTO_set_locking_callback(locking_callback cb) {
  locking = cb;
  note(cb ? "CRYPTO_set_locking_callback" : "CRYPTO_set_locking_callback(null)");
}
void* fake_locking_callback(void) { return (void*)locking; }

unsigned long OpenSSL_version_num(void) { return 0x1010107fUL; }
#ifndef FAKE_OMIT_SSLeay
unsigned long SSLeay(void) { return 0x1000214fUL; }
#endif

/* The error queue: codes pushed by the test, taken in order. */
static unsigned long queue[8];
static int queued;
void fake_push_error(unsigned long code) {
  if (queued < 8) queue[queued++] = code;
}
unsigned long ERR_get_error(void) {
  if (!queued) return 0;
  unsigned long code = queue[0];
  memmove(queue, queue + 1, sizeof queue[0] * (size_t)(--queued));
  return code;
}
unsigned long ERR_peek_error(void) { return queued ? queue[0] : 0; }
unsigned long ERR_peek_last_error(void) { return queued ? queue[queued - 1] : 0; }
void ERR_clear_error(void) { queued = 0; }
void ERR_error_string_n(unsigned long code, char* buf, size_t len) {
  snprintf(buf, len, "error:%08lX:fake library::fake reason", code);
}
void ERR_put_error(int lib, int func, int reason, const char* file, int line) {
  char what[64];
  (void)file;
  (void)line;
  snprintf(what, sizeof what, "ERR_put_error(%d;%d;%d)", lib, func, reason);
  note(what);
}
