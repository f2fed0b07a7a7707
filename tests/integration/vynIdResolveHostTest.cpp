// Lookups by name through the platform resolver, answered by a responder on loopback
// inside a private network namespace (nothing can reach the machine's name server).
#include "vynIdStack.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "vynLoopbackResolver.h"

namespace vyn {
namespace {

// The isolated resolver and a stack usage, in that order: the isolation must come
// before the process's first lookup.
class ResolveHost : public ::testing::Test {
protected:
  void SetUp() override {
    try {
      FResolver = std::make_unique<test::TLoopbackResolver>();
    } catch (const std::runtime_error& e) {
      FAIL() << e.what();
    }
    TIdStack::IncUsage();
    FUsage = true;
  }
  void TearDown() override {
    if (FUsage) TIdStack::DecUsage();
  }
  bool Asked(const std::string& AQuery) const {
    auto q = FResolver->Queries();
    return std::find(q.begin(), q.end(), AQuery) != q.end();
  }

  std::unique_ptr<test::TLoopbackResolver> FResolver;
  bool FUsage = false;
};

TEST_F(ResolveHost, UnknownNameIsHostNotFound) {
  try {
    GStack()->ResolveHost(u"no-such-host.invalid");
    FAIL() << "resolved";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 11001);
    EXPECT_EQ(e.Message(), u"Socket Error # 11001\r\nHost not found.");
  }
  EXPECT_TRUE(Asked("no-such-host.invalid A")) << "the responder was not asked";
}

TEST_F(ResolveHost, KnownNameGivesItsAddressForTheOneFamilyAsked) {
  FResolver->AddHost("peer.vyn.invalid", "127.0.0.1", "::1");
  EXPECT_EQ(GStack()->ResolveHost(u"peer.vyn.invalid", Id_IPv4), u"127.0.0.1");
  EXPECT_FALSE(Asked("peer.vyn.invalid AAAA")) << "an IPv4 lookup asked for IPv6 too";
  EXPECT_EQ(GStack()->ResolveHost(u"PEER.vyn.invalid", Id_IPv6), u"0:0:0:0:0:0:0:1");
  EXPECT_TRUE(Asked("peer.vyn.invalid AAAA"));
}

TEST_F(ResolveHost, NameWithoutAnAddressOfTheFamilyIsNotTriedInTheOther) {
  FResolver->AddHost("v4only.vyn.invalid", "127.0.0.1", "");
  try {
    GStack()->ResolveHost(u"v4only.vyn.invalid", Id_IPv6);
    FAIL() << "resolved";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 11004);  // the name exists, without an address of this family
  }
  EXPECT_FALSE(Asked("v4only.vyn.invalid A"));
}

TEST_F(ResolveHost, InternationalNameIsLookedUpInItsAsciiForm) {
  FResolver->AddHost("xn--bcher-kva.vyn.invalid", "127.0.0.1", "");
  EXPECT_EQ(GStack()->ResolveHost(u"b\u00fccher.vyn.invalid"), u"127.0.0.1");
  EXPECT_TRUE(Asked("xn--bcher-kva.vyn.invalid A"));
}

TEST_F(ResolveHost, NameThatHasNoAsciiFormIsNotFoundWithoutAQuery) {
  const String withNul(u"cut\0short.vyn.invalid", 21);  // must not be looked up as "cut"
  for (const String& name : {String(u"bad\u2028name.vyn.invalid"), withNul}) {
    try {
      GStack()->ResolveHost(name);
      ADD_FAILURE() << "resolved";
    } catch (const EIdSocketError& e) {
      EXPECT_EQ(e.LastError(), 11001);
    }
  }
  EXPECT_TRUE(FResolver->Queries().empty()) << FResolver->Queries().front();
}

TEST_F(ResolveHost, ReverseLookupOfLoopbackComesFromTheHostsFile) {
  EXPECT_EQ(GStack()->HostByAddress(u"127.0.0.1"), u"localhost");
  EXPECT_TRUE(FResolver->Queries().empty());
}

}  // namespace
}  // namespace vyn
