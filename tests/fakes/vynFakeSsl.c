/* The functions of a stand-in ssl library that the binding calls while it starts,
   reports errors and shuts down, with a log of the calls. */
#include <string.h>

static char calls[4096];

static void note(const char* what) {
  if (calls[0]) strncat(calls, ",", sizeof calls - strlen(calls) - 1);
  strncat(calls, what, sizeof calls - strlen(calls) - 1);
}

const char* fake_ssl_log(void) { return calls; }
void fake_ssl_log_reset(void) { calls[0] = 0; }

static int library_init_result = 1;
void fake_set_library_init_result(int result) { library_init_result = result; }
int SSL_library_init(void) {
  note("SSL_library_init");
  return library_init_result;
}
void SSL_load_error_strings(void) { note("SSL_load_error_strings"); }
void SSL_COMP_free_compression_methods(void) { note("SSL_COMP_free_compression_methods"); }

static int ssl_error = 5;
void fake_set_ssl_error(int error) { ssl_error = error; }
int SSL_get_error(const void* ssl, int ret) {
  (void)ssl;
  (void)ret;
  return ssl_error;
}
