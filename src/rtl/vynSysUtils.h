// Exceptions, string helpers and the format function of the run-time base.
#pragma once

#include <exception>
#include <initializer_list>
#include <variant>

#include "vynSystem.h"

namespace vyn {

// The base of every error: a message and an optional inner exception (the failure
// that caused this one). what() gives the message in UTF-8.
class Exception : public std::exception {
public:
  explicit Exception(String AMessage = {}, std::exception_ptr AInner = nullptr);

  const String& Message() const { return FMessage; }
  void SetMessage(String AMessage);
  const char* what() const noexcept override { return FWhat.c_str(); }

  // The failure this one wraps, if any. InnerException() gives it when it is an
  // Exception, nullptr otherwise; the object lives as long as this exception.
  std::exception_ptr InnerExceptionPtr() const { return FInner; }
  const Exception* InnerException() const;

  String ClassName() const { return ClassNameOf(typeid(*this)); }

private:
  String FMessage;
  std::string FWhat;
  std::exception_ptr FInner;
};

// Declares an exception class that adds nothing but its place in the tree and
// Toss, which raises a new instance of exactly this class.
#define VYN_EXCEPTION_CLASS(AName, AParent)                                 \
  class AName : public AParent {                                            \
  public:                                                                   \
    using AParent::AParent;                                                 \
    [[noreturn]] static void Toss(const ::vyn::String& AMsg) { throw AName(AMsg); } \
  }

VYN_EXCEPTION_CLASS(EConvertError, Exception);
VYN_EXCEPTION_CLASS(EStreamError, Exception);
VYN_EXCEPTION_CLASS(EReadError, EStreamError);
VYN_EXCEPTION_CLASS(EWriteError, EStreamError);
VYN_EXCEPTION_CLASS(EFOpenError, EStreamError);
VYN_EXCEPTION_CLASS(EFCreateError, EStreamError);

// One argument of Format.
class TVarRec {
public:
  using Value = std::variant<int64_t, uint64_t, double, String, const void*>;
  TVarRec(int v) : FValue(int64_t(v)) {}
  TVarRec(long v) : FValue(int64_t(v)) {}
  TVarRec(long long v) : FValue(int64_t(v)) {}
  TVarRec(unsigned v) : FValue(uint64_t(v)) {}
  TVarRec(unsigned long v) : FValue(uint64_t(v)) {}
  TVarRec(unsigned long long v) : FValue(uint64_t(v)) {}
  TVarRec(double v) : FValue(v) {}
  TVarRec(String v) : FValue(std::move(v)) {}
  TVarRec(StringView v) : FValue(String(v)) {}
  TVarRec(const char16_t* v) : FValue(String(v)) {}
  TVarRec(char16_t v) : FValue(String(1, v)) {}
  TVarRec(const void* v) : FValue(v) {}
  const Value& Get() const { return FValue; }

private:
  Value FValue;
};

// printf-style formatting in the run-time's own format language, always with fixed
// English settings ("." decimals, "," thousands):
//   %[index:][-][width][.precision]type   type: d u x s f e g n p %
// %d/%u/%x take integers; precision is a minimum digit count, zero padded (%.4d).
// %x is upper-case hexadecimal. %s takes a string; precision cuts it. %f/%e/%g/%n
// take numbers (%n adds thousands separators). A width of * takes it from the list.
// A missing or mismatched argument raises EConvertError.
String Format(StringView AFormat, std::initializer_list<TVarRec> AArgs);

// String helpers. Case operations are ASCII-only, as the protocols need.
String UpperCase(StringView S);
String LowerCase(StringView S);
bool SameText(StringView A, StringView B);
String Trim(StringView S);       // drops characters <= U+0020 at both ends
String TrimLeft(StringView S);
String TrimRight(StringView S);
String IntToStr(int64_t AValue);
String UIntToStr(uint64_t AValue);
String IntToHex(uint64_t AValue, int ADigits);
// Decimal, optionally signed; "$" or "0x" prefixes hexadecimal. Raises EConvertError
// "'%s' is not a valid integer value" for anything else or a value out of range.
int32_t StrToInt(StringView S);
int64_t StrToInt64(StringView S);
int32_t StrToIntDef(StringView S, int32_t ADefault);
int64_t StrToInt64Def(StringView S, int64_t ADefault);
bool TryStrToInt64(StringView S, int64_t& AValue);

}  // namespace vyn
