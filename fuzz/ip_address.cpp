// IP address texts: the IPv6 forms (CanonicalIPv6Text, ParseIPv6Text) and the IPv4
// form of TIdIPAddress (ParseIPv4Text), with the C library's parsers as the reference.
//
// Properties: nothing fails on any text; CanonicalIPv6Text is empty exactly when
// ParseIPv6Text reports an error, its result parses to the same groups and (without an
// IPv4 tail, whose groups keep four digits) is its own canonical form; every text inet_pton takes as IPv6 is taken here
// with the same groups; an IPv4 text that is read is written as dotted decimal that inet_pton reads as the same
// address; and for texts of digits, letters and dots whose parts have no octal prefix before an 8 or 9 (which this
// parser reads as decimal) and no bare "0x", the result agrees with inet_aton.
#include <arpa/inet.h>

#include <cctype>

#include "vynFuzz.h"
#include "vynIdIPAddress.h"
#include "vynIdStack.h"

using namespace vyn;
using namespace vyn::fuzz;

namespace {

std::string Groups(const TIdIPv6Address& A) {
  std::string out;
  char part[8];
  for (uint16_t g : A) {
    std::snprintf(part, sizeof part, "%x:", g);
    out += part;
  }
  return out;
}

// The text as a C string when it is plain ASCII without NUL; empty otherwise.
std::string Ascii(StringView AText) {
  std::string out;
  for (char16_t c : AText) {
    if (c == 0 || c > 0x7F) return {};
    out += static_cast<char>(c);
  }
  return out;
}

// Whether inet_aton reads AText by the same rules: digits, letters and dots only, and
// no part that inet_aton reads differently ("08" is octal there and invalid, decimal
// here; a bare "0x" is 0 there and invalid here).
bool SameRulesAsInetAton(const std::string& AText) {
  if (AText.empty()) return false;
  size_t start = 0;
  for (;;) {
    size_t end = AText.find('.', start);
    if (end == std::string::npos) end = AText.size();
    const std::string part = AText.substr(start, end - start);
    for (char c : part)
      if (!std::isalnum(static_cast<unsigned char>(c))) return false;
    const bool hex = part.size() >= 2 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X');
    if (hex && part.size() == 2) return false;
    if (!hex && part.size() >= 2 && part[0] == '0' && part.find_first_of("89") != std::string::npos &&
        part.find_first_not_of("0123456789") == std::string::npos)
      return false;
    if (part.size() > 12) return false;  // very long parts: overflow rules differ
    if (end == AText.size()) return true;
    start = end + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  TFuzzInput in(AData, ASize);
  const auto form = static_cast<TTextForm>(in.Range(0, 2));
  const String text = TextOf(in.Rest(), form);
  const auto context = [&] { return std::string("text [" + Show(text) + "]"); };
  const std::string ascii = Ascii(text);

  // IPv6.
  const String canonical = CanonicalIPv6Text(text);
  TIdIPv6Address groups{};
  bool err = false;
  ParseIPv6Text(text, groups, err);
  FUZZ_CHECK(err == canonical.empty(), context() + " canonical [" + Show(canonical) + "]");
  if (!err) {
    // The groups of an IPv4 tail keep four digits, so only a text without one is its
    // own canonical form.
    if (text.find(u'.') == String::npos)
      FUZZ_CHECK(CanonicalIPv6Text(canonical) == canonical, context() + " canonical [" + Show(canonical) + "]");
    TIdIPv6Address again{};
    bool err2 = false;
    ParseIPv6Text(canonical, again, err2);
    FUZZ_CHECK(!err2 && again == groups, context() + " canonical [" + Show(canonical) + "]");
    auto address = TIdIPAddress::MakeAddressObject(text, Id_IPv6);
    FUZZ_CHECK(address && address->IPv6 == groups, context());
    auto shown = TIdIPAddress::MakeAddressObject(address->IPv6AsString(), Id_IPv6);
    FUZZ_CHECK(shown && shown->IPv6 == groups, context());
  }
  in6_addr v6;
  if (!ascii.empty() && inet_pton(AF_INET6, ascii.c_str(), &v6) == 1) {
    TIdIPv6Address expected;
    for (int i = 0; i < 8; ++i) expected[i] = static_cast<uint16_t>(v6.s6_addr[2 * i] << 8 | v6.s6_addr[2 * i + 1]);
    FUZZ_CHECK(!err && groups == expected, context() + " gives " + Groups(groups) + " expected " + Groups(expected));
  }

  // IPv4.
  uint32_t address = 0x12345678;
  const bool ok = ParseIPv4Text(text, address);
  if (!ok) FUZZ_CHECK(address == 0x12345678, context() + " changed the address without reading it");
  if (ok) {
    auto object = TIdIPAddress::MakeAddressObject(text, Id_IPv4);
    FUZZ_CHECK(object && object->IPv4() == address, context());
    const String dotted = object->IPv4AsString();
    in_addr v4;
    FUZZ_CHECK(inet_pton(AF_INET, ToUtf8(dotted).c_str(), &v4) == 1 && ntohl(v4.s_addr) == address,
               context() + " written as [" + Show(dotted) + "]");
    bool cmpErr = true;
    FUZZ_CHECK(object->CompareAddress(dotted, cmpErr) == 0 && !cmpErr, context());
  }
  if (SameRulesAsInetAton(ascii)) {
    in_addr v4;
    const bool theirs = inet_aton(ascii.c_str(), &v4) != 0;
    FUZZ_CHECK(ok == theirs && (!ok || ntohl(v4.s_addr) == address),
               context() + (ok ? " read here as " + std::to_string(address) : " not read here") +
                   (theirs ? ", by inet_aton as " + std::to_string(ntohl(v4.s_addr)) : ", not by inet_aton"));
  }
  (void)TIdStack::IsIP(text);
  (void)TIdIPAddress::MakeAddressObject(text);
  return 0;
}
