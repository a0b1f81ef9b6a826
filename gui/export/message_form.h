#pragma once
// TfrmMessage: the small window that shows an export's progress: "Подождите пожалуйста..." as
// its caption, a clock, the text LMsg and the progress bar PBar. It stays on top, has no
// title-bar buttons, and records Esc as a request to stop (CancelState -1).
#include <QDialog>

#include "core/export/grid_export_source.h"

class QLabel;
class QProgressBar;

namespace linograf {

class TfrmMessage : public QDialog, public TExportProgress {
    Q_OBJECT

  public:
    explicit TfrmMessage(QWidget* parent = nullptr);

    QLabel* LMsg() const { return msg_; }
    QProgressBar* PBar() const { return bar_; }
    // 0 while nothing was asked, -1 after Esc.
    int CancelState() const { return cancel_state_; }

    // Shows the window centred on the screen and paints it at once.
    void ShowNow();

    void SetMax(int max) override;
    void Step() override;
    void ProcessMessages() override;
    bool CancelRequested() const override { return cancel_state_ != 0; }

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    // The window closes when the export ends, not on the close shortcut.
    void reject() override {}

  private:
    QLabel* msg_;
    QProgressBar* bar_;
    int cancel_state_ = 0;
};

}  // namespace linograf
