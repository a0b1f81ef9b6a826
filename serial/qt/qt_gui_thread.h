#pragma once
// The GUI-thread hand-off on Qt's event loop: calls are queued to an object living on the thread
// that created this one, and pumping runs QCoreApplication::processEvents.
#include <QObject>
#include <functional>
#include <memory>
#include <thread>

#include "serial/gui_thread.h"

namespace linograf::serial {

class QtGuiThread : public GuiThread {
  public:
    // Must be created on the GUI thread (the thread running the application's event loop).
    QtGuiThread();
    ~QtGuiThread() override;

    void Post(std::function<void()> call) override;
    void PumpPending() override;
    bool IsGuiThread() const override;
    // Errors from port threads are shown through `display` on the GUI thread (the application's
    // message box); without one they go to qWarning.
    void ShowError(const std::string& message) override;
    void SetErrorDisplay(std::function<void(const std::string&)> display);

  private:
    std::unique_ptr<QObject> receiver_;
    std::thread::id owner_;
    std::shared_ptr<std::function<void(const std::string&)>> display_;
};

}  // namespace linograf::serial
