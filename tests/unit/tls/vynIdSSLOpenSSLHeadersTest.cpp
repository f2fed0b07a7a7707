#include "vynIdSSLOpenSSLHeaders.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <chrono>
#include <thread>

#include "vynIdIOHandlerStack.h"
#include "vynIdStack.h"

namespace vyn {
namespace {

const String kFakes = FromUtf8(VYN_FAKE_OPENSSL_DIR);

// Every test leaves the binding as a program finds it: nothing loaded, generation 2,
// no folder.
class OpenSSLBinding : public ::testing::Test {
protected:
  void TearDown() override {
    OpenSSLShutdown();
    for (TLibHandle h : FPinned) FreeDynLibrary(h);
    OpenSSLAPIVersion = 2;
    SetSSLLibPath(String());
  }

  void Use(uint8_t AGeneration, const char* AVariant) {
    OpenSSLAPIVersion = AGeneration;
    SetSSLLibPath(kFakes + u"/" + FromUtf8(AVariant));
  }

  // A handle of the test's own on a fake file, so that its call log stays readable
  // after the binding has unloaded it.
  TLibHandle Pin(const char* AVariant, const char* AFile) {
    TLibHandle h = LoadDynLibrary(kFakes + u"/" + FromUtf8(AVariant) + u"/" + FromUtf8(AFile));
    EXPECT_NE(h, nullptr) << ToUtf8(DynLibError());
    FPinned.push_back(h);
    return h;
  }

  static std::string Log(TLibHandle ALib, const char* AName) {
    auto f = reinterpret_cast<const char* (*)()>(GetDynProc(ALib, AName));
    return f ? f() : "<no log>";
  }

  template <class F>
  static F Fake(TLibHandle ALib, const char* AName) {
    auto f = reinterpret_cast<F>(GetDynProc(ALib, AName));
    EXPECT_NE(f, nullptr) << AName;
    return f;
  }

  std::vector<TLibHandle> FPinned;
};

TEST_F(OpenSSLBinding, LibraryFolderGetsOneTrailingDelimiter) {
  const struct {
    String Given, Stored;
  } cases[] = {{u"/opt/ssl", u"/opt/ssl/"}, {u"/opt/ssl/", u"/opt/ssl/"}, {u"", u""}};
  for (const auto& c : cases) {
    SetSSLLibPath(u"/before/");
    SetSSLLibPath(c.Given);
    EXPECT_EQ(GetSSLLibPath(), c.Stored) << ToUtf8(c.Given);
  }
}

TEST_F(OpenSSLBinding, FileNamesFolderAndFallback) {
  const String dir = kFakes + u"/";
  const struct {
    uint8_t Generation;
    const char* Variant;
    bool Loaded;
    std::vector<String> Failures;
    bool SslTried;
  } cases[] = {
      {0, "gen0", true, {}, true},
      {0, "gen0_second_ssl", true, {}, true},  // libssl.so.1.0.0 absent, libssl.so taken
      {1, "gen1", true, {}, true},
      // The crypto file missing: only its line, and no ssl file is opened.
      {1, "gen1_no_crypto", false, {u"Failed to load " + dir + u"gen1_no_crypto/libcrypto.so.1.1."}, false},
      // Both ssl names missing: the line names the first one.
      {1, "gen1_no_ssl", false, {u"Failed to load " + dir + u"gen1_no_ssl/libssl.so.1.1."}, false},
      // The files of another generation are not taken.
      {0, "gen1", false, {u"Failed to load " + dir + u"gen1/libcrypto.so.1.0.0."}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Variant);
    Use(c.Generation, c.Variant);
    EXPECT_EQ(LoadSSLLibraries(), c.Loaded);
    EXPECT_EQ(SSLFailedLoadList(), c.Failures);
    EXPECT_EQ(GetSSLLibrary() != nullptr, c.SslTried);
    UnloadSSLLibraries();
  }
}

TEST_F(OpenSSLBinding, MissingRequiredNamesAreListedInTableOrderAsLookedUp) {
  Use(1, "gen1_no_sk_num");
  EXPECT_FALSE(LoadSSLLibraries());
  EXPECT_EQ(SSLFailedLoadList(), std::vector<String>{u"OPENSSL_sk_num"});
  EXPECT_EQ(GetSSLLoadFailures(), u"OPENSSL_sk_num");
  // The files stay loaded and every name that was found stays bound.
  EXPECT_NE(GetSSLCryptoLibrary(), nullptr);
  EXPECT_NE(GetSSLEntry("sk_value"), nullptr);
  EXPECT_EQ(GetSSLEntry("sk_num"), nullptr);
  UnloadSSLLibraries();

  // Generation 0 without the stack name, without either name of
  // OpenSSL_add_all_algorithms, and without both error-state names; the ssl file
  // lacks the generation's peer-certificate name.
  Use(0, "gen0_missing");
  EXPECT_FALSE(LoadSSLLibraries());
  EXPECT_EQ(SSLFailedLoadList(), (std::vector<String>{u"SSL_get_peer_certificate", u"OpenSSL_add_all_algorithms",
                                                      u"ERR_remove_state", u"sk_num"}));
  EXPECT_EQ(GetSSLLoadFailures(), u"SSL_get_peer_certificate,OpenSSL_add_all_algorithms,ERR_remove_state,sk_num");
}

TEST_F(OpenSSLBinding, SecondNamesAndTheErrorStateRule) {
  Use(0, "gen0");  // has only OPENSSL_add_all_algorithms_noconf and ERR_remove_state
  ASSERT_TRUE(LoadSSLLibraries()) << ToUtf8(GetSSLLoadFailures());
  EXPECT_EQ(GetSSLEntry("OpenSSL_add_all_algorithms"),
            GetDynProc(GetSSLCryptoLibrary(), "OPENSSL_add_all_algorithms_noconf"));
  EXPECT_TRUE(SSLHMACReturnsStatus());  // SSLeay reports a 1.0 library
  EXPECT_EQ(ERR_remove_thread_state, nullptr);
  EXPECT_NE(ERR_remove_state, nullptr);
  UnloadSSLLibraries();

  Use(1, "gen1");  // has both: the second is then not looked up
  ASSERT_TRUE(LoadSSLLibraries()) << ToUtf8(GetSSLLoadFailures());
  EXPECT_NE(ERR_remove_thread_state, nullptr);
  EXPECT_EQ(ERR_remove_state, nullptr);
  EXPECT_FALSE(SSLHMACReturnsStatus());  // no SSLeay
}

TEST_F(OpenSSLBinding, ProgramFolderIsTheExecutablesFolder) {
  const String folder = ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), u'/');
  EXPECT_TRUE(std::filesystem::exists(ToUtf8(folder) + "vyn_unit_tests"));
}

