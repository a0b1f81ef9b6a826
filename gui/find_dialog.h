#pragma once
// The grids' find dialog "Поиск" (F7): looks for a text in the grid's current column, going down
// from the row after the current one and on from the top, and makes the found row current.
#include <QDialog>

class QAbstractItemModel;
class QCheckBox;
class QLineEdit;
class QTableView;

namespace linograf {

// The first row after `start` (wrapping round to the top, `start` itself last) whose text in
// `column` contains `text`; -1 when none does or the text is empty.
int FindRowInColumn(const QAbstractItemModel& model, int column, int start, const QString& text,
                    Qt::CaseSensitivity case_sensitivity);

class TFindDialog : public QDialog {
    Q_OBJECT

  public:
    explicit TFindDialog(QTableView* grid);

    QLineEdit* TextBox() const { return text_; }
    QCheckBox* CaseBox() const { return case_; }
    // Searches once from the grid's current row; true when a row was found and made current.
    bool FindNext();

  private:
    QTableView* grid_;
    QLineEdit* text_;
    QCheckBox* case_;
};

}  // namespace linograf
