#pragma once
/// \file
/// A small set of enumeration members stored as a bit mask, bit n for the member of ordinal n,
/// so the sets keep the one- and two-byte layouts the line events, signals and errors are
/// exchanged in.

#include <cstdint>
#include <initializer_list>

namespace serial {

/// A set of members of the enumeration `E`, in the unsigned integer `Bits`; a value type, copied
/// and compared as its bits.
template <typename E, typename Bits>
class TSet {
 public:
  /// The empty set.
  constexpr TSet() = default;
  /// The set of the members listed: `TComEvents{evRxChar, evError}`.
  constexpr TSet(std::initializer_list<E> members) {
    for (E m : members) bits_ = static_cast<Bits>(bits_ | Bit(m));
  }
  /// The set a bit mask stands for, as it was exchanged; bits past the last member are kept.
  static constexpr TSet FromBits(Bits bits) {
    TSet s;
    s.bits_ = bits;
    return s;
  }

  /// The bit mask, bit n for the member of ordinal n.
  constexpr Bits ToBits() const { return bits_; }
  /// Whether `m` is in the set.
  constexpr bool Contains(E m) const { return (bits_ & Bit(m)) != 0; }
  /// Whether no member is in the set.
  constexpr bool Empty() const { return bits_ == 0; }
  /// Adds `m`; gives the set, so that calls chain.
  constexpr TSet& Include(E m) {
    bits_ = static_cast<Bits>(bits_ | Bit(m));
    return *this;
  }
  /// Takes `m` out; gives the set, so that calls chain.
  constexpr TSet& Exclude(E m) {
    bits_ = static_cast<Bits>(bits_ & ~Bit(m));
    return *this;
  }

  /// Whether both hold the same members.
  friend constexpr bool operator==(TSet a, TSet b) = default;
  /// The members of either set.
  friend constexpr TSet operator|(TSet a, TSet b) {
    return FromBits(static_cast<Bits>(a.bits_ | b.bits_));
  }
  /// The members of both sets.
  friend constexpr TSet operator&(TSet a, TSet b) {
    return FromBits(static_cast<Bits>(a.bits_ & b.bits_));
  }

 private:
  static constexpr Bits Bit(E m) { return static_cast<Bits>(Bits{1} << static_cast<unsigned>(m)); }
  Bits bits_ = 0;
};

}  // namespace serial
