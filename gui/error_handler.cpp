#include "gui/error_handler.h"

#include <QMessageBox>
#include <QWidget>

#include "core/silent_abort.h"

namespace linograf {

namespace {
std::function<void(const QString&)>& Display() {
    static std::function<void(const QString&)> display;
    return display;
}
}  // namespace

QString ErrorMessageText(std::string_view message) {
    QString text = QString::fromUtf8(message.data(), static_cast<qsizetype>(message.size()));
    if (!text.isEmpty() && text.back().unicode() > u'.') text += u'.';
    return text;
}

void SetErrorDisplay(std::function<void(const QString&)> display) { Display() = std::move(display); }

void ShowErrorMessage(const QString& text) {
    if (Display()) return Display()(text);
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Linograf"), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

void ShowException(const std::exception& error) {
    if (dynamic_cast<const EAbort*>(&error)) return;
    ShowErrorMessage(ErrorMessageText(error.what()));
}

bool Guarded(const std::function<void()>& work) {
    try {
        work();
        return true;
    } catch (const std::exception& error) {
        ShowException(error);
    } catch (...) {
        ShowErrorMessage(QStringLiteral("Unknown error."));
    }
    return false;
}

TLinografApplication::TLinografApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TLinografApplication::notify(QObject* receiver, QEvent* event) {
    bool result = false;
    Guarded([&] { result = QApplication::notify(receiver, event); });
    return result;
}

void ConfigureApplication(QApplication& application) {
    application.setApplicationName(QStringLiteral("Linograf"));
    application.setApplicationDisplayName(QStringLiteral("Linograf"));
    QApplication::setKeyboardInputInterval(20000);
}

}  // namespace linograf
