#pragma once
// The elements of a workbook file that the workbook itself does not model (document summaries,
// embedded controls, custom data stores and the like). They are kept from the last file read
// and put unchanged into every file written from the same workbook, so saving a workbook that
// came from Excel does not lose them.
#include "workbook/cfb/compound_document.h"

namespace linograf::workbook {

class TExtraObjects {
  public:
    bool IsEmpty() const { return document_.Root().Elements().empty(); }
    void Clear() { document_.Root().Clear(); }

    // Keeps a copy of every element of a document just read except the record streams, which
    // the workbook writes anew ("Book" and "Workbook", in any case), and the macro storage,
    // which has its own holder ("_VBA_PROJECT_CUR", exactly so spelled). Replaces what was kept.
    void Assign(const TCompoundDocument& read);
    // Copies the kept elements into a document being written; elements of the same name there
    // are replaced.
    void CopyTo(TCompoundStorage& target) const { document_.Root().CopyTo(target); }

    const TCompoundStorage& Elements() const { return document_.Root(); }

    static bool IsRecordStreamName(std::u16string_view name);
    static constexpr std::u16string_view kMacroStorageName = u"_VBA_PROJECT_CUR";

  private:
    TCompoundDocument document_;
};

}  // namespace linograf::workbook
