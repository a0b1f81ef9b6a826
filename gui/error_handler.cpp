#include "gui/error_handler.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QTranslator>
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

void SetErrorDisplay(std::function<void(const QString&)> display) {
    Display() = std::move(display);
}

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
    // No display name: Qt would append " — Linograf" to every window's title, and the operator
    // knows the dialogs by their own captions ("Поиск", "Подождите пожалуйста...").
    QApplication::setKeyboardInputInterval(20000);
    // The window speaks Russian whatever the machine's language, so Qt's own texts (standard
    // buttons, the file dialog, context menus) do too. Without the translations installed they
    // stay English; nothing else changes.
    auto* translator = new QTranslator(&application);
    if (translator->load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qtbase"),
                         QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(translator);
    else
        delete translator;
}

}  // namespace linograf