TEST_F(OpenSSLBinding, FailureReportQuotesItemsWithBlanksCommasQuotesOrControls) {
  OpenSSLAPIVersion = 1;
  SetSSLLibPath(u"/nonexistent/a\"b");
  EXPECT_FALSE(LoadSSLLibraries());
  EXPECT_EQ(GetSSLLoadFailures(), u"\"Failed to load /nonexistent/a\"\"b/libcrypto.so.1.1.\"");

  // An empty folder leaves the search to the loader: the bare file name.
  SetSSLLibPath(String());
  EXPECT_FALSE(LoadSSLLibraries());
  EXPECT_EQ(SSLFailedLoadList(), std::vector<String>{u"Failed to load libcrypto.so.1.1."});
}

TEST_F(OpenSSLBinding, Generation0StartupInitialisesTheLibraryAndInstallsTheLocks) {
  TLibHandle crypto = Pin("gen0", "libcrypto.so.1.0.0");
  TLibHandle ssl = Pin("gen0", "libssl.so.1.0.0");
  Use(0, "gen0");
  ASSERT_TRUE(OpenSSLStartup()) << ToUtf8(GetSSLLoadFailures());
  EXPECT_EQ(Log(crypto, "fake_crypto_log"),
            "OpenSSL_add_all_ciphers,OpenSSL_add_all_digests,RAND_screen,CRYPTO_set_locking_callback");
  EXPECT_EQ(Log(ssl, "fake_ssl_log"), "SSL_load_error_strings,SSL_library_init");
  EXPECT_EQ(Fake<void* (*)()>(crypto, "fake_locking_callback")(), reinterpret_cast<void*>(&SSLLockingCallback));
  EXPECT_EQ(SSLLockCount(), 5u);  // as many as CRYPTO_num_locks reports
  EXPECT_NE(SSLInfoCallbackLock(), nullptr);
  EXPECT_NE(SSLPasswordCallbackLock(), nullptr);
  EXPECT_NE(SSLVerifyCallbackLock(), nullptr);

  // A second start-up does nothing.
  Fake<void (*)()>(crypto, "fake_crypto_log_reset")();
  Fake<void (*)()>(ssl, "fake_ssl_log_reset")();
  EXPECT_TRUE(OpenSSLStartup());
  EXPECT_EQ(Log(crypto, "fake_crypto_log"), "");
  EXPECT_EQ(Log(ssl, "fake_ssl_log"), "");

  OpenSSLShutdown();
  EXPECT_EQ(Log(crypto, "fake_crypto_log"),
            "CRYPTO_set_locking_callback(null),RAND_cleanup,CRYPTO_cleanup_all_ex_data,ERR_free_strings,"
            "ERR_remove_state(0),EVP_cleanup");
  EXPECT_EQ(Log(ssl, "fake_ssl_log"), "SSL_COMP_free_compression_methods");
  EXPECT_FALSE(SSLLibraryLoaded());
  EXPECT_EQ(SSLLockCount(), 0u);
  EXPECT_EQ(SSLInfoCallbackLock(), nullptr);
  EXPECT_EQ(GetSSLCryptoLibrary(), nullptr);
  EXPECT_EQ(SSL_CTX_new, nullptr);
}

