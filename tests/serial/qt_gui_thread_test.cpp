// The GUI-thread hand-off on Qt's event loop with a dispatcher on a real pseudo-terminal: trigger
// deliveries arrive as queued calls handled by the event loop, a close from inside a handler
// completes once the handler has returned, and errors of port threads reach the display on the
// GUI thread.
#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <thread>

#include "serial/posix_dispatcher.h"
#include "serial/qt/qt_gui_thread.h"
#include "tests/serial/pty_pair.h"

namespace linograf::serial {
namespace {

QCoreApplication& App() {
    static int argc = 1;
    static char name[] = "qt_gui_thread_test";
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

class Handler : public TriggerWindow {
  public:
    explicit Handler(TNlkBaseDispatcher& dispatcher) : dispatcher_(dispatcher) {}
    void TriggerMessage(uint32_t msg, uint32_t w_param, int32_t) override {
        if (msg != MsgTriggerAvail) return;
        threads.push_back(std::this_thread::get_id());
        for (uint32_t i = 0; i < w_param; ++i) {
            uint8_t byte = 0;
            if (dispatcher_.GetChar(byte) == 0) received.push_back(static_cast<char>(byte));
        }
        if (after) after();
    }
    std::string received;
    std::vector<std::thread::id> threads;
    std::function<void()> after;

  private:
    TNlkBaseDispatcher& dispatcher_;
};

class QtHandOff : public ::testing::Test {
  protected:
    void SetUp() override {
        App();
        gui = std::make_unique<QtGuiThread>();
        dispatcher = std::make_unique<TNlkPosixDispatcher>(*gui, nullptr);
        ASSERT_EQ(dispatcher->OpenDevice(pty.slave_path(), 9600, kNoParity, 8, kOneStopBit, 4096, 4096, 0),
                  0);
        ASSERT_EQ(dispatcher->ClearSoftwareFlow(), 0);
        dispatcher->SetAvailThreshold(1);
        dispatcher->SetPortHandler(PortHandlerKind::Installed);
        handler = std::make_unique<Handler>(*dispatcher);
        dispatcher->AddTriggerWindow(handler.get());
    }
    void TearDown() override {
        dispatcher.reset();
        handler.reset();
        gui.reset();
    }

    test::PtyPair pty;
    std::unique_ptr<QtGuiThread> gui;
    std::unique_ptr<Handler> handler;
    std::unique_ptr<TNlkPosixDispatcher> dispatcher;
};

TEST_F(QtHandOff, DeliveriesRunOnTheEventLoopThreadInOrder) {
    std::string sent;
    for (int i = 0; i < 50; ++i) {
        const std::string line = "line " + std::to_string(i) + "\r";
        pty.Write(line);
        sent += line;
    }
    ASSERT_TRUE(RunEventsUntil([&] { return handler->received.size() == sent.size(); })) << handler->received;
    EXPECT_EQ(handler->received, sent);
    for (const auto& id : handler->threads) EXPECT_EQ(id, std::this_thread::get_id());
}

TEST_F(QtHandOff, ACloseInsideAHandlerCompletesAfterIt) {
    bool pending = false;
    handler->after = [&] {
        dispatcher->ShutdownDevice();  // pumps the event loop while the port threads end
        pending = dispatcher->ClosePending();
    };
    pty.Write("x");
    ASSERT_TRUE(RunEventsUntil([&] { return pending && dispatcher->RunningThreadCount() == 0; }));
    EXPECT_EQ(handler->received, "x");
    EXPECT_FALSE(dispatcher->BuffersAllocated());
    EXPECT_FALSE(dispatcher->ThreadsStarted());
}

TEST_F(QtHandOff, ErrorsFromOtherThreadsAreShownOnTheGuiThread) {
    std::vector<std::pair<std::string, std::thread::id>> shown;
    gui->SetErrorDisplay(
        [&](const std::string& text) { shown.emplace_back(text, std::this_thread::get_id()); });
    std::thread worker([&] { gui->ShowError("No memory"); });
    worker.join();
    ASSERT_TRUE(RunEventsUntil([&] { return !shown.empty(); }));
    EXPECT_EQ(shown[0].first, "No memory");
    EXPECT_EQ(shown[0].second, std::this_thread::get_id());
}

TEST_F(QtHandOff, ASendNobodyTakesInTimeNeverRunsLater) {
    bool ran = false;
    GuiThread::SendResult result{};
    // The event loop does not run while the worker waits, so the call cannot start in time.
    std::thread worker([&] { result = gui->SendAndWait([&] { ran = true; }, std::chrono::milliseconds(1)); });
    worker.join();
    EXPECT_EQ(result, GuiThread::SendResult::NotStarted);
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace linograf::serial
