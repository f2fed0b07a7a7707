// IP address texts: the IPv6 text forms the stack, the socket handlers and the HTTP
// engine accept, and TIdIPAddress, one parsed IPv4 or IPv6 address.
#pragma once

#include <memory>

#include "vynIdGlobal.h"

namespace vyn {

// The fully written form of an IPv6 text: eight groups in upper-case hexadecimal
// without leading zeros joined by ":" ("::" expanded), except that the two groups of
// an IPv4 tail keep four digits ('::ffff:192.0.2.1' gives '0:0:0:0:0:FFFF:C000:0201').
// An empty string when AAddr is not an IPv6 text.
String CanonicalIPv6Text(StringView AAddr);

// The eight groups of an IPv6 text, in host byte order. An invalid text raises
// EIdInvalidIPv6Address; the variant with VErr sets it instead (VAddress is then zero).
void ParseIPv6Text(StringView AText, TIdIPv6Address& VAddress);
void ParseIPv6Text(StringView AText, TIdIPv6Address& VAddress, bool& VErr);

// The IPv4 text form of TIdIPAddress: one to four parts separated by "."; a part is
// hexadecimal after "0x", octal when it starts with "0" and has only the digits 0 to
// 7, decimal otherwise. Every part but the last is one byte, the last fills the
// remaining bytes ('10.1' is 10.0.0.1). A part too large for its width, an empty part
// or any other character makes the text invalid: false, VAddress untouched.
bool ParseIPv4Text(StringView AText, uint32_t& VAddress);

// One IPv4 or IPv6 address.
class TIdIPAddress : public TObject {
public:
  TIdIPAddress() = default;

  // Tries the IPv6 text form first, then the IPv4 form; nullptr when AIP is neither.
  static std::unique_ptr<TIdIPAddress> MakeAddressObject(StringView AIP);
  // Accepts only the form of AIPVersion.
  static std::unique_ptr<TIdIPAddress> MakeAddressObject(StringView AIP, TIdIPVersion AIPVersion);

  // The address in network byte order: 4 bytes for IPv4, 16 for IPv6.
  TIdBytes HToNBytes() const;

  // Dotted decimal for IPv4, eight groups of four upper-case hexadecimal digits for
  // IPv6; the form that does not match AddrType gives an empty string.
  String IPAsString() const;
  String IPv4AsString() const;
  String IPv6AsString() const;

  // Compares with the address in AIP: -1, 0 or 1, group by group for IPv6, as numbers
  // for IPv4. VErr is true (and the result 0) when AIP is not an address or of the
  // other type.
  int CompareAddress(StringView AIP, bool& VErr) const;

  uint32_t IPv4() const { return FIPv4; }
  void SetIPv4(uint32_t AValue) { FIPv4 = AValue; }
  TIdIPVersion AddrType() const { return FAddrType; }
  void SetAddrType(TIdIPVersion AValue) { FAddrType = AValue; }

  TIdIPv6Address IPv6{};  // host byte order, used when AddrType is Id_IPv6

private:
  uint32_t FIPv4 = 0;  // host byte order
  TIdIPVersion FAddrType = Id_IPv4;
};

}  // namespace vyn
