// The port component on Qt's event loop, as the program and the capture command line run it: the
// bytes of a pseudo-terminal arrive through OnTriggerAvail and GetChar, and a close from inside
// the handler completes through the deferred close while the loop runs.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdlib>
#include <filesystem>

#include "serial/com_port.h"
#include "serial/port_device_map.h"
#include "serial/qt/qt_gui_thread.h"
#include "tests/serial/pty_pair.h"
#include "tests/support/temp_dir.h"

namespace linograf::serial {
namespace {

QCoreApplication& App() {
    static int argc = 1;
    static char name[] = "com_port_qt_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Runs the event loop until `done` holds; the limit only guards against a hang.
bool RunEventsUntil(const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > 20000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

TEST(ComPortOnQt, LinesArriveThroughTheEventLoopAndAHandlerCanCloseAndReopen) {
    App();
    linograf::test::TempDir ports;
    test::PtyPair pty;
    ::setenv(kPortFolderVariable, ports.path().c_str(), 1);
    std::filesystem::create_symlink(pty.slave_path(), ports.path() / "com7");

    QtGuiThread gui;
    TNlkComPort port(gui);
    LoadNlkComPort1(port);
    std::vector<std::string> lines(1);
    int opens = 0;
    bool reopen_asked = false;
    port.SetOnPortOpen([&](TNlkComPort&) { ++opens; });
    port.SetOnTriggerAvail([&](TNlkComPort& cp, uint16_t count) {
        for (uint16_t i = 0; i < count; ++i) {
            const char c = static_cast<char>(cp.GetChar());
            if (c == '\r') {
                lines.emplace_back();
            } else {
                lines.back().push_back(c);
            }
        }
        if (lines.size() == 3 && !reopen_asked) {
            reopen_asked = true;
            cp.SetOpen(false);
            cp.SetOpen(true);
        }
    });
    port.SetOpen(true);
    pty.Write("first line\r");
    pty.Write("second\r");
    ASSERT_TRUE(RunEventsUntil([&] { return opens == 2 && port.State() == TNlkComPort::PortState::Opened; }));
    EXPECT_EQ(lines[0], "first line");
    EXPECT_EQ(lines[1], "second");
    pty.Write("after the reopen\r");
    ASSERT_TRUE(RunEventsUntil([&] { return lines.size() == 4; }));
    EXPECT_EQ(lines[2], "after the reopen");

    port.SetOpen(false);
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.Dispatcher(), nullptr);
}

}  // namespace
}  // namespace linograf::serial
