#pragma once
// The save dialog for workbooks: two filters, Excel 97-2003 and Excel 2007; the one chosen last
// stays chosen (the first at start); no question when an existing file is chosen. The chosen name
// gets the chosen filter's extension in place of its own.
#include <QFileDialog>
#include <QString>

namespace linograf {

class TExcelSaveDialog {
  public:
    static constexpr int kExcel97Filter = 0;
    static constexpr int kExcel2007Filter = 1;

    explicit TExcelSaveDialog(QWidget* parent);

    // The name with its extension replaced by ".xlsx" for the second filter, ".xls" otherwise.
    static QString NameForFilter(const QString& name, int filter_index);

    // Opens the dialog with `file_name` filled in; true when the operator confirmed.
    bool Execute(const QString& file_name);
    // After Execute: the chosen name with the chosen filter's extension.
    QString FileName() const { return file_name_; }
    int FilterIndex() const { return filter_index_; }
    QFileDialog& Dialog() { return dialog_; }

  private:
    QFileDialog dialog_;
    QString file_name_;
    int filter_index_ = kExcel97Filter;
};

}  // namespace linograf
