#pragma once
// Sets of enumeration values (the option sets of sheets, fonts and print settings), held as a bit
// mask so they compare and copy like the small integers the records store.
#include <cstdint>
#include <initializer_list>

namespace linograf::workbook {

template <typename E>
class EnumSet {
  public:
    constexpr EnumSet() = default;
    constexpr EnumSet(std::initializer_list<E> values) {
        for (E v : values) Include(v);
    }
    static constexpr EnumSet FromMask(uint32_t mask) {
        EnumSet s;
        s.mask_ = mask;
        return s;
    }

    constexpr bool Contains(E v) const { return (mask_ & Bit(v)) != 0; }
    constexpr EnumSet& Include(E v) {
        mask_ |= Bit(v);
        return *this;
    }
    constexpr EnumSet& Exclude(E v) {
        mask_ &= ~Bit(v);
        return *this;
    }
    constexpr bool Empty() const { return mask_ == 0; }
    constexpr uint32_t Mask() const { return mask_; }
    friend constexpr bool operator==(EnumSet a, EnumSet b) { return a.mask_ == b.mask_; }

  private:
    static constexpr uint32_t Bit(E v) { return uint32_t{1} << static_cast<unsigned>(v); }
    uint32_t mask_ = 0;
};

}  // namespace linograf::workbook
