#pragma once
// A small set of enumeration members stored as a bit mask, bit n for the member of ordinal n,
// so the sets keep the one- and two-byte layouts the line events, signals and errors are
// exchanged in.

#include <cstdint>
#include <initializer_list>

namespace serial {

template <typename E, typename Bits>
class TSet {
 public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> members) {
    for (E m : members) bits_ = static_cast<Bits>(bits_ | Bit(m));
  }
  static constexpr TSet FromBits(Bits bits) {
    TSet s;
    s.bits_ = bits;
    return s;
  }

  constexpr Bits ToBits() const { return bits_; }
  constexpr bool Contains(E m) const { return (bits_ & Bit(m)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr TSet& Include(E m) {
    bits_ = static_cast<Bits>(bits_ | Bit(m));
    return *this;
  }
  constexpr TSet& Exclude(E m) {
    bits_ = static_cast<Bits>(bits_ & ~Bit(m));
    return *this;
  }

  friend constexpr bool operator==(TSet a, TSet b) = default;
  friend constexpr TSet operator|(TSet a, TSet b) {
    return FromBits(static_cast<Bits>(a.bits_ | b.bits_));
  }
  friend constexpr TSet operator&(TSet a, TSet b) {
    return FromBits(static_cast<Bits>(a.bits_ & b.bits_));
  }

 private:
  static constexpr Bits Bit(E m) { return static_cast<Bits>(Bits{1} << static_cast<unsigned>(m)); }
  Bits bits_ = 0;
};

}  // namespace serial
