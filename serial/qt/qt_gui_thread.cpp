#include "serial/qt/qt_gui_thread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QtGlobal>

namespace linograf::serial {

QtGuiThread::QtGuiThread()
    : receiver_(std::make_unique<QObject>()),
      owner_(std::this_thread::get_id()),
      display_(std::make_shared<std::function<void(const std::string&)>>()) {}

QtGuiThread::~QtGuiThread() = default;

void QtGuiThread::Post(std::function<void()> call) {
    QMetaObject::invokeMethod(receiver_.get(), std::move(call), Qt::QueuedConnection);
}

void QtGuiThread::PumpPending() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool QtGuiThread::IsGuiThread() const {
    return std::this_thread::get_id() == owner_;
}

void QtGuiThread::SetErrorDisplay(std::function<void(const std::string&)> display) {
    *display_ = std::move(display);
}

void QtGuiThread::ShowError(const std::string& message) {
    auto display = display_;
    Post([display, message] {
        if (*display) {
            (*display)(message);
        } else {
            qWarning("%s", message.c_str());
        }
    });
}

}  // namespace linograf::serial
