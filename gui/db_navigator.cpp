#include "gui/db_navigator.h"

#include <QToolButton>

#include "gui/error_handler.h"
#include "gui/pictures.h"

namespace linograf {

TDbNavigator::TDbNavigator(TMemTable& table, QWidget* parent) : QWidget(parent), table_(table) {
    static constexpr TPicture kPictures[] = {TPicture::kInsert, TPicture::kDelete, TPicture::kPost,
                                             TPicture::kCancel};
    static constexpr const char* kHints[] = {"Вставить запись", "Удалить запись", "Сохранить изменения",
                                             "Отменить изменения"};
    resize(108, 25);
    for (int i = 0; i < kButtonCount; ++i) {
        auto* button = new QToolButton(this);
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setIcon(Picture(kPictures[i]));
        button->setToolTip(QString::fromUtf8(kHints[i]));
        button->setGeometry(i * 27, 0, 27, 25);
        connect(button, &QToolButton::clicked, this, [this, i] { Act(static_cast<TButton>(i)); });
        buttons_[i] = button;
    }
    observer_ = table_.AddObserver([this](const TDataChange&) { UpdateButtons(); });
    UpdateButtons();
}

TDbNavigator::~TDbNavigator() {
    table_.RemoveObserver(observer_);
}

void TDbNavigator::UpdateButtons() {
    const bool active = table_.Active();
    const bool editing = table_.State() == TDataSetState::dsEdit || table_.State() == TDataSetState::dsInsert;
    buttons_[nbInsert]->setEnabled(active && !editing);
    buttons_[nbDelete]->setEnabled(active && (!table_.IsEmpty() || editing));
    buttons_[nbPost]->setEnabled(editing);
    buttons_[nbCancel]->setEnabled(editing);
}

void TDbNavigator::Act(TButton button) {
    Guarded([&] {
        if (BeforeAction) BeforeAction();
        switch (button) {
            case nbInsert:
                table_.Insert();
                break;
            case nbDelete:
                table_.Delete();
                break;
            case nbPost:
                table_.Post();
                break;
            case nbCancel:
                table_.Cancel();
                break;
            default:
                break;
        }
    });
    UpdateButtons();
}

}  // namespace linograf
