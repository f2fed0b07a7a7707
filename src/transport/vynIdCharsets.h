// Character-set names (as MIME and HTTP carry them) mapped to encodings: the names and
// aliases of the IANA character-set registry, each with the code page that implements
// it, or 0 where none does.
#pragma once

#include <cstdint>
#include <span>

#include "vynIdTextEncoding.h"

namespace vyn {

struct TIdCharsetEntry {
  const char16_t* Name;
  uint32_t CodePage;  // 0: no code page implements this character set
};

// The whole table. Entry 0 is the empty name with code page 0; the registry's names
// follow in registry order, each charset's name first and then its aliases.
std::span<const TIdCharsetEntry> CharsetTable();

// The index of the first entry whose name equals ACharset ignoring case, then of the
// short spellings UTF7, UTF8, UTF16(LE/BE) and UTF32(LE/BE); 0 when nothing matches.
int IndexOfCharset(StringView ACharset);

// Asked before the table when installed: returns the encoding for ACharset, or null
// for a name it does not handle. Install it at start-up; it is read without locking.
using TIdCharsetLookupHook = IIdTextEncoding (*)(const String& ACharset);
extern TIdCharsetLookupHook CharsetLookupHook;

// The encoding for a character-set name; never null. An empty or unknown name, a
// charset without a code page, and a code page this platform cannot convert all give
// the 8-bit encoding.
IIdTextEncoding EncodingForCharset(const String& ACharset);

}  // namespace vyn
