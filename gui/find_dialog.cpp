#include "gui/find_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>

namespace linograf {

int FindRowInColumn(const QAbstractItemModel& model, int column, int start, const QString& text,
                    Qt::CaseSensitivity case_sensitivity) {
    const int rows = model.rowCount();
    if (text.isEmpty() || rows == 0 || column < 0 || column >= model.columnCount()) return -1;
    if (start < 0 || start >= rows) start = rows - 1;
    for (int step = 1; step <= rows; ++step) {
        const int row = (start + step) % rows;
        if (model.index(row, column).data(Qt::DisplayRole).toString().contains(text, case_sensitivity))
            return row;
    }
    return -1;
}

TFindDialog::TFindDialog(QTableView* grid) : QDialog(grid), grid_(grid) {
    setWindowTitle(QStringLiteral("Поиск"));
    auto* layout = new QGridLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Текст:"), this), 0, 0);
    text_ = new QLineEdit(this);
    text_->setObjectName(QStringLiteral("FindText"));
    layout->addWidget(text_, 0, 1);
    case_ = new QCheckBox(QStringLiteral("С учетом регистра"), this);
    layout->addWidget(case_, 1, 1);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* find = buttons->addButton(QStringLiteral("Найти далее"), QDialogButtonBox::ActionRole);
    find->setDefault(true);
    QPushButton* close = buttons->addButton(QStringLiteral("Закрыть"), QDialogButtonBox::RejectRole);
    layout->addWidget(buttons, 2, 0, 1, 2);
    connect(find, &QPushButton::clicked, this, [this] {
        if (!FindNext()) QApplication::beep();
    });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
}

bool TFindDialog::FindNext() {
    QAbstractItemModel* model = grid_->model();
    const QModelIndex current = grid_->currentIndex();
    const int column = current.isValid() ? current.column() : 0;
    const int row = FindRowInColumn(*model, column, current.isValid() ? current.row() : -1, text_->text(),
                                    case_->isChecked() ? Qt::CaseSensitive : Qt::CaseInsensitive);
    if (row < 0) return false;
    grid_->setCurrentIndex(model->index(row, column));
    return true;
}

}  // namespace linograf
