#include "gui/pages/page_toolbar.h"

#include <QLabel>

namespace linograf {

QToolBar* MakePageToolBar(const QString& name, std::initializer_list<QAction*> actions, QWidget* page) {
    auto* toolbar = new QToolBar(page);
    toolbar->setObjectName(name);
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->setIconSize(QSize(16, 16));
    toolbar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    for (QAction* action : actions) toolbar->addAction(action);
    toolbar->setGeometry(0, 0, page->width(), 34);
    return toolbar;
}

QLabel* MakeLabel(const QString& name, const QString& text, int left, int top, QWidget* page) {
    auto* label = new QLabel(text, page);
    label->setObjectName(name);
    label->move(left, top);
    label->adjustSize();
    return label;
}

QLabel* MakeTitleLabel(const QString& name, const QString& text, int left, int top, QWidget* page) {
    QLabel* label = MakeLabel(name, text, left, top, page);
    QFont font(QStringLiteral("Tahoma"));
    font.setPointSize(8);
    font.setBold(true);
    label->setFont(font);
    label->adjustSize();
    return label;
}

}  // namespace linograf
