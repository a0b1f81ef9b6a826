#include "gui/com_select_form.h"

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <algorithm>

#include "gui/port_details.h"
#include "serial/port_selection.h"

namespace linograf {

TComSelectForm::TComSelectForm(std::function<bool(int)> available, std::function<QString(int)> device_path,
                               QWidget* parent, std::function<QString(int)> details)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("ComSelectForm"));
    setWindowTitle(QStringLiteral("Select Port"));
    setFixedSize(220, 131);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Button);

    Bevel1 = new QFrame(this);
    Bevel1->setFrameShape(QFrame::Box);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setGeometry(8, 8, 201, 42);
    Label1 = new QLabel(QStringLiteral("The configured serial port is not valid."), this);
    Label1->move(18, 14);
    Label2 = new QLabel(QStringLiteral("Please choose another port."), this);
    Label2->move(18, 30);
    PortsComboBox = new QComboBox(this);
    PortsComboBox->setObjectName(QStringLiteral("PortsComboBox"));
    PortsComboBox->setGeometry(8, 64, 201, 21);
    OkBtn = new QPushButton(QStringLiteral("OK"), this);
    OkBtn->setObjectName(QStringLiteral("OkBtn"));
    OkBtn->setGeometry(8, 95, 85, 27);
    OkBtn->setDefault(true);
    AbortBtn = new QPushButton(QStringLiteral("Cancel"), this);
    AbortBtn->setObjectName(QStringLiteral("AbortBtn"));
    AbortBtn->setGeometry(124, 95, 85, 27);
    // Wider than designed where the fonts at hand need it for the two lines of text.
    const int extra =
        std::max(0, std::max(Label1->sizeHint().width(), Label2->sizeHint().width()) + 18 + 6 - 209);
    if (extra > 0) {
        setFixedSize(220 + extra, 131);
        Bevel1->setGeometry(8, 8, 201 + extra, 42);
        PortsComboBox->setGeometry(8, 64, 201 + extra, 21);
        AbortBtn->move(124 + extra, 95);
    }
    setTabOrder(OkBtn, AbortBtn);
    setTabOrder(AbortBtn, PortsComboBox);
    connect(OkBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(AbortBtn, &QPushButton::clicked, this, [this] { done(mrAbort); });

    for (const std::string& entry : serial::SelectablePortEntries(available)) {
        PortsComboBox->addItem(QString::fromStdString(entry));
        const int n = serial::PortNumberFromEntry(entry);
        if (device_path)
            PortsComboBox->setItemData(PortsComboBox->count() - 1, device_path(n), Qt::ToolTipRole);
        if (details) PortsComboBox->setItemData(PortsComboBox->count() - 1, details(n), kPortDetailsRole);
    }
    PortsComboBox->setCurrentIndex(PortsComboBox->count() > 0 ? 0 : -1);
    if (details) {
        // Below the designed dialog, which grows by the lines it needs: the device path, then
        // what discovery knows of it.
        LabelDetails = new QLabel(this);
        LabelDetails->setObjectName(QStringLiteral("LabelDetails"));
        LabelDetails->setWordWrap(true);
        LabelDetails->setTextInteractionFlags(Qt::TextSelectableByMouse);
        auto show = [this] {
            const int i = PortsComboBox->currentIndex();
            QStringList lines;
            if (i >= 0) {
                lines << PortsComboBox->itemData(i, Qt::ToolTipRole).toString();
                lines << PortsComboBox->itemData(i, kPortDetailsRole).toString();
                lines.removeAll(QString());
            }
            LabelDetails->setText(lines.join(u'\n'));
            const int width = PortsComboBox->width();
            const int height = LabelDetails->heightForWidth(width);
            LabelDetails->setGeometry(8, 131, width, std::max(0, height));
            setFixedSize(width + 19, 131 + (height > 0 ? height + 8 : 0));
        };
        connect(PortsComboBox, &QComboBox::currentIndexChanged, this, show);
        show();
    }
}

int TComSelectForm::ChosenNumber() const {
    if (PortsComboBox->currentIndex() < 0) return 0;
    return serial::PortNumberFromEntry(PortsComboBox->currentText().toStdString());
}

int TComSelectForm::SelectPort(std::function<bool(int)> available, std::function<QString(int)> device_path,
                               QWidget* parent, std::function<QString(int)> details) {
    TComSelectForm form(std::move(available), std::move(device_path), parent, std::move(details));
    if (form.exec() != QDialog::Accepted) return 0;
    return form.ChosenNumber();
}

}  // namespace linograf
