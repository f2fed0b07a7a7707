#include "vynIdSSLOpenSSL.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "vynOpenSSLPeer.h"

namespace vyn {
namespace {

using test::TTestCertificates;

const TIdSSLVersions kTLSVersions{sslvTLSv1, sslvTLSv1_1, sslvTLSv1_2, sslvTLSv1_3};

TEST(SSLOptions, MethodAndVersionsFollowEachOther) {
  TIdSSLOptions o;
  EXPECT_EQ(o.Method(), sslvTLSv1);
  EXPECT_EQ(o.SSLVersions(), TIdSSLVersions{sslvTLSv1});

  o.SetMethod(sslvSSLv23);
  EXPECT_EQ(o.SSLVersions(), kAllSSLVersions);
  o.SetMethod(sslvTLSv1_3);
  EXPECT_EQ(o.SSLVersions(), TIdSSLVersions{sslvTLSv1_3});

  const struct {
    TIdSSLVersions Given;
    TIdSSLVersion Method;
    TIdSSLVersions Stored;
  } cases[] = {
      {{sslvTLSv1_2}, sslvTLSv1_2, {sslvTLSv1_2}},
      {kTLSVersions, sslvSSLv23, kTLSVersions},
      {{sslvSSLv23}, sslvSSLv23, kAllSSLVersions},
      {{sslvSSLv23, sslvTLSv1_2}, sslvSSLv23, {sslvTLSv1_2}},
      {{}, sslvSSLv23, {}},
  };
  for (const auto& c : cases) {
    o.SetMethod(sslvTLSv1);
    o.SetSSLVersions(c.Given);
    EXPECT_EQ(o.Method(), c.Method);
    EXPECT_EQ(o.SSLVersions(), c.Stored);
  }
}

TEST(SSLOptions, AssignCopiesEveryFieldAndRefusesOtherClasses) {
  TIdSSLOptions a;
  a.SetRootCertFile(u"r");
  a.SetCertFile(u"c");
  a.SetKeyFile(u"k");
  a.SetDHParamsFile(u"d");
  a.SetSSLVersions({sslvTLSv1_2, sslvTLSv1_3});
  a.SetMode(sslmServer);
  a.SetVerifyMode({sslvrfPeer, sslvrfFailIfNoPeerCert});
  a.SetVerifyDepth(4);
  a.SetVerifyDirs(u"/etc/ssl/certs");
  a.SetCipherList(u"HIGH");
  TIdSSLOptions_Internal b(nullptr);
  b.Assign(&a);
  EXPECT_EQ(b.RootCertFile(), u"r");
  EXPECT_EQ(b.CertFile(), u"c");
  EXPECT_EQ(b.KeyFile(), u"k");
  EXPECT_EQ(b.DHParamsFile(), u"d");
  EXPECT_EQ(b.Method(), sslvSSLv23);
  EXPECT_EQ(b.SSLVersions(), (TIdSSLVersions{sslvTLSv1_2, sslvTLSv1_3}));
  EXPECT_EQ(b.Mode(), sslmServer);
  EXPECT_EQ(b.VerifyMode(), (TIdSSLVerifyModeSet{sslvrfPeer, sslvrfFailIfNoPeerCert}));
  EXPECT_EQ(b.VerifyDepth(), 4);
  EXPECT_EQ(b.VerifyDirs(), u"/etc/ssl/certs");
  EXPECT_EQ(b.CipherList(), u"HIGH");
  TStringList other;
  EXPECT_THROW(b.Assign(&other), EConvertError);
}

TEST(SSLContext, ALPNWireList) {
  TStringList two;
  two.Add(u"h2");
  two.Add(u"http/1.1");
  EXPECT_EQ(TIdSSLContext::ALPNWireList(two),
            (TIdBytes{0x02, 'h', '2', 0x08, 'h', 't', 't', 'p', '/', '1', '.', '1'}));
  // An empty entry is skipped but still counts one byte, which stays zero at the end.
  TStringList three;
  three.Add(u"h2");
  three.Add(u"");
  three.Add(u"http/1.1");
  const TIdBytes list = TIdSSLContext::ALPNWireList(three);
  ASSERT_EQ(list.size(), 13u);
  EXPECT_EQ(list[3], 0x08);
  EXPECT_EQ(list.back(), 0);
  EXPECT_TRUE(TIdSSLContext::ALPNWireList(TStringList()).empty());
}

// A context of the installed library for the client role.
std::unique_ptr<TIdSSLContext> ClientContext(TIdSSLVersion AMethod, TIdSSLVersions AVersions) {
  auto c = std::make_unique<TIdSSLContext>();
  c->SetMode(sslmClient);
  c->SetMethod(AMethod);
  c->SetSSLVersions(AVersions);
  c->SetUpContext(sslCtxClient);
  return c;
}

TEST(SSLContext, ProtocolBoundsAndSwitchesOfTheInstalledLibrary) {
  constexpr long kNoTLSv1 = 0x04000000L, kNoTLSv1_2 = 0x08000000L, kNoTLSv1_1 = 0x10000000L,
                 kNoTLSv1_3 = 0x20000000L;
  {
    // The HTTP client's default: TLS 1.2 and 1.3 through the bounds.
    auto c = ClientContext(sslvSSLv23, kTLSVersions);
    EXPECT_EQ(SSL_CTX_get_min_proto_version(c->Context()), 0x0303);
    EXPECT_EQ(SSL_CTX_get_max_proto_version(c->Context()), 0x0304);
    EXPECT_EQ(SSL_CTX_get_options(c->Context()) & (kNoTLSv1 | kNoTLSv1_1 | kNoTLSv1_2 | kNoTLSv1_3), 0);
  }
  {
    // TLS 1.3 only: the flexible method with TLS 1.2 switched off.
    auto c = ClientContext(sslvTLSv1_3, {sslvTLSv1_3});
    EXPECT_EQ(SSL_CTX_get_min_proto_version(c->Context()), 0x0303);
    EXPECT_EQ(SSL_CTX_get_max_proto_version(c->Context()), 0x0304);
    const long o = SSL_CTX_get_options(c->Context());
    EXPECT_NE(o & kNoTLSv1_2, 0);
    EXPECT_NE(o & kNoTLSv1_1, 0);
    EXPECT_EQ(o & kNoTLSv1_3, 0);
  }
  {
    // One version: that version's own method, every other version switched off.
    auto c = ClientContext(sslvTLSv1_1, {sslvTLSv1_1});
    const long o = SSL_CTX_get_options(c->Context());
    EXPECT_NE(o & kNoTLSv1_3, 0);
    EXPECT_NE(o & kNoTLSv1_2, 0);
    EXPECT_NE(o & kNoTLSv1, 0);
    EXPECT_EQ(o & kNoTLSv1_1, 0);
  }
}

TEST(SSLContext, AnALPNListTheLibraryRefuses) {
  // An empty entry leaves a zero length byte at the end, which the library refuses.
  TIdSSLContext c;
  c.SetMode(sslmClient);
  c.ALPNProtocols()->Add(u"h2");
  c.ALPNProtocols()->Add(u"");
  try {
    c.SetUpContext(sslCtxClient);
    ADD_FAILURE();
  } catch (const EIdOpenSSLError&) {
    ADD_FAILURE() << "not the base class";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), u"Error Updating ALPN Protocols");
  }
}

