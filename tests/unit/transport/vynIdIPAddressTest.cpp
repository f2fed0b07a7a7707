#include "vynIdIPAddress.h"

#include <gtest/gtest.h>

#include "vynIdException.h"

namespace vyn {
namespace {

struct TCanonicalCase {
  const char16_t* Text;
  const char16_t* Canonical;  // empty: not an IPv6 text
};

TEST(CanonicalIPv6Text, WritesEveryGroupOrRefuses) {
  const TCanonicalCase cases[] = {
      {u"::1", u"0:0:0:0:0:0:0:1"},
      {u"2001:db8::ff00:42:8329", u"2001:DB8:0:0:0:FF00:42:8329"},
      {u"::ffff:192.0.2.1", u"0:0:0:0:0:FFFF:C000:0201"},
      {u"::", u"0:0:0:0:0:0:0:0"},
      {u"1::", u"1:0:0:0:0:0:0:0"},
      {u"fe80:0000:0000:0000:0202:b3ff:fe1e:8329", u"FE80:0:0:0:202:B3FF:FE1E:8329"},
      {u"1:2:3:4:5:6:7:8", u"1:2:3:4:5:6:7:8"},
      {u"1:2:3:4:5:6::8", u"1:2:3:4:5:6:0:8"},
      {u"1::8", u"1:0:0:0:0:0:0:8"},
      {u"::1.2.3.4", u"0:0:0:0:0:0:0102:0304"},
      {u"1:2:3:4:5:6:10.0.0.255", u"1:2:3:4:5:6:0A00:00FF"},
      {u"1::2::3", u""},
      {u"host.example", u""},
      {u"", u""},
      {u":", u""},
      {u":::", u""},
      {u"1:2:3", u""},                // too few groups without "::"
      {u"1:2:3:4:5:6:7:8:9", u""},    // eight colons
      {u"1:2:3:4::5:6:7:8", u""},     // "::" standing for no group
      {u"0::1:2:3:4:5:6:7", u""},
      // at either end "::" may stand for a single group
      {u"1:2:3:4:5:6:7::", u"1:2:3:4:5:6:7:0"},
      {u"::2:3:4:5:6:7:8", u"0:2:3:4:5:6:7:8"},
      {u"::1:2:3:4:5:1.2.3.4", u"0:1:2:3:4:5:0102:0304"},
      {u"::1:2:3:4:5:6:7:8", u""},
      {u"1:2:3:4:5:6:7:8::", u""},
      {u"10000::", u""},              // group above FFFF
      {u"g::1", u""},
      {u"::1.2.3", u""},              // two dots
      {u"::1.2.3.4.5", u""},
      {u"::1.2.3.256", u""},
      {u"::1.2.3.4a", u""},           // hexadecimal letter after a dot
      {u"::ab1.2.3.4", u""},          // tail is not decimal
      {u"1.2.3.4::", u""},            // colon after the first dot
      {u"1:2:3:4:5:6:7:1.2.3.4", u""},  // seven colons with a tail
      {u"1.2.3.4", u""},
      {u"[::1]", u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CanonicalIPv6Text(c.Text), String(c.Canonical)) << ToUtf8(c.Text);
  }
}

TEST(ParseIPv6Text, GivesGroupsOrReportsTheText) {
  TIdIPv6Address a{};
  ParseIPv6Text(u"2001:db8::ff00:42:8329", a);
  EXPECT_EQ(a, (TIdIPv6Address{0x2001, 0xDB8, 0, 0, 0, 0xFF00, 0x42, 0x8329}));
  ParseIPv6Text(u"::ffff:192.0.2.1", a);
  EXPECT_EQ(a, (TIdIPv6Address{0, 0, 0, 0, 0, 0xFFFF, 0xC000, 0x0201}));

  try {
    ParseIPv6Text(u"1::2::3", a);
    FAIL() << "no error";
  } catch (const EIdInvalidIPv6Address& e) {
    EXPECT_EQ(e.Message(), u"1::2::3 is not a valid IPv6 address");
  }

  bool err = false;
  ParseIPv6Text(u"::1", a, err);
  EXPECT_FALSE(err);
  EXPECT_EQ(a[7], 1);
  ParseIPv6Text(u"host.example", a, err);
  EXPECT_TRUE(err);
  EXPECT_EQ(a, TIdIPv6Address{});
}

struct TIPv4Case {
  const char16_t* Text;
  bool Valid;
  uint32_t Value;
};

TEST(ParseIPv4Text, AcceptsShortHexAndOctalFormsAndRefusesOverflow) {
  const TIPv4Case cases[] = {
      {u"192.168.0.1", true, 0xC0A80001},
      {u"10.1", true, 0x0A000001},          // the last part fills the remaining bytes
      {u"192.168.1", true, 0xC0A80001},
      {u"3232235521", true, 0xC0A80001},
      {u"0x7f.1", true, 0x7F000001},
      {u"0X7F.0.0.1", true, 0x7F000001},
      {u"0177.0.0.01", true, 0x7F000001},   // octal
      {u"09.1.1.1", true, 0x09010101},      // a leading 0 with a 9 is decimal
      {u"10.0x10000", true, 0x0A010000},
      {u"0", true, 0},
      {u"255.255.255.255", true, 0xFFFFFFFF},
      {u"", false, 0},
      {u"1..2", false, 0},
      {u"1.2.3.4.5", false, 0},
      {u"256.1.1.1", false, 0},
      {u"1.2.3.256", false, 0},
      {u"10.16777216", false, 0},
      {u"4294967296", false, 0},
      {u"0x", false, 0},
      {u"abc", false, 0},
      {u"1.2.3.-4", false, 0},
      {u" 1.2.3.4", false, 0},
  };
  for (const auto& c : cases) {
    uint32_t v = 0xDEADBEEF;
    EXPECT_EQ(ParseIPv4Text(c.Text, v), c.Valid) << ToUtf8(c.Text);
    EXPECT_EQ(v, c.Valid ? c.Value : 0xDEADBEEF) << ToUtf8(c.Text);
  }
}

TEST(IPAddress, MakeAddressObjectTriesIPv6ThenIPv4) {
  auto v6 = TIdIPAddress::MakeAddressObject(u"2001:db8::1");
  ASSERT_TRUE(v6);
  EXPECT_EQ(v6->AddrType(), Id_IPv6);
  EXPECT_EQ(v6->IPAsString(), u"2001:0DB8:0000:0000:0000:0000:0000:0001");
  EXPECT_EQ(v6->IPv4AsString(), u"");
  EXPECT_EQ(v6->HToNBytes(), (TIdBytes{0x20, 0x01, 0x0D, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}));

  auto v4 = TIdIPAddress::MakeAddressObject(u"10.1");
  ASSERT_TRUE(v4);
  EXPECT_EQ(v4->AddrType(), Id_IPv4);
  EXPECT_EQ(v4->IPv4(), 0x0A000001u);
  EXPECT_EQ(v4->IPAsString(), u"10.0.0.1");
  EXPECT_EQ(v4->IPv6AsString(), u"");
  EXPECT_EQ(v4->HToNBytes(), (TIdBytes{10, 0, 0, 1}));

  EXPECT_FALSE(TIdIPAddress::MakeAddressObject(u"host.example"));
  EXPECT_FALSE(TIdIPAddress::MakeAddressObject(u"::1", Id_IPv4));
  EXPECT_FALSE(TIdIPAddress::MakeAddressObject(u"10.1", Id_IPv6));
  EXPECT_TRUE(TIdIPAddress::MakeAddressObject(u"10.1", Id_IPv4));
}

TEST(IPAddress, CompareAddressOrdersWithinOneType) {
  auto v4 = TIdIPAddress::MakeAddressObject(u"10.0.0.2");
  auto v6 = TIdIPAddress::MakeAddressObject(u"::2");
  struct TCase {
    const TIdIPAddress* Address;
    const char16_t* Other;
    int Result;
    bool Err;
  } cases[] = {
      {v4.get(), u"10.0.0.2", 0, false},   {v4.get(), u"10.0.0.10", -1, false},
      {v4.get(), u"9.255.255.255", 1, false}, {v4.get(), u"200.0.0.1", -1, false},  // unsigned order
      {v4.get(), u"::2", 0, true},         {v4.get(), u"nonsense", 0, true},
      {v6.get(), u"0::2", 0, false},       {v6.get(), u"::1:0", -1, false},
      {v6.get(), u"::1", 1, false},        {v6.get(), u"0.0.0.2", 0, true},
  };
  for (const auto& c : cases) {
    bool err = !c.Err;
    EXPECT_EQ(c.Address->CompareAddress(c.Other, err), c.Result) << ToUtf8(c.Other);
    EXPECT_EQ(err, c.Err) << ToUtf8(c.Other);
  }
}

}  // namespace
}  // namespace vyn
