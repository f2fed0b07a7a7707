#include "vynHTTP_Classes.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>

namespace vyn {
namespace {

struct ProxyValues {
  bool Enabled = false;
  String Host, Password;
  int32_t Port = 0;
  TwsProxy ProxyType = pxyHTTP;
  String Username;
  bool operator==(const ProxyValues&) const = default;
};

std::string Describe(const ProxyValues& v) {
  return ToUtf8(u"host=" + v.Host + u" user=" + v.Username + u" pass=" + v.Password) +
         " enabled=" + std::to_string(v.Enabled) + " port=" + std::to_string(v.Port) +
         " type=" + std::to_string(v.ProxyType);
}

void PrintTo(const ProxyValues& v, std::ostream* os) { *os << Describe(v); }

ProxyValues ValuesOf(const TvynSocketProxy_Options& o) {
  return {o.Enabled(), o.Host(), o.Password(), o.Port(), o.ProxyType(), o.Username()};
}

TEST(HTTPProxyOptions, NewRecordIsADisabledHTTPProxyWithEmptyFields) {
  const TvynHTTPProxy_Options proxy;
  const ProxyValues defaults = {false, u"", u"", 0, pxyHTTP, u""};
  EXPECT_EQ(ValuesOf(proxy), defaults);
}

TEST(HTTPProxyOptions, AssignCopiesAllSixFieldsBetweenEveryProxyClass) {
  struct Case {
    const char* Name;
    std::function<std::unique_ptr<TvynSocketProxy_Options>()> Make;
  };
  const Case classes[] = {
      {"socket", [] { return std::make_unique<TvynSocketProxy_Options>(); }},
      {"tcp", [] { return std::make_unique<TvynTCPProxy_Options>(); }},
      {"http", [] { return std::make_unique<TvynHTTPProxy_Options>(); }},
  };
  // Port above 16 bits: the record carries the whole number.
  const ProxyValues filled = {true, u"127.0.0.1", u"pw", 0x10000 + 3128, pxySocks5, u"alice"};
  for (const Case& to : classes) {
    for (const Case& from : classes) {
      SCOPED_TRACE(std::string(from.Name) + " -> " + to.Name);
      auto source = from.Make();
      source->SetEnabled(filled.Enabled);
      source->SetHost(filled.Host);
      source->SetPassword(filled.Password);
      source->SetPort(filled.Port);
      source->SetProxyType(filled.ProxyType);
      source->SetUsername(filled.Username);
      auto target = to.Make();
      target->Assign(source.get());
      EXPECT_EQ(ValuesOf(*target), filled);
    }
  }
}

}  // namespace
}  // namespace vyn