TEST(SSLContext, ACipherListTheLibraryRefuses) {
  TIdSSLContext c;
  c.SetMode(sslmClient);
  c.SetCipherList(u"NO-SUCH-CIPHER");
  try {
    c.SetUpContext(sslCtxClient);
    ADD_FAILURE();
  } catch (const EIdOSSLSettingCipherError& e) {
    EXPECT_EQ(e.Message(), u"SetCipher failed.");
  }
}

TEST(SSLContext, LoadFailureReport) {
  OpenSSLShutdown();
  OpenSSLAPIVersion = 1;
  SetSSLLibPath(u"/nonexistent");
  try {
    TIdSSLContext c;
    ADD_FAILURE();
  } catch (const EIdOSSLCouldNotLoadSSLLibrary& e) {
    EXPECT_EQ(e.Message(), u"Could not load SSL library.\r\n***PATH*** /nonexistent/\r\n***VERSION*** \r\n"
                           u"***METHODS*** \"Failed to load /nonexistent/libcrypto.so.1.1.\"");
  }
  OpenSSLShutdown();
  OpenSSLAPIVersion = 2;
  SetSSLLibPath(String());
}

TEST(SSLContext, PasswordIsCutToTheBufferWithAZeroAtItsEnd) {
  TIdSSLIOHandlerSocketOpenSSL h;
  h.OnGetPassword = [](String& APassword) { APassword = u"0123456789"; };
  TIdSSLContext c;
  c.SetParent(&h);
  char buf[8];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(SSLPasswordCallback(buf, sizeof buf, 0, &c), 7);
  EXPECT_STREQ(buf, "0123456");
  char big[32];
  EXPECT_EQ(SSLPasswordCallback(big, sizeof big, 1, &c), 10);
  EXPECT_STREQ(big, "0123456789");
  // The extended event comes first; without a handler there is no password.
  h.OnGetPasswordEx = [](TObject*, String& APassword, bool AIsWrite) { APassword = AIsWrite ? u"w" : u"r"; };
  EXPECT_EQ(SSLPasswordCallback(big, sizeof big, 1, &c), 1);
  EXPECT_STREQ(big, "w");
  c.SetParent(nullptr);
  EXPECT_EQ(SSLPasswordCallback(big, sizeof big, 1, &c), 0);
}

