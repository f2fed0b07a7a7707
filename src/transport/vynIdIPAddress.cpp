#include "vynIdIPAddress.h"

#include <vector>

#include "vynIdResourceStrings.h"

namespace vyn {

namespace {

bool IsDecDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsHexLetter(char16_t c) { return (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'); }

int HexValue(char16_t c) {
  if (IsDecDigit(c)) return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

std::vector<StringView> SplitAt(StringView AText, char16_t ADelim) {
  std::vector<StringView> out;
  size_t start = 0;
  for (;;) {
    size_t pos = AText.find(ADelim, start);
    if (pos == StringView::npos) {
      out.push_back(AText.substr(start));
      return out;
    }
    out.push_back(AText.substr(start, pos - start));
    start = pos + 1;
  }
}

// A non-empty run of digits in ABase whose value is at most AMax. Leading zeros do
// not count against the limit; the value is capped while reading so that a long run
// cannot overflow.
bool ReadNumber(StringView AText, int ABase, uint64_t AMax, uint64_t& VValue) {
  if (AText.empty()) return false;
  uint64_t v = 0;
  for (char16_t c : AText) {
    int d = HexValue(c);
    if (d < 0 || d >= ABase) return false;
    v = v * ABase + d;
    if (v > AMax) return false;
  }
  VValue = v;
  return true;
}

// The groups of an IPv6 text, the last two marked as an IPv4 tail when there is one.
bool ParseGroups(StringView AAddr, TIdIPv6Address& VGroups, bool& VHasTail) {
  if (AAddr.empty()) return false;
  // The "0" put before a leading "::" (or after a trailing one) is one of the zero
  // groups that "::" stands for, so there "::" may stand for that one group alone and
  // the text holds one colon more than elsewhere ('::2:3:4:5:6:7:8', '1:2:3:4:5:6:7::').
  const size_t padded = (AAddr.starts_with(u"::") ? 1 : 0) + (AAddr.ends_with(u"::") ? 1 : 0);
  const int extraColon = padded > 0 ? 1 : 0;
  String s;
  if (AAddr.front() == u':') s = u"0";
  s.append(AAddr);
  if (s.back() == u':') s.push_back(u'0');

  int colons = 0, dots = 0;
  size_t lastColon = String::npos, firstDot = String::npos;
  for (size_t i = 0; i < s.size(); ++i) {
    char16_t c = s[i];
    if (c == u':') {
      ++colons;
      lastColon = i;
    } else if (c == u'.') {
      ++dots;
      if (firstDot == String::npos) firstDot = i;
    } else if (IsHexLetter(c)) {
      if (firstDot != String::npos) return false;
    } else if (!IsDecDigit(c)) {
      return false;
    }
  }
  if (colons > 7 + extraColon || dots > 3) return false;
  if (dots != 0 && dots != 3) return false;
  if (dots == 0) {
    if (colons < 2) return false;
  } else {
    if (colons < 2 || colons > 6 + extraColon || lastColon > firstDot) return false;
  }

  std::vector<StringView> pieces = SplitAt(s, u':');
  VHasTail = dots == 3;
  uint16_t tail[2] = {0, 0};
  if (VHasTail) {
    std::vector<StringView> parts = SplitAt(pieces.back(), u'.');
    uint64_t b[4];
    for (int i = 0; i < 4; ++i) {
      if (!ReadNumber(parts[i], 10, 255, b[i])) return false;
    }
    tail[0] = static_cast<uint16_t>(b[0] << 8 | b[1]);
    tail[1] = static_cast<uint16_t>(b[2] << 8 | b[3]);
    pieces.pop_back();
  }

  const size_t need = VHasTail ? 6 : 8;
  size_t empties = 0, emptyAt = 0;
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (pieces[i].empty()) {
      ++empties;
      emptyAt = i;
    }
  }
  if (empties > 1) return false;
  // "::" stands for at least one zero group; without it the groups must all be there.
  if (empties == 0 ? pieces.size() != need : pieces.size() - 1 >= need + padded) return false;

  TIdIPv6Address g{};
  size_t out = 0;
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (empties == 1 && i == emptyAt) {
      out += need - (pieces.size() - 1);  // zero groups, already zero
      continue;
    }
    uint64_t v;
    if (!ReadNumber(pieces[i], 16, 0xFFFF, v)) return false;
    g[out++] = static_cast<uint16_t>(v);
  }
  if (VHasTail) {
    g[6] = tail[0];
    g[7] = tail[1];
  }
  VGroups = g;
  return true;
}

}  // namespace

String CanonicalIPv6Text(StringView AAddr) {
  TIdIPv6Address g;
  bool hasTail = false;
  if (!ParseGroups(AAddr, g, hasTail)) return {};
  String out;
  for (int i = 0; i < 8; ++i) {
    if (i > 0) out += u':';
    out += (hasTail && i >= 6) ? IntToHex(g[i], 4) : IntToHex(g[i], 1);
  }
  return out;
}

void ParseIPv6Text(StringView AText, TIdIPv6Address& VAddress, bool& VErr) {
  bool hasTail = false;
  TIdIPv6Address g;
  VErr = !ParseGroups(AText, g, hasTail);
  VAddress = VErr ? TIdIPv6Address{} : g;
}

void ParseIPv6Text(StringView AText, TIdIPv6Address& VAddress) {
  bool err = false;
  ParseIPv6Text(AText, VAddress, err);
  if (err) EIdInvalidIPv6Address::Toss(FormatInvariant(RSInvalidIPv6Address, {String(AText)}));
}

bool ParseIPv4Text(StringView AText, uint32_t& VAddress) {
  if (AText.empty()) return false;
  std::vector<StringView> parts = SplitAt(AText, u'.');
  if (parts.size() > 4) return false;
  uint32_t result = 0;
  for (size_t i = 0; i < parts.size(); ++i) {
    StringView p = parts[i];
    const bool last = i + 1 == parts.size();
    const int bytes = last ? static_cast<int>(4 - i) : 1;
    const uint64_t max = bytes == 4 ? 0xFFFFFFFFull : (uint64_t(1) << (8 * bytes)) - 1;
    uint64_t v;
    bool ok;
    if (p.size() >= 2 && p[0] == u'0' && (p[1] == u'x' || p[1] == u'X')) {
      ok = ReadNumber(p.substr(2), 16, max, v);
    } else if (p.size() >= 2 && p[0] == u'0' && p.find_first_not_of(u"01234567") == StringView::npos) {
      ok = ReadNumber(p.substr(1), 8, max, v);
    } else {
      ok = ReadNumber(p, 10, max, v);
    }
    if (!ok) return false;
    // A part takes its own byte; the last one the low bytes that remain.
    result |= static_cast<uint32_t>(last ? v : v << (8 * (3 - i)));
  }
  VAddress = result;
  return true;
}

std::unique_ptr<TIdIPAddress> TIdIPAddress::MakeAddressObject(StringView AIP) {
  auto r = MakeAddressObject(AIP, Id_IPv6);
  return r ? std::move(r) : MakeAddressObject(AIP, Id_IPv4);
}

std::unique_ptr<TIdIPAddress> TIdIPAddress::MakeAddressObject(StringView AIP, TIdIPVersion AIPVersion) {
  auto r = std::make_unique<TIdIPAddress>();
  r->FAddrType = AIPVersion;
  if (AIPVersion == Id_IPv6) {
    bool err = false;
    ParseIPv6Text(AIP, r->IPv6, err);
    if (err) return nullptr;
  } else if (AIPVersion == Id_IPv4) {
    if (!ParseIPv4Text(AIP, r->FIPv4)) return nullptr;
  } else {
    return nullptr;
  }
  return r;
}

TIdBytes TIdIPAddress::HToNBytes() const {
  TIdBytes out;
  if (FAddrType == Id_IPv4) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(FIPv4 >> shift));
  } else {
    for (uint16_t g : IPv6) {
      out.push_back(static_cast<uint8_t>(g >> 8));
      out.push_back(static_cast<uint8_t>(g));
    }
  }
  return out;
}

