#include "vynIdStackBSDBase.h"

#include "vynIdIPAddress.h"
#include "vynIdResourceStrings.h"

namespace vyn {

void TIdStackBSDBase::TranslateStringToTInAddr(const String& AIP, void* AInAddr, TIdIPVersion AIPVersion) {
  auto* out = static_cast<uint8_t*>(AInAddr);
  switch (AIPVersion) {
    case Id_IPv4: {
      String rest = AIP;
      uint8_t bytes[4];
      for (int i = 0; i < 4; ++i) {
        if (rest.empty()) RaiseSocketError(Id_WSAEINVAL);
        const int32_t n = TrimmedStrToInt(SplitOffToken(rest, u"."));
        // A piece beyond a byte would silently address another host.
        if (n < 0 || n > 255) RaiseSocketError(Id_WSAEINVAL);
        bytes[i] = static_cast<uint8_t>(n);
      }
      if (!rest.empty()) RaiseSocketError(Id_WSAEINVAL);
      for (int i = 0; i < 4; ++i) out[i] = bytes[i];
      return;
    }
    case Id_IPv6: {
      TIdIPv6Address groups;
      ParseIPv6Text(AIP, groups);
      for (int i = 0; i < 8; ++i) {
        out[2 * i] = static_cast<uint8_t>(groups[i] >> 8);
        out[2 * i + 1] = static_cast<uint8_t>(groups[i]);
      }
      return;
    }
  }
  EIdIPVersionUnsupported::Toss(RSIPVersionUnsupported);
}

String TIdStackBSDBase::TranslateTInAddrToString(const void* AInAddr, TIdIPVersion AIPVersion) {
  const auto* in = static_cast<const uint8_t*>(AInAddr);
  switch (AIPVersion) {
    case Id_IPv4:
      return FormatInvariant(u"%d.%d.%d.%d", {in[0], in[1], in[2], in[3]});
    case Id_IPv6: {
      String out;
      for (int i = 0; i < 8; ++i) {
        if (i > 0) out += u':';
        out += IntToHex(uint32_t(in[2 * i]) << 8 | in[2 * i + 1], 1);
      }
      return out;
    }
  }
  EIdIPVersionUnsupported::Toss(RSIPVersionUnsupported);
}

bool TIdStackBSDBase::CheckIPVersionSupport(TIdIPVersion AIPVersion) {
  TIdStackSocketHandle s;
  try {
    s = NewSocketHandle(Id_SOCK_STREAM, Id_IPPROTO_IP, AIPVersion);
  } catch (const EIdException&) {
    return false;
  }
  WSCloseSocket(s);
  return true;
}

}  // namespace vyn
