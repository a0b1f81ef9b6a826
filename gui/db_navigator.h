#pragma once
// The format grid's navigator: four flat buttons acting on a table: insert, delete (without
// asking), post and cancel, each enabled only when it can act.
#include <QWidget>
#include <functional>

#include "core/mem_table.h"

class QToolButton;

namespace linograf {

class TDbNavigator : public QWidget {
    Q_OBJECT

  public:
    enum TButton { nbInsert, nbDelete, nbPost, nbCancel, kButtonCount };

    explicit TDbNavigator(TMemTable& table, QWidget* parent = nullptr);
    ~TDbNavigator() override;

    QToolButton* Button(TButton button) const { return buttons_[button]; }
    // Runs before every button's action: the grid stores its open editor's text in the row.
    std::function<void()> BeforeAction;
    void UpdateButtons();

  private:
    void Act(TButton button);

    TMemTable& table_;
    int observer_ = 0;
    QToolButton* buttons_[kButtonCount] = {};
};

}  // namespace linograf