String TIdIPAddress::IPAsString() const {
  return FAddrType == Id_IPv4 ? IPv4AsString() : IPv6AsString();
}

String TIdIPAddress::IPv4AsString() const {
  if (FAddrType != Id_IPv4) return {};
  return FormatInvariant(u"%d.%d.%d.%d",
                         {FIPv4 >> 24, (FIPv4 >> 16) & 0xFF, (FIPv4 >> 8) & 0xFF, FIPv4 & 0xFF});
}

String TIdIPAddress::IPv6AsString() const {
  if (FAddrType != Id_IPv6) return {};
  String out;
  for (int i = 0; i < 8; ++i) {
    if (i > 0) out += u':';
    out += IntToHex(IPv6[i], 4);
  }
  return out;
}

int TIdIPAddress::CompareAddress(StringView AIP, bool& VErr) const {
  auto other = MakeAddressObject(AIP);
  VErr = !other || other->FAddrType != FAddrType;
  if (VErr) return 0;
  if (FAddrType == Id_IPv4) {
    return FIPv4 < other->FIPv4 ? -1 : (FIPv4 > other->FIPv4 ? 1 : 0);
  }
  for (int i = 0; i < 8; ++i) {
    if (IPv6[i] != other->IPv6[i]) return IPv6[i] < other->IPv6[i] ? -1 : 1;
  }
  return 0;
}

}  // namespace vyn
