#include "tests/gui/gui_test_support.h"

#include <QEventLoop>
#include <QTimer>
#include <QWidget>
#include <cstdlib>

#include "gui/error_handler.h"

namespace linograf::test {

QApplication& App() {
    static int argc = 1;
    static char name[] = "linograf_gui_test";
    static char* argv[] = {name, nullptr};
    static QApplication* application = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        auto* app = new QApplication(argc, argv);
        ConfigureApplication(*app);
        return app;
    }();
    return *application;
}

ErrorRecorder::ErrorRecorder() : messages_(std::make_shared<QStringList>()) {
    SetErrorDisplay([messages = messages_](const QString& text) { messages->append(text); });
}

ErrorRecorder::~ErrorRecorder() {
    SetErrorDisplay({});
}

std::shared_ptr<bool> WhenModal(std::function<void(QWidget* modal)> answer) {
    auto ran = std::make_shared<bool>(false);
    auto* timer = new QTimer(&App());
    auto polls = std::make_shared<int>(0);
    timer->setInterval(10);
    // Holds the flag weakly: once the caller has dropped it (its test is over), the wait ends, so
    // a window that never came cannot take the answer meant for a later one.
    std::weak_ptr<bool> flag = ran;
    QObject::connect(timer, &QTimer::timeout, timer, [timer, flag, polls, answer] {
        const std::shared_ptr<bool> ran = flag.lock();
        QWidget* modal = QApplication::activeModalWidget();
        if (!ran) {
            timer->stop();
            timer->deleteLater();
        } else if (modal && modal->isVisible()) {
            timer->stop();
            timer->deleteLater();
            *ran = true;
            answer(modal);
        } else if (++*polls > 1000) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start();
    return ran;
}

bool PumpUntil(const std::function<bool()>& done) {
    // A real event loop, so that the dispatcher goes idle (and waits) as it does in the program;
    // processEvents alone never waits.
    for (int round = 0; round < 2000 && !done(); ++round) {
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done();
}

void FakePort::Open(const TPortSettings& settings) {
    last_settings = settings;
    open = true;
    ++opens;
    if (OnPortOpen) OnPortOpen();
}

char FakePort::GetChar() {
    if (pending.empty()) return '\0';
    const char c = pending.front();
    pending.erase(pending.begin());
    return c;
}

void FakePort::Feed(const std::string& bytes) {
    pending += bytes;
    if (OnTriggerAvail) OnTriggerAvail(static_cast<unsigned>(pending.size()));
}

std::unique_ptr<TfrmMain> MakeWindow(TIniFile& ini, std::set<int> present,
                                     std::unique_ptr<TCapturePort> port) {
    App();
    TMainWindowServices services;
    services.port_available = [present](int n) { return present.count(n) > 0; };
    services.device_path = [](int n) { return QStringLiteral("/dev/test%1").arg(n); };
    services.port = port ? std::move(port) : std::make_unique<FakePort>();
    auto window = std::make_unique<TfrmMain>(ini, std::move(services));
    window->show();
    QApplication::processEvents();
    return window;
}

}  // namespace linograf::test
