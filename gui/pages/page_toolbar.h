#pragma once
// The toolbar along the top of a page: 34 pixels high, pictures only, the actions' captions as
// tooltips.
#include <QToolBar>
#include <initializer_list>

class QLabel;

namespace linograf {

QToolBar* MakePageToolBar(const QString& name, std::initializer_list<QAction*> actions, QWidget* page);

// A label at (left, top) of `page`; the title form is bold "Tahoma" 8 points.
QLabel* MakeLabel(const QString& name, const QString& text, int left, int top, QWidget* page);
QLabel* MakeTitleLabel(const QString& name, const QString& text, int left, int top, QWidget* page);

}  // namespace linograf
