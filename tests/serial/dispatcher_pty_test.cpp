// The dispatcher and its port threads on real pseudo-terminals: the test plays the device on the
// master, the dispatcher opens the slave, and the test thread is the GUI thread.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

#include "serial/dispatcher_table.h"
#include "serial/platform_error.h"
#include "serial/posix_dispatcher.h"

#include "tests/serial/pty_pair.h"

namespace linograf::serial {
namespace {

using test::PtyPair;

// Stands for the component's hidden window: records every data-available delivery and takes as
// many bytes as `take` says.
class RecordingWindow : public TriggerWindow {
public:
    explicit RecordingWindow(TNlkBaseDispatcher& dispatcher) : dispatcher_(dispatcher) {}

    std::function<uint32_t(uint32_t count)> take = [](uint32_t count) { return count; };
    std::function<void()> after_taking;
    std::vector<uint32_t> counts;
    std::vector<int32_t> l_params;
    std::string received;

    void TriggerMessage(uint32_t msg, uint32_t w_param, int32_t l_param) override {
        if (msg != MsgTriggerAvail) return;
        counts.push_back(w_param);
        l_params.push_back(l_param);
        const uint32_t n = take(w_param);
        for (uint32_t i = 0; i < n; ++i) {
            uint8_t byte = 0;
            ASSERT_EQ(dispatcher_.GetChar(byte), 0) << "byte " << i << " of " << w_param;
            received.push_back(static_cast<char>(byte));
        }
        if (after_taking) after_taking();
    }

private:
    TNlkBaseDispatcher& dispatcher_;
};

std::string Pattern(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
    return bytes;
}

class DispatcherOnPty : public ::testing::Test {
protected:
    void Open(SystemCalls& calls = RealSystemCalls()) {
        dispatcher = std::make_unique<TNlkPosixDispatcher>(gui, nullptr, calls);
        ASSERT_EQ(dispatcher->OpenDevice(pty.slave_path(), 9600, kNoParity, 8, 1, 4096, 4096, 0), 0);
        // A fresh terminal comes with XON/XOFF on; the component switches flow control as
        // configured right after the open, and so does this fixture.
        ASSERT_EQ(dispatcher->ClearSoftwareFlow(), 0);
        dispatcher->SetAvailThreshold(1);
        dispatcher->SetPortHandler(PortHandlerKind::Installed);
        window = std::make_unique<RecordingWindow>(*dispatcher);
        dispatcher->AddTriggerWindow(window.get());
    }
    bool Pump(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        return gui.PumpUntil(done, limit);
    }

