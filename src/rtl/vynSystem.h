// The root of the run-time base: the string type, UTF-8 conversion at the
// operating-system boundary, and the root object class with its class name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <typeinfo>

namespace vyn {

// Strings are sequences of UTF-16 code units.
using String = std::u16string;
using StringView = std::u16string_view;

// UTF-8 is used only where text leaves the library: paths, resolver, dlopen, what().
// Unpaired surrogates become U+FFFD; invalid UTF-8 input becomes U+FFFD.
std::string ToUtf8(StringView AText);
String FromUtf8(std::string_view AText);

// The converters behind both, on raw memory. Utf8ToUtf16 writes at most ACount code
// units (every byte yields at most one); Utf16ToUtf8 writes at most 3 * ACount bytes.
// A null destination only counts. Invalid input follows the Unicode practice of
// "maximal subparts": each maximal invalid prefix becomes one U+FFFD.
size_t Utf8ToUtf16(const uint8_t* ASource, size_t ACount, char16_t* ADest);
size_t Utf16ToUtf8(const char16_t* ASource, size_t ACount, uint8_t* ADest);

// A class name without namespaces, as the object model reports it ("TIdBuffer").
String ClassNameOf(const std::type_info& AType);

class TObject {
public:
  virtual ~TObject() = default;
  // The dynamic class name of this object.
  String ClassName() const { return ClassNameOf(typeid(*this)); }
};

}  // namespace vyn
