#include "gui/com_select_form.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <set>

#include "gui/port_details.h"
#include "tests/gui/gui_test_support.h"

namespace linograf {
namespace {

std::function<bool(int)> Present(std::set<int> ports) {
    return [ports](int n) { return ports.count(n) > 0; };
}

// The widget Tab moves to from `widget`.
QWidget* NextTabStop(QWidget* widget) {
    QWidget* next = widget->nextInFocusChain();
    while (next != widget && !(next->focusPolicy() & Qt::TabFocus)) next = next->nextInFocusChain();
    return next;
}

QString Device(int n) {
    return QStringLiteral("/dev/dev%1").arg(n);
}

TEST(ComSelectFormTest, LaidOutAsDesigned) {
    test::App();
    TComSelectForm form(Present({1, 2}), Device);
    form.show();
    EXPECT_EQ(form.windowTitle(), "Select Port");
    // As designed, wider only where this machine's fonts need it for the texts.
    EXPECT_EQ(form.height(), 131);
    EXPECT_GE(form.width(), 220);
    EXPECT_GE(form.Bevel1->geometry().right(), form.Label1->x() + form.Label1->sizeHint().width());
    EXPECT_GE(form.Bevel1->geometry().right(), form.Label2->x() + form.Label2->sizeHint().width());
    EXPECT_LT(form.Bevel1->geometry().right(), form.width());
    const int extra = form.width() - 220;
    EXPECT_EQ(form.minimumSize(), form.maximumSize());  // not resizable
    EXPECT_TRUE(form.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(form.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(form.Label1->text(), "The configured serial port is not valid.");
    EXPECT_EQ(form.Label1->pos(), QPoint(18, 14));
    EXPECT_EQ(form.Label2->text(), "Please choose another port.");
    EXPECT_EQ(form.Label2->pos(), QPoint(18, 30));
    EXPECT_EQ(form.Bevel1->geometry(), QRect(8, 8, 201 + extra, 42));
    EXPECT_EQ(form.PortsComboBox->x(), 8);
    EXPECT_EQ(form.PortsComboBox->y(), 64);
    EXPECT_EQ(form.PortsComboBox->width(), 201 + extra);
    EXPECT_FALSE(form.PortsComboBox->isEditable());
    EXPECT_EQ(form.OkBtn->text(), "OK");
    EXPECT_EQ(form.OkBtn->geometry(), QRect(8, 95, 85, 27));
    EXPECT_TRUE(form.OkBtn->isDefault());
    EXPECT_EQ(form.AbortBtn->text(), "Cancel");
    EXPECT_EQ(form.AbortBtn->geometry(), QRect(124 + extra, 95, 85, 27));
    // Tab order: OK, Cancel, the list.
    EXPECT_EQ(NextTabStop(form.OkBtn), form.AbortBtn);
    EXPECT_EQ(NextTabStop(form.AbortBtn), form.PortsComboBox);
}

TEST(ComSelectFormTest, ListsAvailablePortsUpToCom50) {
    test::App();
    struct Case {
        std::set<int> present;
        QStringList entries;
    };
    const Case cases[] = {
        {{3, 12, 50, 51, 64}, {"COM3", "COM12", "COM50"}},
        {{51, 64}, {}},
        {{1}, {"COM1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entries.join(",").toStdString());
        TComSelectForm form(Present(c.present), Device);
        QStringList entries;
        for (int i = 0; i < form.PortsComboBox->count(); ++i) entries << form.PortsComboBox->itemText(i);
        EXPECT_EQ(entries, c.entries);
        EXPECT_EQ(form.PortsComboBox->currentIndex(), c.entries.isEmpty() ? -1 : 0);
        if (!c.entries.isEmpty()) {
            EXPECT_EQ(form.PortsComboBox->itemData(0, Qt::ToolTipRole).toString(),
                      Device(c.entries[0].mid(3).toInt()));
        }
    }
    // Every one of 64 ports present still lists 50.
    TComSelectForm all([](int) { return true; }, Device);
    EXPECT_EQ(all.PortsComboBox->count(), 50);
    EXPECT_EQ(all.PortsComboBox->itemText(49), "COM50");
}

TEST(ComSelectFormTest, ButtonsAndChosenNumber) {
    test::App();
    {
        TComSelectForm form(Present({3, 12}), Device);
        EXPECT_EQ(form.ChosenNumber(), 3);
        form.PortsComboBox->setCurrentIndex(1);
        EXPECT_EQ(form.ChosenNumber(), 12);
    }
    struct Case {
        const char* what;
        std::set<int> present;
        std::function<void(TComSelectForm&)> act;
        int chosen;
    };
    const Case cases[] = {
        {"OK on the second entry",
         {4, 12},
         [](TComSelectForm& f) {
             f.PortsComboBox->setCurrentIndex(1);
             f.OkBtn->click();
         },
         12},
        {"Cancel", {4, 12}, [](TComSelectForm& f) { f.AbortBtn->click(); }, 0},
        {"close box", {4, 12}, [](TComSelectForm& f) { f.close(); }, 0},
        {"OK on an empty list", {}, [](TComSelectForm& f) { f.OkBtn->click(); }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int result = -1;
        auto ran = test::WhenModal([&](QWidget* modal) {
            auto* form = qobject_cast<TComSelectForm*>(modal);
            ASSERT_NE(form, nullptr);
            c.act(*form);
            result = form->result();
        });
        EXPECT_EQ(TComSelectForm::SelectPort(Present(c.present), Device), c.chosen);
        ASSERT_TRUE(*ran);
        if (std::string(c.what) == "Cancel") {
            EXPECT_EQ(result, TComSelectForm::mrAbort);
        }
    }
}

// Beside its number each port tells its by-id name, what the USB adapter says it is and, when the
// user may not open it, why; the entry's text stays "COMn" and its tooltip the path.
TEST(ComSelectFormTest, DetailsOfTheSelectedPort) {
    test::App();
    serial::TPortInfo ftdi;
    ftdi.device = "/dev/ttyUSB0";
    ftdi.by_id = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3XYZ-if00-port0";
    ftdi.usb = true;
    ftdi.manufacturer = "FTDI";
    ftdi.product = "FT232R USB UART";
    ftdi.serial = "A10K3XYZ";
    ftdi.may_open = true;
    serial::TPortInfo denied;
    denied.device = "/dev/ttyACM0";
    denied.usb = true;
    denied.product = "Arduino Uno";
    denied.access_problem = "add yourself to the dialout group and log in again";
    EXPECT_EQ(PortDetailsText(ftdi),
              "usb-FTDI_FT232R_USB_UART_A10K3XYZ-if00-port0\nFTDI FT232R USB UART (A10K3XYZ)");
    EXPECT_EQ(PortDetailsText(denied),
              "Arduino Uno\nНет доступа: add yourself to the dialout group and log in again");

    auto details = [&](int n) { return PortDetailsText(n == 3 ? ftdi : denied); };
    TComSelectForm form(Present({3, 7}), Device, nullptr, details);
    form.show();
    ASSERT_NE(form.LabelDetails, nullptr);
    EXPECT_EQ(form.PortsComboBox->itemText(0), "COM3");
    EXPECT_EQ(form.PortsComboBox->itemData(0, Qt::ToolTipRole).toString(), Device(3));
    EXPECT_EQ(form.LabelDetails->text(), Device(3) + "\n" + PortDetailsText(ftdi));
    EXPECT_GT(form.height(), 131);
    EXPECT_LE(form.LabelDetails->geometry().bottom(), form.height());
    form.PortsComboBox->setCurrentIndex(1);
    EXPECT_TRUE(form.LabelDetails->text().contains("dialout"));
    EXPECT_EQ(form.ChosenNumber(), 7);
}

}  // namespace
}  // namespace linograf
