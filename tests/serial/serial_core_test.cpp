// The pieces under the dispatcher: tick timers, the input queue, the GUI hand-off.
#include <gtest/gtest.h>
#include <thread>

#include "serial/dispatcher_table.h"
#include "serial/gui_thread.h"
#include "serial/io_queue.h"
#include "serial/tick_timer.h"

namespace linograf::serial {
namespace {

TEST(TickTimer, ExpiryAcrossTheCounterWrap) {
    struct Case {
        uint32_t start, ticks, now;
        bool expired;
    };
    const Case cases[] = {
        {100, 10, 110, false},  // at the end tick: not yet past it
        {100, 10, 111, true},
        {100, 0, 101, true},
        {100, 4000000000u, 39045257, false},  // capped at 39045157 ticks: ends at 39045257
        {100, 4000000000u, 39045258, true},
        {78000000, 100, 5, false},  // wrapped, end tick far ahead of now + cap
        {1000, 5, 10, true},        // wrapped below the start, end behind now + cap
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TimerExpired(StartTimer(c.start, c.ticks), c.now), c.expired)
            << c.start << " + " << c.ticks << " at " << c.now;
    }
}

// Handles are indices: a new dispatcher takes the lowest free one, and the table shrinks only
// from its end. The table never looks through the pointers it holds.
TEST(DispatcherTable, NewEntriesTakeTheLowestFreeHandleAndTheEndShrinks) {
    auto& table = DispatcherTable::Instance();
    ASSERT_EQ(table.Size(), 0u);
    char places[4];
    auto fake = [&](int i) { return reinterpret_cast<TNlkBaseDispatcher*>(&places[i]); };
    EXPECT_EQ(table.Enter(fake(0)), 0);
    EXPECT_EQ(table.Enter(fake(1)), 1);
    EXPECT_EQ(table.Enter(fake(2)), 2);
    table.Leave(1);
    EXPECT_EQ(table.Size(), 3u) << "a hole in the middle stays";
    EXPECT_EQ(table.At(1), nullptr);
    EXPECT_EQ(table.Enter(fake(3)), 1) << "the hole is reused first";
    EXPECT_EQ(table.At(1), fake(3));
    table.Leave(1);
    table.Leave(2);
    EXPECT_EQ(table.Size(), 1u) << "empty entries at the end are dropped";
    EXPECT_EQ(table.At(5), nullptr);
    table.Leave(0);
    EXPECT_EQ(table.Size(), 0u);
}

TEST(IOQueue, PeekMarksInUseAndClearKeepsItemsInUse) {
    TIOQueue queue;
    auto data = std::make_unique<TDataBuffer>(256);
    data->filled = 10;
    queue.Push(std::move(data));
    queue.Push(std::make_unique<TStatusBuffer>(64));
    EXPECT_EQ(queue.BytesQueued(), 256u + 4u);

    TIOBuffer* first = queue.Peek();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(queue.Peek(), nullptr) << "an item in use is not handed out twice";
    queue.Clear();
    EXPECT_EQ(queue.Count(), 1u) << "the item being read survives a flush";
    EXPECT_EQ(queue.BytesQueued(), 256u);
    queue.Release(first);
    EXPECT_EQ(queue.Peek(), first);
    EXPECT_NE(queue.Pop(), nullptr);
    EXPECT_EQ(queue.Count(), 0u);
    EXPECT_EQ(queue.BytesQueued(), 0u);
}

TEST(GuiThread, SendRunsOnThePumpingThreadAndReportsLateOrUntakenCalls) {
    PlainGuiThread gui;
    std::thread::id ran_on;
    GuiThread::SendResult handled{}, not_started{};
    std::shared_ptr<GuiCall> late;
    std::atomic<bool> release{false};
    std::atomic<int> phase{0};
    std::atomic<bool> pumping_stopped{false};
    std::thread sender([&] {
        handled = gui.SendAndWait([&] { ran_on = std::this_thread::get_id(); }, std::chrono::seconds(20));
        phase = 1;
        while (!pumping_stopped) std::this_thread::yield();
        // Nobody pumps now: the call times out before it starts and never runs later.
        not_started =
            gui.SendAndWait([&] { ADD_FAILURE() << "a cancelled call ran"; }, std::chrono::milliseconds(1));
        phase = 2;
        // Long enough for the pumping thread to take the call; it then outlives the wait.
        const auto r = gui.SendAndWait(
            [&] {
                while (!release) std::this_thread::yield();
            },
            std::chrono::milliseconds(500), &late);
        EXPECT_EQ(r, GuiThread::SendResult::StillRunning);
        phase = 3;
    });
    ASSERT_TRUE(gui.PumpUntil([&] { return phase.load() >= 1; }));
    pumping_stopped = true;
    while (phase.load() < 2) std::this_thread::yield();
    // The late call: runs here, holding the GUI thread until the sender has given up on it.
    std::thread releaser([&] {
        while (phase.load() < 3) std::this_thread::yield();
        release = true;
    });
    ASSERT_TRUE(gui.PumpUntil([&] { return phase.load() >= 3; }));
    releaser.join();
    sender.join();
    EXPECT_EQ(handled, GuiThread::SendResult::Handled);
    EXPECT_EQ(ran_on, std::this_thread::get_id());
    EXPECT_EQ(not_started, GuiThread::SendResult::NotStarted);
    ASSERT_NE(late, nullptr);
    EXPECT_EQ(late->state(), GuiCall::State::Finished);
}

}  // namespace
}  // namespace linograf::serial
