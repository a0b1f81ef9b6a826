#include "gui/stacked_header_view.h"

#include <QPainter>
#include <QStyleOptionHeader>

namespace linograf {

TStackedHeaderView::TStackedHeaderView(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    setSectionsClickable(false);
    setHighlightSections(false);
    setDefaultAlignment(Qt::AlignCenter);
}

QStringList TStackedHeaderView::Levels(const QString& title) {
    return title.split(u'|');
}

QStringList TStackedHeaderView::TitleLevels(int logical_index) const {
    if (!model()) return {};
    return Levels(model()->headerData(logical_index, orientation(), Qt::DisplayRole).toString());
}

int TStackedHeaderView::LevelCount() const {
    qsizetype levels = 1;
    for (int i = 0; i < count(); ++i) levels = std::max(levels, TitleLevels(i).size());
    return static_cast<int>(levels);
}

std::pair<int, int> TStackedHeaderView::Span(int visual, int level) const {
    const QStringList own = TitleLevels(logicalIndex(visual));
    // A column's last level reaches down to the bottom, and only columns with more levels below
    // can share a cell with their neighbours.
    if (level >= own.size() - 1) return {visual, visual};
    const QStringList prefix = own.mid(0, level + 1);
    auto shares = [&](int other) {
        const QStringList levels = TitleLevels(logicalIndex(other));
        return levels.size() - 1 > level && levels.mid(0, level + 1) == prefix;
    };
    int first = visual, last = visual;
    while (first > 0 && shares(first - 1)) --first;
    while (last + 1 < count() && shares(last + 1)) ++last;
    return {first, last};
}

int TStackedHeaderView::LineHeight() const {
    return fontMetrics().height() + 4;
}

QSize TStackedHeaderView::sizeHint() const {
    QSize size = QHeaderView::sizeHint();
    size.setHeight(std::max(size.height(), LineHeight() * LevelCount() + 2));
    return size;
}

void TStackedHeaderView::paintSection(QPainter* painter, const QRect& rect, int logical_index) const {
    const QStringList levels = TitleLevels(logical_index);
    const int depth = LevelCount();
    const int line = rect.height() / depth;
    const int visual = visualIndex(logical_index);
    painter->save();
    painter->setClipRect(rect);
    for (int level = 0; level < levels.size(); ++level) {
        // The cell spans its columns horizontally; the column's last level takes the rest of the
        // height. Each column paints its own slice of a shared cell.
        const auto [first, last] = Span(visual, level);
        const int left = sectionViewportPosition(logicalIndex(first));
        const int right = sectionViewportPosition(logicalIndex(last)) + sectionSize(logicalIndex(last));
        const int top = rect.top() + level * line;
        const int bottom = level == levels.size() - 1 ? rect.bottom() + 1 : top + line;
        QStyleOptionHeader option;
        initStyleOption(&option);
        option.rect = QRect(left, top, right - left, bottom - top);
        option.section = logical_index;
        option.text = levels[level];
        option.textAlignment = Qt::AlignCenter;
        option.position = QStyleOptionHeader::Middle;
        option.state |= QStyle::State_Enabled;
        if (level == 0 && !levels.isEmpty() && isSortIndicatorShown() &&
            sortIndicatorSection() == logical_index) {
            option.sortIndicator = sortIndicatorOrder() == Qt::AscendingOrder ? QStyleOptionHeader::SortDown
                                                                              : QStyleOptionHeader::SortUp;
        }
        style()->drawControl(QStyle::CE_Header, &option, painter, this);
    }
    painter->restore();
}

}  // namespace linograf