    PlainGuiThread gui;
    PtyPair pty;
    std::unique_ptr<RecordingWindow> window;  // outlives the dispatcher, which may deliver while it ends
    std::unique_ptr<TNlkPosixDispatcher> dispatcher;
};

TEST_F(DispatcherOnPty, ThreeBytesGiveOneDeliveryAndTheNextComesOnlyWithNewBytes) {
    Open();
    pty.Write("abc");
    ASSERT_TRUE(Pump([&] { return window->received.size() == 3; }));
    pty.Write("d");
    ASSERT_TRUE(Pump([&] { return window->received.size() == 4; }));
    EXPECT_EQ(window->counts, (std::vector<uint32_t>{3, 1}));
    EXPECT_EQ(window->received, "abcd");
    EXPECT_EQ(window->l_params[0] >> 16, dispatcher->Handle()) << "lParam's high word names the dispatcher";
    EXPECT_EQ(window->l_params[0] & 0xFFFF, 0);
}

TEST_F(DispatcherOnPty, BytesLeftUnreadAreAnnouncedAgainWithTheNewTotal) {
    Open();
    window->take = [&](uint32_t count) { return window->counts.size() == 1 ? 2 : count; };
    pty.Write("abc");
    ASSERT_TRUE(Pump([&] { return window->counts.size() == 1 && dispatcher->BytesAvailable() == 1; }));
    pty.Write("defg");
    ASSERT_TRUE(Pump([&] { return window->counts.size() == 2; }));
    EXPECT_EQ(window->counts[1], 5u);
    EXPECT_EQ(window->received, "abcdefg");
}

TEST_F(DispatcherOnPty, TwoHandlersAdvanceTheRingByTheLargestTake) {
    Open();
    RecordingWindow second(*dispatcher);
    window->take = [](uint32_t) { return 2u; };
    second.take = [](uint32_t) { return 3u; };
    dispatcher->AddTriggerWindow(&second);
    pty.Write("xyz");
    ASSERT_TRUE(Pump([&] { return second.received.size() == 3 && dispatcher->ReadIndex() == 3; }));
    EXPECT_EQ(window->received, "xy") << "each handler reads from the same start";
    EXPECT_EQ(second.received, "xyz");
    EXPECT_EQ(dispatcher->BytesAvailable(), 0u);
    dispatcher->RemoveTriggerWindow(&second);
}

TEST_F(DispatcherOnPty, AFullRingKeepsFurtherInputQueuedAndLosesNothing) {
    Open();
    bool taking = false;
    window->take = [&](uint32_t count) { return taking ? count : 0u; };
    const std::string stream = Pattern(kReceiveRingSize + 100, 7);
    pty.Write(stream);
    ASSERT_TRUE(Pump([&] { return !window->counts.empty() && window->counts.back() == kReceiveRingSize; }));
    EXPECT_TRUE(dispatcher->RingFull());
    EXPECT_EQ(dispatcher->BytesAvailable(), kReceiveRingSize);

    // Taking ten bytes outside a handler makes room; the queued bytes follow.
    std::string outside;
    for (int i = 0; i < 10; ++i) {
        uint8_t byte = 0;
        ASSERT_EQ(dispatcher->GetChar(byte), 0);
        outside.push_back(static_cast<char>(byte));
    }
    taking = true;
    ASSERT_TRUE(Pump([&] { return outside.size() + window->received.size() == stream.size(); }));
    EXPECT_EQ(outside + window->received, stream);
    for (uint32_t count : window->counts) EXPECT_LE(count, kReceiveRingSize);
}

TEST_F(DispatcherOnPty, WriteIndexWrapsAtTheRingEnd) {
    Open();
    const std::string first = Pattern(kReceiveRingSize - 2, 3);
    pty.Write(first);
    ASSERT_TRUE(Pump([&] { return window->received.size() == first.size() && dispatcher->ReadIndex() == 8190; }))
        << window->received.size() << " " << window->counts.size() << " r" << dispatcher->ReadIndex() << " w"
        << dispatcher->WriteIndex() << " avail " << dispatcher->BytesAvailable() << " last " << window->counts.back();
    pty.Write("VWXYZ");
    ASSERT_TRUE(Pump([&] { return window->received.size() == first.size() + 5 && dispatcher->ReadIndex() == 3; }));
    EXPECT_EQ(dispatcher->WriteIndex(), 3u);
    EXPECT_EQ(window->received.substr(first.size()), "VWXYZ");
    EXPECT_EQ(window->received.substr(0, first.size()), first);
}

TEST_F(DispatcherOnPty, PeekBeyondTheUnreadBytesIsBufferEmpty) {
    Open();
    window->take = [](uint32_t) { return 0u; };
    pty.Write("xyz");
    ASSERT_TRUE(Pump([&] { return window->counts.size() == 1 && !dispatcher->InDispatch(); }));
    uint8_t byte = 0;
    EXPECT_EQ(dispatcher->PeekAt(4, byte), ecBufferIsEmpty);
    ASSERT_EQ(dispatcher->PeekAt(3, byte), 0);
    EXPECT_EQ(byte, 'z');
    ASSERT_EQ(dispatcher->GetChar(byte), 0);
    EXPECT_EQ(byte, 'x');
    EXPECT_EQ(dispatcher->BytesAvailable(), 2u);
}

TEST_F(DispatcherOnPty, GetCharInsideAHandlerStopsAtTheAnnouncedBytes) {
    Open();
    std::vector<int32_t> results;
    window->take = [](uint32_t) { return 0u; };
    window->after_taking = [&] {
        uint8_t byte = 0;
        for (int i = 0; i < 4; ++i) results.push_back(dispatcher->GetChar(byte));
    };
    pty.Write("abc");
    ASSERT_TRUE(Pump([&] { return results.size() == 4 && dispatcher->ReadIndex() == 3; }));
    EXPECT_EQ(results, (std::vector<int32_t>{0, 0, 0, ecBufferIsEmpty}));
    EXPECT_EQ(dispatcher->BytesAvailable(), 0u);
}

TEST_F(DispatcherOnPty, ShutdownDuringADeliveryCompletesAfterTheHandler) {
    Open();
    bool pending_inside = false;
    window->after_taking = [&] {
        dispatcher->ShutdownDevice();
        pending_inside = dispatcher->ClosePending();
        EXPECT_TRUE(dispatcher->BuffersAllocated()) << "the ring is still in use by this delivery";
    };
    pty.Write("a");
    ASSERT_TRUE(Pump([&] { return pending_inside && dispatcher->RunningThreadCount() == 0; }));
    EXPECT_FALSE(dispatcher->BuffersAllocated()) << "the ending dispatcher thread released the buffers";
    EXPECT_FALSE(dispatcher->InDispatch());
    EXPECT_FALSE(dispatcher->ThreadsStarted());
    EXPECT_EQ(window->counts.size(), 1u);
}

TEST_F(DispatcherOnPty, MasterClosedUnderAnOpenPortEndsAllThreads) {
    Open();
    pty.Write("abc");
    ASSERT_TRUE(Pump([&] { return window->received.size() == 3; }));
    pty.CloseMaster();
    ASSERT_TRUE(Pump([&] { return dispatcher->RunningThreadCount() == 0; }));
    for (PortThread t : {PortThread::Read, PortThread::Dispatcher, PortThread::Write, PortThread::Status})
        EXPECT_FALSE(dispatcher->ThreadAlive(t));
    EXPECT_EQ(dispatcher->LineErrors(), -1) << "a read failure marks the line-error state";
    EXPECT_EQ(dispatcher->LineErrorQuery(), 10);
    dispatcher->ShutdownDevice();
    EXPECT_FALSE(dispatcher->BuffersAllocated());
    EXPECT_EQ(window->counts.size(), 1u);
}

TEST_F(DispatcherOnPty, StartingTheThreadsTwiceIsRefused) {
    Open();
    try {
        dispatcher->StartThreads();
        ADD_FAILURE() << "no error";
    } catch (const ENLKException& e) {
        EXPECT_STREQ(e.what(), "Dispatcher already started.");
    }
    EXPECT_EQ(dispatcher->RunningThreadCount(), 4);
}

TEST_F(DispatcherOnPty, ADeviceHeldElsewhereIsToldApartFromAMissingOne) {
    const int other = ::open(pty.slave_path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    TNlkPosixDispatcher held(gui, nullptr);
    EXPECT_EQ(held.OpenDevice(pty.slave_path(), 9600, 0, 8, 1, 4096, 4096, 0), -kErrorAccessDenied);
    EXPECT_EQ(held.RunningThreadCount(), 0);
    EXPECT_FALSE(held.BuffersAllocated());
    ::close(other);

    TNlkPosixDispatcher missing(gui, nullptr);
    EXPECT_EQ(missing.OpenDevice("/dev/linograf-no-such-tty", 9600, 0, 8, 1, 4096, 4096, 0), -kErrorFileNotFound);
    EXPECT_EQ(held.OpenDevice(pty.slave_path(), 9600, 0, 8, 1, 4096, 4096, 0), 0) << "the lock went with the holder";
}

TEST_F(DispatcherOnPty, AHandlerOutlivingItsWaitKeepsTheRingAndCountsWhole) {
    Open();
    dispatcher->SetDeliveryTimeout(std::chrono::milliseconds(20));
    bool first = true;
    window->take = [&](uint32_t count) {
        if (!first) return count;
        first = false;
        // Still inside the first delivery: let the dispatcher give up on us and take new input.
        while (!dispatcher->DeliveryLate()) std::this_thread::yield();
        pty.Write("defg");
        while (dispatcher->WriteIndex() != 7) std::this_thread::yield();
        return count + 1;  // one byte more than announced, which has arrived meanwhile
    };
    pty.Write("abc");
    ASSERT_TRUE(Pump([&] { return window->received.size() == 7; }));
    EXPECT_EQ(window->counts, (std::vector<uint32_t>{3, 3}));
    EXPECT_EQ(window->received, "abcdefg");
    ASSERT_TRUE(Pump([&] { return dispatcher->ReadIndex() == 7; }));
    EXPECT_EQ(dispatcher->BytesAvailable(), 0u);
}

TEST_F(DispatcherOnPty, TenMegabytesInRandomChunksArriveExactlyAndInOrder) {
    Open();
    const std::string stream = Pattern(10 * 1024 * 1024, 2024);
    window->received.reserve(stream.size());
    std::thread writer([&] {
        std::mt19937 random(99);
        std::uniform_int_distribution<size_t> chunk(1, 4096);
        for (size_t at = 0; at < stream.size();) {
            const size_t n = std::min(chunk(random), stream.size() - at);
            pty.Write(std::string_view(stream).substr(at, n));
            at += n;
        }
    });
    const bool all = Pump([&] { return window->received.size() >= stream.size(); }, std::chrono::minutes(5));
    writer.join();
    ASSERT_TRUE(all) << window->received.size() << " of " << stream.size();
    ASSERT_EQ(window->received.size(), stream.size());
    const auto mismatch = std::mismatch(stream.begin(), stream.end(), window->received.begin());
    EXPECT_EQ(mismatch.first, stream.end()) << "first difference at " << (mismatch.first - stream.begin());
}

TEST_F(DispatcherOnPty, AThousandOpensAndClosesLeaveNoThreadBehind) {
    const size_t table_before = DispatcherTable::Instance().Size();
    for (int i = 0; i < 1000; ++i) {
        TNlkPosixDispatcher port(gui, nullptr);
        ASSERT_EQ(port.OpenDevice(pty.slave_path(), 9600, 0, 8, 1, 4096, 4096, 0), 0) << "open " << i;
        ASSERT_EQ(port.RunningThreadCount(), 4);
        port.ShutdownDevice();
        ASSERT_EQ(port.RunningThreadCount(), 0) << "close " << i;
        ASSERT_FALSE(port.ThreadsStarted());
        ASSERT_FALSE(port.BuffersAllocated());
    }
    EXPECT_EQ(DispatcherTable::Instance().Size(), table_before);
}

}  // namespace
}  // namespace linograf::serial