TEST_F(OpenSSLBinding, Generation0LibraryInitFailureCreatesNoLocksAndIsRetried) {
  TLibHandle ssl = Pin("gen0", "libssl.so.1.0.0");
  Fake<void (*)(int)>(ssl, "fake_set_library_init_result")(0);
  Use(0, "gen0");
  EXPECT_FALSE(OpenSSLStartup());
  EXPECT_FALSE(SSLLibraryLoaded());
  EXPECT_EQ(SSLInfoCallbackLock(), nullptr);
  EXPECT_EQ(SSLLockCount(), 0u);
  Fake<void (*)(int)>(ssl, "fake_set_library_init_result")(1);
  EXPECT_TRUE(OpenSSLStartup());
}

TEST_F(OpenSSLBinding, Generation0LockingCallbackLocksAndUnlocksTheNumberedLock) {
  Use(0, "gen0");
  ASSERT_TRUE(OpenSSLStartup());
  SSLLockingCallback(1, 2, "file", 1);  // lock 2 held by this thread
  std::atomic<bool> gotIt{false};
  std::thread other([&] {
    SSLLockingCallback(1, 2, "file", 2);
    gotIt = true;
    SSLLockingCallback(0, 2, "file", 3);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(gotIt);
  SSLLockingCallback(1, 3, "file", 4);  // another number is free
  SSLLockingCallback(0, 3, "file", 5);
  SSLLockingCallback(0, 2, "file", 6);
  other.join();
  EXPECT_TRUE(gotIt);
}

TEST_F(OpenSSLBinding, Generation1StartupOnlyRecordsTheVersion) {
  TLibHandle crypto = Pin("gen1", "libcrypto.so.1.1");
  TLibHandle ssl = Pin("gen1", "libssl.so.1.1");
  Use(1, "gen1");
  ASSERT_TRUE(OpenSSLStartup()) << ToUtf8(GetSSLLoadFailures());
  EXPECT_EQ(Log(crypto, "fake_crypto_log"), "");
  EXPECT_EQ(Log(ssl, "fake_ssl_log"), "");
  EXPECT_EQ(SSLLibraryVersion(), 0x1010107Fu);
  EXPECT_EQ(SSLLockCount(), 0u);
  EXPECT_NE(SSLVerifyCallbackLock(), nullptr);
  EXPECT_TRUE(IsOpenSSL_1x_OrLater());
}

TEST_F(OpenSSLBinding, HelpersFollowTheLoadedGenerationNotTheNextOne) {
  TLibHandle crypto = Pin("gen1", "libcrypto.so.1.1");
  Use(1, "gen1");
  ASSERT_TRUE(OpenSSLStartup());
  OpenSSLAPIVersion = 2;
  EXPECT_EQ(SSLLoadedAPIVersion(), 1);
  X509err(101, 104);
  SSLerr(173, 2);
  EXPECT_EQ(Log(crypto, "fake_crypto_log"), "ERR_put_error(11;101;104),ERR_put_error(20;173;2)");
  // The 1.x packing of error codes: library in the top byte, reason in the low 12 bits.
  EXPECT_EQ(ERR_GET_LIB(0x0906D06Cu), 9);
  EXPECT_EQ(ERR_GET_REASON(0x0906D06Cu), 108);
}

TEST_F(OpenSSLBinding, CryptoErrorMessagesAndClasses) {
  TLibHandle crypto = Pin("gen1", "libcrypto.so.1.1");
  Use(1, "gen1");
  ASSERT_TRUE(OpenSSLStartup());
  const String text = u"error:00001234:fake library::fake reason";
  try {
    EIdOpenSSLAPICryptoError::RaiseExceptionCode(0x1234, String());
  } catch (const EIdOpenSSLAPICryptoError& e) {
    EXPECT_EQ(e.Message(), text);
    EXPECT_EQ(e.ErrorCode(), 0x1234u);
  }
  try {
    EIdOpenSSLAPICryptoError::RaiseExceptionCode(0x1234, u"Error connecting with SSL.");
  } catch (const EIdOpenSSLAPICryptoError& e) {
    EXPECT_EQ(e.Message(), u"Error connecting with SSL.\r\n" + text);
  }
  // RaiseException takes the queued code and raises the class it is called on.
  Fake<void (*)(unsigned long)>(crypto, "fake_push_error")(0x77);
  EXPECT_THROW(
      {
        try {
          EIdOSSLLoadingCertError::RaiseException(u"Could not load certificate.");
        } catch (const EIdOSSLLoadingCertError& e) {
          EXPECT_EQ(e.ErrorCode(), 0x77u);
          EXPECT_EQ(e.Message(), u"Could not load certificate.\r\nerror:00000077:fake library::fake reason");
          throw;
        }
      },
      EIdOSSLLoadingCertError);
}

TEST_F(OpenSSLBinding, SessionErrorRules) {
  TLibHandle crypto = Pin("gen1", "libcrypto.so.1.1");
  TLibHandle ssl = Pin("gen1", "libssl.so.1.1");
  Use(1, "gen1");
  ASSERT_TRUE(OpenSSLStartup());
  auto push = Fake<void (*)(unsigned long)>(crypto, "fake_push_error");
  const auto text = [](uint32_t ACode) { return SSLErrorCodeText(ACode); };

  // A system-call error with a result of 0 and nothing queued: the protocol's EOF.
  for (const String& msg : {String(), String(u"Error connecting with SSL.")}) {
    try {
      EIdOSSLConnectError::RaiseExceptionCode(5, 0, msg);
      ADD_FAILURE();
    } catch (const EIdOSSLConnectError& e) {
      const String prefix = msg.empty() ? String() : msg + u"\r\n";
      EXPECT_EQ(e.Message(), prefix + u"EOF was observed that violates the protocol");
      EXPECT_EQ(e.ErrorCode(), 5);
      EXPECT_EQ(e.RetCode(), 0);
    }
  }
  // The same with a queued error, and a protocol error: the queue's error.
  for (int code : {5, 1}) {
    push(0x99);
    try {
      EIdOSSLConnectError::RaiseExceptionCode(code, -1, u"m");
      ADD_FAILURE();
    } catch (const EIdOSSLUnderlyingCryptoError& e) {
      EXPECT_EQ(e.ErrorCode(), 0x99u);
      EXPECT_EQ(e.Message(), u"m\r\n" + text(0x99));
    }
  }
  // Any other code: the invoked class with the text of that code.
  try {
    EIdOSSLAcceptError::RaiseExceptionCode(2, -1, u"m");
    ADD_FAILURE();
  } catch (const EIdOSSLAcceptError& e) {
    EXPECT_EQ(e.Message(), u"m\r\n" + text(2));
    EXPECT_EQ(e.ErrorCode(), 2);
    EXPECT_EQ(e.RetCode(), -1);
  }
  // A system-call error with -1: the socket stack's last error.
  TIdIOHandlerStack holder;  // holds the stack
  GStack()->WSSetLastError(Id_WSAECONNRESET);
  try {
    EIdOpenSSLAPISSLError::RaiseExceptionCode(5, -1, String());
    ADD_FAILURE();
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), Id_WSAECONNRESET);
  }
  // RaiseException asks the session for the code.
  Fake<void (*)(int)>(ssl, "fake_set_ssl_error")(5);
  EXPECT_THROW(EIdOSSLFDSetError::RaiseException(nullptr, 0, u"Error setting File Descriptor for SSL"),
               EIdOSSLFDSetError);
}

TEST_F(OpenSSLBinding, TheInstalledGeneration2LoadsCompletely) {
  OpenSSLAPIVersion = 2;
  ASSERT_TRUE(OpenSSLStartup()) << ToUtf8(GetSSLLoadFailures());
  EXPECT_TRUE(SSLFailedLoadList().empty());
  // Generation names and the stack prefix.
  EXPECT_EQ(reinterpret_cast<void*>(SSL_get_peer_certificate),
            GetDynProc(GetSSLLibrary(), "SSL_get1_peer_certificate"));
  EXPECT_EQ(reinterpret_cast<void*>(sk_num), GetDynProc(GetSSLCryptoLibrary(), "OPENSSL_sk_num"));
  EXPECT_GE(SSLLibraryVersion(), 0x30000000u);
  EXPECT_TRUE(IsOpenSSL_TLSv1_2_Available());
  EXPECT_FALSE(IsOpenSSL_SSLv3_Available());
  // The 3.x packing of error codes.
  X509err(101, 104);
  const uint32_t code = static_cast<uint32_t>(ERR_get_error());
  EXPECT_EQ(ERR_GET_LIB(code), 11);
  EXPECT_EQ(ERR_GET_REASON(code), 104);
}

}  // namespace
}  // namespace vyn
