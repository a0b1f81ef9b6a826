#include "gui/pages/port_page.h"

#include <QComboBox>
#include <QEvent>
#include <QIntValidator>
#include <QLabel>
#include <QResizeEvent>
#include <QToolBar>
#include <algorithm>
#include <array>
#include <string_view>

#include "core/port_settings.h"
#include "gui/pages/page_toolbar.h"
#include "gui/port_details.h"

namespace linograf {

namespace {
// Windows-1251 first: the Windows program's encoding and the one a settings file without the key
// means.
constexpr std::array<std::string_view, 8> kEncodingItems = {
    "Windows-1251", "UTF-8", "ISO-8859-1", "ISO-8859-15", "Windows-1252", "KOI8-R", "CP866", "ISO-8859-5",
};

template <std::size_t N>
void Fill(QComboBox* box, const std::array<std::string_view, N>& items, int selected) {
    for (std::string_view item : items)
        box->addItem(QString::fromUtf8(item.data(), static_cast<qsizetype>(item.size())));
    box->setCurrentIndex(selected);
}
}  // namespace

TPortPage::TPortPage(QAction* asave_port, QAction* acancel, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("TabSheet3"));
    ToolBar3 = MakePageToolBar(QStringLiteral("ToolBar3"), {asave_port, acancel}, this);
    Label3 = MakeTitleLabel(QStringLiteral("Label3"), QStringLiteral("Настройки com порта"), 8, 44, this);
    eport = MakeBox(QStringLiteral("eport"), QStringLiteral("Порт"), 64);
    espeed = MakeBox(QStringLiteral("espeed"), QStringLiteral("Бит в секунду"), 88);
    ebit = MakeBox(QStringLiteral("ebit"), QStringLiteral("Биты данных"), 112);
    exor = MakeBox(QStringLiteral("exor"), QStringLiteral("Четность"), 136);
    estop = MakeBox(QStringLiteral("estop"), QStringLiteral("Стоповые биты"), 160);
    econtrol = MakeBox(QStringLiteral("econtrol"), QStringLiteral("Управление потоком"), 184);
    eencoding = MakeBox(QStringLiteral("eencoding"), QStringLiteral("Кодировка"), 208);
    Fill(espeed, kSpeedItems, kDesignSpeed);
    // Any rate the driver can divide to, not only the list's: typed in, digits only, in range.
    espeed->setEditable(true);
    espeed->setInsertPolicy(QComboBox::NoInsert);
    espeed->setValidator(new QIntValidator(kMinBaud, kMaxBaud, espeed));
    Fill(ebit, kDataBitsItems, kDesignDataBits);
    Fill(exor, kParityItems, kDesignParity);
    Fill(estop, kStopBitsItems, kDesignStopBits);
    Fill(econtrol, kFlowItems, kDesignFlow);
    Fill(eencoding, kEncodingItems, 0);
    eencoding->setEditable(true);
    eencoding->setInsertPolicy(QComboBox::NoInsert);
    LabelDevice = MakeLabel(QStringLiteral("LabelDevice"), QString(), 231, 67, this);
    // The path, then what discovery knows of the device (by-id name, USB strings, access).
    auto show_device = [this] {
        QStringList lines;
        if (eport->currentIndex() >= 0) {
            lines << eport->currentData(Qt::ToolTipRole).toString()
                  << eport->currentData(kPortDetailsRole).toString();
            lines.removeAll(QString());
        }
        LabelDevice->setText(lines.join(u'\n'));
        LabelDevice->adjustSize();
    };
    connect(eport, &QComboBox::currentIndexChanged, this, show_device);
    LayOut();
}

void TPortPage::LayOut() {
    constexpr int kGap = 6, kRowGap = 3;
    int labels_right = 0;
    for (const TRow& row : rows_) {
        row.label->adjustSize();
        labels_right = std::max(labels_right, row.label->x() + row.label->width());
    }
    Label3->adjustSize();
    const int left = std::max(123, labels_right + kGap);
    int bottom = Label3->geometry().bottom() + 1;
    for (const TRow& row : rows_) {
        const int height = std::max(21, row.box->fontMetrics().height() + 6);
        const int top = std::max(row.top, bottom + kRowGap);
        row.box->setGeometry(left, top, std::max(100, row.box->sizeHint().width()), height);
        row.label->move(8, top + (height - row.label->height()) / 2);
        bottom = top + height;
    }
    LabelDevice->move(eport->geometry().right() + 9, eport->y() + 3);
    LabelDevice->adjustSize();
}

void TPortPage::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange && !rows_.empty()) LayOut();
}

QComboBox* TPortPage::MakeBox(const QString& name, const QString& label, int top) {
    QLabel* text = MakeLabel(QStringLiteral("Label_") + name, label, 8, top + 3, this);
    auto* box = new QComboBox(this);
    box->setObjectName(name);
    box->setEditable(false);
    box->setGeometry(123, top, 100, 21);
    rows_.push_back({text, box, top});
    return box;
}

void TPortPage::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    ToolBar3->setGeometry(0, 0, event->size().width(), 34);
}

}  // namespace linograf
