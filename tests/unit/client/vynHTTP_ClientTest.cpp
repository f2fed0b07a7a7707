#include "vynHTTP_Client.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "vynHTTP_Classes.h"

namespace vyn {
namespace {

// Every value a TLS record carries, its nested records included, in one comparable
// snapshot; ALPN as the list's text so that appended and replaced lines differ.
struct TLSValues {
  String CertFile, KeyFile, Password, RootCertFile;
  bool VerifyCertificate = false;
  int32_t VerifyDepth = 0;
  TwsTLSVersions Version = tlsUndefined;
  TwsTLSIOHandler IOHandler = iohOpenSSL;
  String ALPN;
  TwsOpenSSLAPI APIVersion = oslAPI_3_0;
  TwsOpenSSLLibPath LibPath = oslpNone;
  String LibPathCustom;
  TwsOpenSSLSymLinks UnixSymLinks = oslsSymLinksDefault;
  String CertHash;
  TvynSChannelCertStoreName CertStoreName = scsnMY;
  TvynSChannelCertStorePath CertStorePath = scspStoreCurrentUser;
  String CipherList;
  bool operator==(const TLSValues&) const = default;
};

String ReplaceLineBreaks(String AText) {
  for (auto& c : AText)
    if (c == u'\r' || c == u'\n') c = u'|';
  return AText;
}

std::string Describe(const TLSValues& v) {
  return ToUtf8(u"cert=" + v.CertFile + u" key=" + v.KeyFile + u" pass=" + v.Password + u" root=" +
                v.RootCertFile + u" alpn=[" + ReplaceLineBreaks(v.ALPN) + u"] libcustom=" + v.LibPathCustom + u" hash=" +
                v.CertHash + u" ciphers=" + v.CipherList) +
         " verify=" + std::to_string(v.VerifyCertificate) + " depth=" + std::to_string(v.VerifyDepth) +
         " version=" + std::to_string(v.Version) + " ioh=" + std::to_string(v.IOHandler) +
         " api=" + std::to_string(v.APIVersion) + " libpath=" + std::to_string(v.LibPath) +
         " symlinks=" + std::to_string(v.UnixSymLinks) + " store=" + std::to_string(v.CertStoreName) +
         " storepath=" + std::to_string(v.CertStorePath);
}

// How gtest shows a snapshot in a failure.
void PrintTo(const TLSValues& v, std::ostream* os) { *os << Describe(v); }

TLSValues ValuesOf(const TvynSocketTLS_Options& o) {
  const auto* ossl = o.OpenSSL_Options();
  const auto* sch = o.SChannel_Options();
  return {o.CertFile(),          o.KeyFile(),         o.Password(),        o.RootCertFile(),
          o.VerifyCertificate(), o.VerifyDepth(),     o.Version(),         o.IOHandler(),
          o.ALPNProtocols()->Text(), ossl->APIVersion(), ossl->LibPath(),  ossl->LibPathCustom(),
          ossl->UnixSymLinks(),  sch->CertHash(),     sch->CertStoreName(), sch->CertStorePath(),
          sch->CipherList()};
}

// Values unlike every default, set on a source record.
const TLSValues kFilled = {u"client.pem", u"client.key", u"secret", u"roots.pem", true, 5, tls1_2,
                           iohSChannel, u"h2\r\nhttp/1.1\r\n", oslAPI_1_1, oslpCustomPath, u"/opt/ssl",
                           oslsSymLinksDontLoad, u"AB12", scsnRoot, scspStoreLocalMachine, u"AES256"};

void FillBase(TvynSocketTLS_Options_Base& o) {
  o.SetCertFile(kFilled.CertFile);
  o.SetKeyFile(kFilled.KeyFile);
  o.SetPassword(kFilled.Password);
  o.SetRootCertFile(kFilled.RootCertFile);
  o.SetVerifyCertificate(kFilled.VerifyCertificate);
  o.SetVerifyDepth(kFilled.VerifyDepth);
  o.SetVersion(kFilled.Version);
}

void Fill(TvynSocketTLS_Options& o) {
  FillBase(o);
  o.SetIOHandler(kFilled.IOHandler);
  o.ALPNProtocols()->SetText(kFilled.ALPN);
  o.OpenSSL_Options()->SetAPIVersion(kFilled.APIVersion);
  o.OpenSSL_Options()->SetLibPath(kFilled.LibPath);
  o.OpenSSL_Options()->SetLibPathCustom(kFilled.LibPathCustom);
  o.OpenSSL_Options()->SetUnixSymLinks(kFilled.UnixSymLinks);
  o.SChannel_Options()->SetCertHash(kFilled.CertHash);
  o.SChannel_Options()->SetCertStoreName(kFilled.CertStoreName);
  o.SChannel_Options()->SetCertStorePath(kFilled.CertStorePath);
  o.SChannel_Options()->SetCipherList(kFilled.CipherList);
}

template <class T>
std::unique_ptr<TvynSocketTLS_Options_Base> Filled() {
  auto o = std::make_unique<T>();
  Fill(*o);
  return o;
}

template <class F>
void ExpectAssignError(F AAction, const String& AMessage) {
  try {
    AAction();
    ADD_FAILURE() << "no exception, expected " << ToUtf8(AMessage);
  } catch (const EConvertError& e) {
    EXPECT_EQ(ToUtf8(e.Message()), ToUtf8(AMessage));
  }
}

TEST(HTTPClientOptions, NewRecordsHoldTheirDefaults) {
  const TvynIdHTTPTLS_Options tls;
  // The OpenSSL generation defaults to the one this platform ships.
  const TLSValues tlsDefaults = {u"", u"", u"", u"", false, 0, tlsUndefined, iohOpenSSL, u"",
                                 oslAPI_3_0, oslpNone, u"", oslsSymLinksDefault, u"", scsnMY,
                                 scspStoreCurrentUser, u""};
  EXPECT_EQ(ValuesOf(tls), tlsDefaults);
  EXPECT_EQ(tls.ALPNProtocols()->Count(), 0);

  // The OpenSSL record on its own, as other components own it.
  const TvynSocketOpenSSL_Options ossl;
  EXPECT_EQ(ossl.APIVersion(), oslAPI_3_0);
  EXPECT_EQ(ossl.LibPath(), oslpNone);

  const TvynHttpLogFile log;
  EXPECT_EQ(log.FileName(), u"");

  const TvynIdHTTPAuthentication_Options auth;
  ASSERT_NE(auth.Token(), nullptr);
  EXPECT_EQ(auth.Token()->OAuth(), nullptr);
  EXPECT_EQ(auth.Token()->JWT(), nullptr);
  EXPECT_EQ(auth.Token()->ReadTimeout(), 60000);
}

// The generations are handed to the OpenSSL binding as 0, 1, 2.
static_assert(oslAPI_1_0 == 0 && oslAPI_1_1 == 1 && oslAPI_3_0 == 2);

TEST(HTTPClientOptions, TLSAssignCopiesWhatTheSourceClassAllows) {
  enum Group { gBase = 1, gDepth = 2, gSocket = 4, gSChannel = 8 };
  struct Case {
    const char* Name;
    std::function<std::unique_ptr<TvynSocketTLS_Options>()> Target;
    std::function<std::unique_ptr<TvynSocketTLS_Options_Base>()> Source;
    int Groups;
  };
  auto baseOnly = [] {
    auto o = std::make_unique<TvynSocketTLS_Options_Base>();
    FillBase(*o);
    return o;
  };
  auto http = [] { return std::make_unique<TvynIdHTTPTLS_Options>(); };
  auto tcp = [] { return std::make_unique<TvynTCPTLS_Options>(); };
  auto socket = [] { return std::make_unique<TvynSocketTLS_Options>(); };
  const Case cases[] = {
      {"http<-http", http, Filled<TvynIdHTTPTLS_Options>, gBase | gSocket | gSChannel},
      {"http<-tcp", http, Filled<TvynTCPTLS_Options>, gBase | gSocket | gSChannel},
      {"http<-socket", http, Filled<TvynSocketTLS_Options>, gSocket},
      {"http<-base", http, baseOnly, gBase | gDepth},
      {"tcp<-http", tcp, Filled<TvynIdHTTPTLS_Options>, gSocket},
      {"socket<-socket", socket, Filled<TvynSocketTLS_Options>, gSocket},
      {"tcp<-base", tcp, baseOnly, gBase | gDepth},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    auto target = c.Target();
    // A line already there must be replaced, not kept before the copied ones.
    target->ALPNProtocols()->Add(u"old");
    TLSValues want = ValuesOf(*target);
    if (c.Groups & gBase) {
      want.CertFile = kFilled.CertFile;
      want.KeyFile = kFilled.KeyFile;
      want.Password = kFilled.Password;
      want.RootCertFile = kFilled.RootCertFile;
      want.VerifyCertificate = kFilled.VerifyCertificate;
      want.Version = kFilled.Version;
    }
    if (c.Groups & gDepth) want.VerifyDepth = kFilled.VerifyDepth;
    if (c.Groups & gSocket) {  // UnixSymLinks is never copied
      want.IOHandler = kFilled.IOHandler;
      want.ALPN = kFilled.ALPN;
      want.APIVersion = kFilled.APIVersion;
      want.LibPath = kFilled.LibPath;
      want.LibPathCustom = kFilled.LibPathCustom;
    }
    if (c.Groups & gSChannel) {
      want.CertHash = kFilled.CertHash;
      want.CertStoreName = kFilled.CertStoreName;
      want.CertStorePath = kFilled.CertStorePath;
      want.CipherList = kFilled.CipherList;
    }
    const TStrings* alpn = target->ALPNProtocols();
    const TvynOpenSSLClient_Options* ossl = target->OpenSSL_Options();
    const TvynSChannelClient_Options* sch = target->SChannel_Options();

    auto source = c.Source();
    target->Assign(source.get());

    EXPECT_EQ(ValuesOf(*target), want);
    // Nested records are copied into, never replaced or shared.
    EXPECT_EQ(target->ALPNProtocols(), alpn);
    EXPECT_EQ(target->OpenSSL_Options(), ossl);
    EXPECT_EQ(target->SChannel_Options(), sch);
    if (auto* s = dynamic_cast<TvynSocketTLS_Options*>(source.get())) {
      s->ALPNProtocols()->Add(u"later");
      s->OpenSSL_Options()->SetLibPathCustom(u"/elsewhere");
      EXPECT_EQ(ValuesOf(*target), want) << "the copy shares nested objects with its source";
    }
  }
}

TEST(HTTPClientOptions, ComponentTLSOptionsKeepTheirVerifyDepth) {
  TvynIdHTTPTLS_Options source, target;
  Fill(source);
  target.SetVerifyDepth(9);
  target.Assign(&source);
  EXPECT_EQ(target.VerifyDepth(), 9);
  TLSValues want = kFilled;
  want.VerifyDepth = 9;
  want.UnixSymLinks = oslsSymLinksDefault;
  EXPECT_EQ(ValuesOf(target), want);
}

TEST(HTTPClientOptions, LogRecordCopiesItsFileName) {
  TvynHttpLogFile source, target;
  source.SetFileName(u"/tmp/traffic.log");
  target.Assign(&source);
  EXPECT_EQ(target.FileName(), u"/tmp/traffic.log");
}

TEST(HTTPClientOptions, AuthenticationCopiesTokenReferencesIntoItsOwnToken) {
  // Addresses standing for token components the application owns; the records only
  // carry them and never look behind them.
  alignas(std::max_align_t) unsigned char jwtObject[1], oauthObject[1];
  auto* jwt = reinterpret_cast<TvynHTTPComponentClient_JWT*>(jwtObject);
  auto* oauth = reinterpret_cast<TvynHTTPComponentClient_OAuth*>(oauthObject);

  TvynIdHTTPAuthentication_Options source, target;
  source.Token()->SetJWT(jwt);
  source.Token()->SetReadTimeout(5000);
  target.Token()->SetOAuth(oauth);  // cleared by the copy: the source has none
  TvynHTTPAuthentication_Token* token = target.Token();

  target.Assign(&source);
  EXPECT_EQ(target.Token(), token);
  EXPECT_NE(target.Token(), source.Token());
  EXPECT_EQ(target.Token()->JWT(), jwt);
  EXPECT_EQ(target.Token()->OAuth(), nullptr);
  EXPECT_EQ(target.Token()->ReadTimeout(), 5000);

  // The setter copies the same way.
  TvynHTTPAuthentication_Token other;
  other.SetOAuth(oauth);
  other.SetReadTimeout(250);
  target.SetToken(&other);
  EXPECT_EQ(target.Token(), token);
  EXPECT_EQ(target.Token()->OAuth(), oauth);
  EXPECT_EQ(target.Token()->JWT(), nullptr);
  EXPECT_EQ(target.Token()->ReadTimeout(), 250);
}

TEST(HTTPClientOptions, SourcesOfAnotherClassOrNoneFailNamingBothClasses) {
  TvynIdHTTPTLS_Options tls;
  TvynHTTPProxy_Options proxy;
  TvynHttpLogFile log;
  TvynIdHTTPAuthentication_Options auth;
  TvynSocketTLS_Options_Base tlsBase;
  struct Case {
    std::function<void()> Action;
    String Message;
  };
  const Case cases[] = {
      {[&] { proxy.Assign(&log); }, u"Cannot assign a TvynHttpLogFile to a TvynHTTPProxy_Options"},
      {[&] { log.Assign(&proxy); }, u"Cannot assign a TvynHTTPProxy_Options to a TvynHttpLogFile"},
      {[&] { log.Assign(nullptr); }, u"Cannot assign a nil to a TvynHttpLogFile"},
      {[&] { tls.Assign(&proxy); }, u"Cannot assign a TvynHTTPProxy_Options to a TvynIdHTTPTLS_Options"},
      {[&] { tls.Assign(nullptr); }, u"Cannot assign a nil to a TvynIdHTTPTLS_Options"},
      {[&] { tlsBase.Assign(tls.OpenSSL_Options()); },
       u"Cannot assign a TvynOpenSSLClient_Options to a TvynSocketTLS_Options_Base"},
      {[&] { tls.OpenSSL_Options()->Assign(tls.SChannel_Options()); },
       u"Cannot assign a TvynSChannelClient_Options to a TvynOpenSSLClient_Options"},
      {[&] { tls.SChannel_Options()->Assign(&tls); },
       u"Cannot assign a TvynIdHTTPTLS_Options to a TvynSChannelClient_Options"},
      {[&] { auth.Assign(auth.Token()); },
       u"Cannot assign a TvynHTTPAuthentication_Token to a TvynIdHTTPAuthentication_Options"},
      {[&] { auth.Token()->Assign(&auth); },
       u"Cannot assign a TvynIdHTTPAuthentication_Options to a TvynHTTPAuthentication_Token"},
      {[&] { auth.Assign(nullptr); }, u"Cannot assign a nil to a TvynIdHTTPAuthentication_Options"},
      // Setters of nested records fail the same way, naming the nested class.
      {[&] { tls.SetOpenSSL_Options(nullptr); }, u"Cannot assign a nil to a TvynOpenSSLClient_Options"},
      {[&] { tls.SetSChannel_Options(nullptr); }, u"Cannot assign a nil to a TvynSChannelClient_Options"},
      {[&] { tls.SetALPNProtocols(nullptr); }, u"Cannot assign a nil to a TStringList"},
      {[&] { auth.SetToken(nullptr); }, u"Cannot assign a nil to a TvynHTTPAuthentication_Token"},
  };
  for (const Case& c : cases) ExpectAssignError(c.Action, c.Message);

  // A failed copy leaves the target as it was.
  proxy.SetHost(u"proxy.local");
  ExpectAssignError([&] { proxy.Assign(&tls); },
                    u"Cannot assign a TvynIdHTTPTLS_Options to a TvynHTTPProxy_Options");
  EXPECT_EQ(proxy.Host(), u"proxy.local");
}

}  // namespace
}  // namespace vyn
