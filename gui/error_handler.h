#pragma once
// The general error handler: an error that reaches the message loop is shown in a message box
// titled "Linograf" with an error icon and an OK button, and the program goes on with the next
// message. Qt does not carry exceptions through its event loop, so every handler of the windows
// runs its work through Guarded(), and the application object catches whatever slips past.
#include <QApplication>
#include <QString>
#include <exception>
#include <functional>
#include <string_view>

class QWidget;

namespace linograf {

// The text shown for an error message: a "." is appended when the last character's code is above
// that of "." (46), so "Buffer is empty" gets one and "Unable to write to a.ini." or "(5)" do not.
// The message is taken as UTF-8 (messages carrying Windows-1251 text convert before throwing).
QString ErrorMessageText(std::string_view message);

// Shows the error as the general handler does; EAbort shows nothing.
void ShowException(const std::exception& error);
void ShowErrorMessage(const QString& text);

// Runs `work`; any exception is shown by the general handler and swallowed. Returns false when
// something was thrown (EAbort included).
bool Guarded(const std::function<void()>& work);

// Replaces the message box (tests record the messages instead of answering a modal box); an empty
// function restores the box.
void SetErrorDisplay(std::function<void(const QString&)> display);

// The application: catches exceptions thrown by event handlers and shows them, so that one failed
// handler never ends the program.
class TLinografApplication : public QApplication {
  public:
    TLinografApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// Process-wide settings made once before the main window is created: the application's title,
// the grids' incremental search, which ends 20000 ms after the last key, and Qt's own texts in
// Russian.
void ConfigureApplication(QApplication& application);

}  // namespace linograf
