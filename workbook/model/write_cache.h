#pragma once
// What a file format's writer keeps from one write of a workbook to make the next one cheaper,
// held by the workbook between writes. The model knows only that it exists: the writer that made
// it decides at its next write whether it still fits, and the workbook drops it whenever its
// content is replaced as a whole (Clear, Read) or a write fails.
namespace linograf::workbook {

class TWriteCache {
  public:
    virtual ~TWriteCache() = default;
};

}  // namespace linograf::workbook
