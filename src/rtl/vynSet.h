// A set of a small enumeration (values 0 to 63), as option sets use it.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace vyn {

template <class E>
class TSet {
public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> AValues) {
    for (E v : AValues) Include(v);
  }
  constexpr bool Contains(E AValue) const { return FBits & Bit(AValue); }
  constexpr TSet& Include(E AValue) { FBits |= Bit(AValue); return *this; }
  constexpr TSet& Exclude(E AValue) { FBits &= ~Bit(AValue); return *this; }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr TSet operator+(TSet A) const { return FromBits(FBits | A.FBits); }
  constexpr TSet operator-(TSet A) const { return FromBits(FBits & ~A.FBits); }
  constexpr TSet operator*(TSet A) const { return FromBits(FBits & A.FBits); }
  constexpr bool operator==(const TSet&) const = default;

private:
  static constexpr uint64_t Bit(E AValue) { return uint64_t(1) << static_cast<unsigned>(AValue); }
  static constexpr TSet FromBits(uint64_t ABits) { TSet s; s.FBits = ABits; return s; }
  uint64_t FBits = 0;
};

}  // namespace vyn
