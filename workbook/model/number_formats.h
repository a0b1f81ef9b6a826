#pragma once
// Number formats: the format codes that XF records refer to by id. Ids 0..58 are Excel's built-in
// formats; they are always present, written only once something uses them, and never removed.
// Custom codes get ids above the highest id given so far, from 164 on (ids below are reserved for
// built-in formats, as Excel and other producers number them), and disappear when no longer used.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace linograf::workbook {

inline constexpr int kLastBuiltInNumberFormat = 58;
inline constexpr int kFirstCustomNumberFormat = 164;

class TNumberFormat {
  public:
    TNumberFormat(int id, std::u16string text, int use_count);

    int Id() const { return id_; }
    const std::u16string& Text() const { return text_; }
    // -1 marks a built-in format nothing uses; such formats produce no FORMAT record.
    int UseCount() const { return use_count_; }
    uint16_t Hash() const { return hash_; }

  private:
    friend class TNumberFormats;
    void SetText(std::u16string text);

    int id_;
    std::u16string text_;
    int use_count_;
    uint16_t hash_;
};

class TNumberFormats {
  public:
    TNumberFormats();

    // Back to the 59 built-in formats, none of them used.
    void Reset();

    // The id for a format code: 0 for an empty code, the existing format's id (its use count
    // raised) for a known code, else a new id one above the highest (164 at least).
    int FindOrAdd(std::u16string_view text);
    // Readers: a FORMAT record of a file. An existing id takes the new text.
    void AddFromRecord(int id, std::u16string_view text, int count);
    void Release(int id);
    // Marks a built-in format as used by the default cell formats.
    void MarkUsed(int id);

    // Throws "Can not find number format# %d" for an absent id above 58; absent built-in ids
    // cannot occur after Reset.
    const TNumberFormat& ById(int id);
    const TNumberFormat* FindById(int id);

    int Count() const { return static_cast<int>(formats_.size()); }
    // In id order.
    const TNumberFormat& Items(int position);
    int HighestId() const { return highest_id_; }

  private:
    void SortIfNeeded();
    int PositionOf(int id);

    std::vector<std::unique_ptr<TNumberFormat>> formats_;
    int highest_id_ = kLastBuiltInNumberFormat;
    bool sorted_ = true;
};

}  // namespace linograf::workbook
