#pragma once
// Column titles with stacked levels: a "|" in a title splits it into levels, top to bottom, and
// neighbouring columns whose titles begin with the same levels share one cell for them, so
// "Вес|Брутто" and "Вес|Нетто" stand under one "Вес". Titles without "|" fill the whole height.
#include <QHeaderView>
#include <QStringList>

namespace linograf {

class TStackedHeaderView : public QHeaderView {
    Q_OBJECT

  public:
    explicit TStackedHeaderView(QWidget* parent = nullptr);

    // Levels of a title ("A|B" gives A and B).
    static QStringList Levels(const QString& title);
    // The number of levels of the deepest title; at least 1.
    int LevelCount() const;
    // First and last visual column of the cell at `level` that holds the column at `visual`.
    std::pair<int, int> Span(int visual, int level) const;

    QSize sizeHint() const override;

  protected:
    void paintSection(QPainter* painter, const QRect& rect, int logical_index) const override;

  private:
    QStringList TitleLevels(int logical_index) const;
    int LineHeight() const;
};

}  // namespace linograf
