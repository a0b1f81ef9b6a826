#include "gui/excel_save_dialog.h"

#include <QFileInfo>

#include "core/file_ext.h"

namespace linograf {

namespace {
const QStringList& Filters() {
    static const QStringList filters = {QStringLiteral("Microsoft Excel 97-2003 (*.xls)"),
                                        QStringLiteral("Microsoft Excel 2007 (*.xlsx)")};
    return filters;
}
}  // namespace

TExcelSaveDialog::TExcelSaveDialog(QWidget* parent) : dialog_(parent) {
    dialog_.setObjectName(QStringLiteral("SaveDialog1"));
    dialog_.setAcceptMode(QFileDialog::AcceptSave);
    dialog_.setFileMode(QFileDialog::AnyFile);
    // Qt's own dialog: the same on every desktop, and it runs under the offscreen platform.
    dialog_.setOption(QFileDialog::DontUseNativeDialog);
    dialog_.setOption(QFileDialog::DontConfirmOverwrite);
    dialog_.setNameFilters(Filters());
    dialog_.selectNameFilter(Filters()[kExcel97Filter]);
}

QString TExcelSaveDialog::NameForFilter(const QString& name, int filter_index) {
    const std::string changed =
        ChangeFileExt(name.toStdString(), filter_index == kExcel2007Filter ? ".xlsx" : ".xls");
    return QString::fromStdString(changed);
}

bool TExcelSaveDialog::Execute(const QString& file_name) {
    const QFileInfo info(file_name);
    if (!file_name.isEmpty() && info.dir().exists() && info.path() != QStringLiteral(".")) {
        dialog_.setDirectory(info.dir());
    }
    dialog_.selectFile(file_name.isEmpty() ? QString() : info.fileName());
    if (dialog_.exec() != QDialog::Accepted || dialog_.selectedFiles().isEmpty()) return false;
    filter_index_ = std::max<int>(static_cast<int>(Filters().indexOf(dialog_.selectedNameFilter())), 0);
    file_name_ = NameForFilter(dialog_.selectedFiles().front(), filter_index_);
    return true;
}

}  // namespace linograf