// ---- Files -------------------------------------------------------------------------------------

class SSLFiles : public ::testing::Test {
protected:
  const TTestCertificates& C = TTestCertificates::Get();

  // Sets the context up for the role with the given files; the error it raised.
  std::string SetUp(TIdSSLContext& ACtx) {
    try {
      ACtx.SetUpContext(ACtx.Mode() == sslmServer ? sslCtxServer : sslCtxClient);
      return "";
    } catch (const Exception& e) {
      return ToUtf8(e.ClassName()) + ": " + e.what();
    }
  }
};

TEST_F(SSLFiles, CertificateKeyAndRootLoading) {
  ASSERT_TRUE(C.Ok);
  const std::string garbage = C.Dir + "/garbage.pem";
  std::ofstream(garbage) << "no PEM here\n";
  // A name the library could not be given as 8-bit text.
  const std::string unicode = C.Dir + "/zertifikat-\xC3\xA4\xE2\x82\xAC.pem";
  std::filesystem::copy_file(C.ServerChain, unicode, std::filesystem::copy_options::overwrite_existing);

  struct TCase {
    const char* Name;
    std::string Root, Cert, Key, Password;
    std::string Error;  // class and first message line; empty: loads
  } cases[] = {
      {"PEM chain and key", C.CACert, C.ServerChain, C.ServerKey, "", ""},
      {"two roots", C.TwoRoots, "", "", "", ""},
      {"PKCS#12 in capitals", "", C.ClientP12, C.ClientP12, "secret", ""},
      {"encrypted key", "", C.ClientCert, C.ClientKeyEncrypted, "secret", ""},
      {"non-ASCII file name", "", unicode, C.ServerKey, "", ""},
      {"root without PEM items", garbage, "", "", "", "EIdOSSLLoadingRootCertError: Could not load root certificate."},
      {"missing root", C.Dir + "/none.pem", "", "", "", "EIdOSSLLoadingRootCertError: Could not load root certificate."},
      {"certificate without PEM items", "", garbage, "", "", "EIdOSSLLoadingCertError: Could not load certificate."},
      {"PKCS#12 wrong password", "", C.ClientP12, "", "wrong", "EIdOSSLLoadingCertError: Could not load certificate."},
      {"key of another certificate", "", C.ServerCert, C.ClientKey, "", "EIdOSSLLoadingKeyError: Could not load key, check password."},
      {"encrypted key wrong password", "", C.ClientCert, C.ClientKeyEncrypted, "wrong",
       "EIdOSSLLoadingKeyError: Could not load key, check password."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TIdSSLIOHandlerSocketOpenSSL h;
    const String password = FromUtf8(c.Password);
    h.OnGetPassword = [password](String& APassword) { APassword = password; };
    TIdSSLContext ctx;
    ctx.SetParent(&h);
    ctx.SetMode(sslmClient);
    ctx.SetRootCertFile(FromUtf8(c.Root));
    ctx.SetCertFile(FromUtf8(c.Cert));
    ctx.SetKeyFile(FromUtf8(c.Key));
    const std::string error = SetUp(ctx);
    EXPECT_EQ(error.substr(0, error.find('\r')), c.Error);
    // A load error carries the library's text on its second line.
    if (!c.Error.empty()) {
      EXPECT_NE(error.find("\r\nerror:"), std::string::npos) << error;
    }
  }
}

TEST_F(SSLFiles, TheStoreLookupLoadsPEMAndDERFilesByType) {
  ASSERT_TRUE(C.Ok);
  TIdSSLContext ctx;
  ctx.SetMode(sslmClient);
  ctx.SetUpContext(sslCtxClient);
  X509_LOOKUP* lookup = X509_STORE_add_lookup(SSL_CTX_get_cert_store(ctx.Context()), FileLookupMethod());
  ASSERT_NE(lookup, nullptr);
  const auto load = [&](const std::string& AFile, long AType) {
    const String name = FromUtf8(AFile);
    return X509_LOOKUP_load_file(lookup, reinterpret_cast<const char*>(name.c_str()), AType);
  };
  EXPECT_EQ(load(C.CACertDer, 2), 1);
  EXPECT_EQ(load(C.TwoRoots, 1), 1);
  EXPECT_EQ(load(C.CACertDer, 1), 0);  // no PEM item in a DER file
  EXPECT_EQ(load(C.CACert, 2), 0);     // and no DER certificate in a PEM file
  EXPECT_EQ(load(C.Dir + "/none.der", 2), 0);
  EXPECT_EQ(X509_LOOKUP_ctrl(lookup, 2, nullptr, 1, nullptr), 0);  // only loading is offered
}

TEST_F(SSLFiles, CertificateInformationAgreesWithTheOpensslCommand) {
  ASSERT_TRUE(C.Ok);
  std::string pem;
  {
    std::ifstream in(C.ServerCert);
    pem.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  ASSERT_TRUE(OpenSSLStartup());
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  TIdX509 cert(PEM_read_bio_X509(bio, nullptr, nullptr, nullptr));
  BIO_free(bio);
  ASSERT_NE(cert.Certificate(), nullptr);

  auto ask = [&](std::vector<std::string> AArgs) {
    std::vector<std::string> args = {"openssl", "x509", "-noout", "-in", C.ServerCert};
    args.insert(args.end(), AArgs.begin(), AArgs.end());
    std::string out;
    EXPECT_EQ(test::RunProgram(args, &out), 0);
    out = out.substr(out.find('=') + 1);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    std::string lower;
    for (char ch : out) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return lower;
  };
  auto colons = [](const std::string& AHex) {
    std::string out;
    for (size_t i = 0; i < AHex.size(); i += 2) out += (i ? ":" : "") + AHex.substr(i, 2);
    return out;
  };
  EXPECT_EQ(ToUtf8(cert.FingerprintAsString()), ask({"-fingerprint", "-md5"}));
  EXPECT_EQ(cert.FingerprintAsString().size(), 16u * 3 - 1);
  EXPECT_EQ(ToUtf8(cert.Fingerprints()->SHA1AsString()), ask({"-fingerprint", "-sha1"}));
  EXPECT_EQ(ToUtf8(cert.Fingerprints()->SHA256AsString()), ask({"-fingerprint", "-sha256"}));
  EXPECT_EQ(ToUtf8(cert.Fingerprints()->SHA512AsString()), ask({"-fingerprint", "-sha512"}));
  EXPECT_EQ(cert.Fingerprints()->SHA384().Length, 48);
  EXPECT_EQ(ToUtf8(cert.SerialNumber()), colons(ask({"-serial"})));
  EXPECT_EQ(ToUtf8(cert.Subject()->HashAsString()), ask({"-subject_hash"}));
  EXPECT_EQ(cert.Subject()->OneLine(), u"/O=vyn/CN=localhost");
  EXPECT_EQ(cert.Issuer()->OneLine(), u"/CN=vyn test CA");
  EXPECT_EQ(cert.Version(), 2);
  EXPECT_EQ(cert.SigInfo()->SigTypeAsString(), u"ecdsa-with-SHA256");
  EXPECT_FALSE(cert.SigInfo()->Signature().empty());
  // Valid from about now for 30 days, in local time.
  const TDateTime now = Now();
  EXPECT_LT(cert.notBefore(), now + OneSecond * 5);
  EXPECT_GT(cert.notBefore(), now - 1.0 / 24);
  EXPECT_NEAR(cert.notAfter() - cert.notBefore(), 30.0, 1.0 / 24);
  bool subjectLine = false;
  for (int i = 0; i < cert.DisplayInfo()->Count(); ++i)
    subjectLine |= cert.DisplayInfo()->Get(i).find(u"Subject:") != String::npos &&
                   cert.DisplayInfo()->Get(i).find(u"localhost") != String::npos;
  EXPECT_TRUE(subjectLine);
}

TEST_F(SSLFiles, ValidityDatesFrom2050OnHaveFourDigitYears) {
  ASSERT_TRUE(C.Ok);
  const std::string cert = C.Dir + "/long.pem";
  ASSERT_EQ(test::RunProgram({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                              "-nodes", "-keyout", C.Dir + "/long.key", "-out", cert, "-days", "12000", "-subj",
                              "/CN=long"}),
            0);
  ASSERT_TRUE(OpenSSLStartup());
  std::string pem;
  {
    std::ifstream in(cert);
    pem.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  TIdX509 x(PEM_read_bio_X509(bio, nullptr, nullptr, nullptr));
  BIO_free(bio);
  EXPECT_NEAR(x.notAfter() - x.notBefore(), 12000.0, 1.0 / 24);
  int y, m, d;
  DecodeDate(x.notAfter(), y, m, d);
  EXPECT_GE(y, 2050);
}

TEST(SSLHandler, CloneCarriesOptionsAndAsksTheOriginal) {
  TIdSSLIOHandlerSocketOpenSSL h;
  h.SSLOptions()->SetSSLVersions({sslvTLSv1_2, sslvTLSv1_3});
  h.SSLOptions()->SetRootCertFile(u"roots.pem");
  h.OnGetPassword = [](String& APassword) { APassword = u"from the original"; };
  bool verifyAsked = false;
  h.OnVerifyPeer = [&](TIdX509*, bool, int32_t, int32_t) {
    verifyAsked = true;
    return false;
  };
  auto c = h.Clone();
  auto* clone = static_cast<TIdSSLIOHandlerSocketOpenSSL*>(c.get());
  EXPECT_EQ(clone->SSLOptions()->SSLVersions(), (TIdSSLVersions{sslvTLSv1_2, sslvTLSv1_3}));
  EXPECT_EQ(clone->SSLOptions()->RootCertFile(), u"roots.pem");
  EXPECT_EQ(clone->AskPassword(false), u"from the original");
  EXPECT_FALSE(clone->ApprovePeer(nullptr, true, 0, 0));
  EXPECT_TRUE(verifyAsked);
  // Its session belongs to the original, whose TLS session it resumes.
  ASSERT_NE(clone->SSLSocket(), nullptr);
  EXPECT_EQ(clone->SSLSocket()->Parent(), &h);
}

TEST(SSLHandler, IsTheRegisteredTLSHandler) {
  bool listed = false;
  for (const TIdSSLRegEntry& e : TIdSSLRegistry::Entries())
    listed |= e.ClientHandler == TIdIOHandlerClass::Of<TIdSSLIOHandlerSocketOpenSSL>();
  EXPECT_TRUE(listed);
  auto h = TIdIOHandler::TryMakeIOHandler(TIdIOHandlerClass::Of<TIdSSLIOHandlerSocketBase>());
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->ClassName(), u"TIdSSLIOHandlerSocketOpenSSL");
  auto* tls = static_cast<TIdSSLIOHandlerSocketOpenSSL*>(h.get());
  EXPECT_TRUE(tls->PassThrough());
  EXPECT_FALSE(tls->IsPeer());
  // Switching TLS on before there is a socket only stores the choice.
  tls->SetPassThrough(false);
  EXPECT_FALSE(tls->PassThrough());
  EXPECT_EQ(tls->SSLContext(), nullptr);
}

}  // namespace
}  // namespace vyn
