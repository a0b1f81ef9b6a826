#pragma once
// The worksheets of a workbook, in sheet order.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/model/sheet.h"

namespace linograf::workbook {

class TSheets {
  public:
    explicit TSheets(TWorkbookModel& book);
    ~TSheets();
    TSheets(const TSheets&) = delete;
    TSheets& operator=(const TSheets&) = delete;

    // Appends a sheet named "Sheet" + its creation number. Kind 0 is a worksheet.
    TSheet& Add(uint8_t kind = 0);
    int Count() const { return static_cast<int>(sheets_.size()); }
    TSheet& Items(int index) { return *sheets_.at(index); }
    // Every sheet cleared, the shared strings emptied, then the sheets freed. Creation numbers
    // start again, so the first sheet added after is "Sheet1", as in a new workbook.
    void Clear();
    // The first sheet with the name, compared without regard to case, or null.
    TSheet* Find(std::u16string_view name);
    // The sheets' names in sheet order (formula references go by them).
    std::vector<std::u16string> Names() const;

  private:
    TWorkbookModel& book_;
    std::vector<std::unique_ptr<TSheet>> sheets_;
    int created_ = 0;
};

}  // namespace linograf::workbook
