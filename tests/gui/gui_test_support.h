#pragma once
// Helpers for the window tests: one application object for the whole program (offscreen
// platform), a recorder standing in for the error message box, answers to modal windows, and a
// port fed from memory.
#include <QApplication>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "core/capture_port.h"
#include "gui/main_window.h"

namespace linograf::test {

// The application, made on first use with the process-wide settings of the program.
QApplication& App();

// Records what the general error handler would show, for as long as it lives.
class ErrorRecorder {
  public:
    ErrorRecorder();
    ~ErrorRecorder();
    const QStringList& Messages() const { return *messages_; }

  private:
    std::shared_ptr<QStringList> messages_;
};

// Runs `answer` on the next modal window that opens (a message box, a dialog) from inside its
// own event loop. Returns a flag that tells whether it ran. Gives up, closing nothing, after a
// bounded number of polls so that a test never hangs waiting for a window that never came.
std::shared_ptr<bool> WhenModal(std::function<void(QWidget* modal)> answer);

// Runs the event loop, going idle between rounds as the program does, until `done` holds or a
// bounded number of rounds passed; returns done().
bool PumpUntil(const std::function<bool()>& done);

// A port fed from memory: Feed() announces bytes the way the port component does.
class FakePort : public TCapturePort {
  public:
    bool IsOpen() const override { return open; }
    void Open(const TPortSettings& settings) override;
    void Close() override { open = false; }
    char GetChar() override;
    // Announces the bytes to OnTriggerAvail in one batch.
    void Feed(const std::string& bytes);

    bool open = false;
    int opens = 0;
    TPortSettings last_settings;
    std::string pending;
};

// A main window over a settings file, with the ports in `present` listed as available and `port`
// (a FakePort when null) as its serial port.
std::unique_ptr<TfrmMain> MakeWindow(TIniFile& ini, std::set<int> present = {},
                                     std::unique_ptr<TCapturePort> port = nullptr);

}  // namespace linograf::test
