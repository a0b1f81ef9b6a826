#pragma once
// The "Select Port" dialog: shown when a port is opened without a port number; lists the
// available ports COM1 to COM50 and gives back the chosen number.
#include <QDialog>
#include <functional>

class QComboBox;
class QLabel;
class QFrame;
class QPushButton;

namespace linograf {

class TComSelectForm : public QDialog {
    Q_OBJECT

  public:
    // The result of the Cancel button; the close box gives QDialog::Rejected.
    static constexpr int mrAbort = 3;

    // `available` tells whether port n can be used; `device_path` names the device behind it (shown
    // as each entry's tooltip).
    // `details` (when given) tells more of each port (by-id name, USB strings, access): shown
    // for the selected entry below the buttons.
    TComSelectForm(std::function<bool(int)> available, std::function<QString(int)> device_path,
                   QWidget* parent = nullptr, std::function<QString(int)> details = {});

    // The number of the selected entry (COM12 gives 12); 0 without a selection.
    int ChosenNumber() const;

    // Shows the dialog modally: the chosen number after OK, 0 after anything else or when OK was
    // pressed on an empty list.
    static int SelectPort(std::function<bool(int)> available, std::function<QString(int)> device_path,
                          QWidget* parent = nullptr, std::function<QString(int)> details = {});

    QLabel* Label1;
    QLabel* Label2;
    QFrame* Bevel1;
    QComboBox* PortsComboBox;
    QPushButton* OkBtn;
    QPushButton* AbortBtn;
    // The selected port's details; absent without a details source.
    QLabel* LabelDetails = nullptr;
};

}  // namespace linograf
