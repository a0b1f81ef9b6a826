// The dispatcher and its port threads on real pseudo-terminals: the test plays the device on the
// master, the dispatcher opens the slave, and the test thread is the GUI thread.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstring>
#include <filesystem>
#include <random>
#include <thread>

#include "serial/dispatcher_table.h"
#include "serial/open_result.h"
#include "serial/platform_error.h"
#include "serial/port_device_map.h"
#include "serial/posix_dispatcher.h"

#include "tests/serial/pty_pair.h"
#include "tests/support/temp_dir.h"

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

// Runs `body` in a child process that has given up root (uid and gid 65534), so that the kernel's
// permission checks and the terminal's exclusive mode apply as to an ordinary user; `body`'s
// result is the child's exit status. Only the raw system calls are used between fork and exec-less
// exit where other threads may exist in the parent.
int RunAsNobody(const std::function<int()>& body) {
    const pid_t child = fork();
    if (child == 0) {
        if (syscall(SYS_setgroups, 0, nullptr) != 0 || syscall(SYS_setgid, 65534) != 0 ||
            syscall(SYS_setuid, 65534) != 0)
            _exit(200);
        _exit(body());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 201;
}

// errno of opening `path` for reading and writing (0 when it opened), as an unprivileged user.
int OpenErrnoAsNobody(const std::string& path) {
    return RunAsNobody([&] {
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) return errno;
        ::close(fd);
        return 0;
    });
}

class DispatcherOnPty : public ::testing::Test {
  protected:
    void Open(SystemCalls& calls = RealSystemCalls()) { OpenNamed(pty.slave_path(), calls); }
    void OpenNamed(const std::string& name, SystemCalls& calls = RealSystemCalls()) {
        dispatcher = std::make_unique<TNlkPosixDispatcher>(gui, nullptr, calls);
        ASSERT_EQ(dispatcher->OpenDevice(name, 9600, kNoParity, 8, 1, 4096, 4096, 0), 0);
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

TEST_F(DispatcherOnPty, AWindowRemovedDuringADeliveryIsSkippedAndDroppedAfterIt) {
    Open();
    RecordingWindow second(*dispatcher);
    dispatcher->AddTriggerWindow(&second);
    window->after_taking = [&] {
        if (window->counts.size() == 1) dispatcher->RemoveTriggerWindow(&second);
    };
    pty.Write("ab");
    ASSERT_TRUE(Pump([&] { return window->counts.size() == 1 && !dispatcher->InDispatch(); }));
    EXPECT_TRUE(second.counts.empty()) << "the removed window still got the delivery it was removed in";
    EXPECT_EQ(dispatcher->TriggerWindowCount(), 1u);
    pty.Write("c");
    ASSERT_TRUE(Pump([&] { return window->received == "abc"; }));
    EXPECT_TRUE(second.counts.empty());
}

TEST_F(DispatcherOnPty, TriggersSavedBeforeACloseComeBackAfterTheNextOpen) {
    Open();
    pty.Write("a");
    ASSERT_TRUE(Pump([&] { return window->received == "a"; }));
    TTriggerSave saved;
    dispatcher->SaveTriggers(saved);
    EXPECT_EQ(saved.avail_threshold, 1);
    dispatcher->ShutdownDevice();
    ASSERT_EQ(dispatcher->OpenDevice(pty.slave_path(), 9600, kNoParity, 8, 1, 4096, 4096, 0), 0);
    ASSERT_EQ(dispatcher->ClearSoftwareFlow(), 0);
    EXPECT_EQ(dispatcher->AvailThreshold(), 0) << "an open starts without triggers";
    dispatcher->RestoreTriggers(saved);
    EXPECT_EQ(dispatcher->AvailThreshold(), 1);
    pty.Write("b");
    ASSERT_TRUE(Pump([&] { return window->received == "ab"; }));
    EXPECT_EQ(window->counts, (std::vector<uint32_t>{1, 1}));
}

TEST_F(DispatcherOnPty, AFullRingKeepsFurtherInputQueuedAndLosesNothing) {
    Open();
    bool taking = false;
    window->take = [&](uint32_t count) { return taking ? count : 0u; };
    const std::string stream = Pattern(kReceiveRingSize + 100, 7);
    pty.Write(stream);
    // Until the delivery has ended, bytes taken on this thread would count as the handler's.
    ASSERT_TRUE(Pump([&] {
        return !window->counts.empty() && window->counts.back() == kReceiveRingSize &&
               !dispatcher->InDispatch();
    }));
    EXPECT_TRUE(dispatcher->RingFull());
    EXPECT_EQ(dispatcher->BytesAvailable(), kReceiveRingSize);

    // Taking a byte outside a handler makes room; the queued bytes follow. (Only one: the room
    // starts the next delivery at once, and a byte taken outside a handler while a delivery is
    // under way counts as taken by that delivery.)
    std::string outside;
    uint8_t byte = 0;
    ASSERT_EQ(dispatcher->GetChar(byte), 0);
    outside.push_back(static_cast<char>(byte));
    taking = true;
    ASSERT_TRUE(Pump([&] { return outside.size() + window->received.size() == stream.size(); }));
    EXPECT_EQ(outside + window->received, stream);
    for (uint32_t count : window->counts) EXPECT_LE(count, kReceiveRingSize);
}

TEST_F(DispatcherOnPty, WriteIndexWrapsAtTheRingEnd) {
    Open();
    const std::string first = Pattern(kReceiveRingSize - 2, 3);
    pty.Write(first);
    ASSERT_TRUE(Pump([&] {
        return window->received.size() == first.size() && dispatcher->ReadIndex() == 8190;
    })) << window->received.size()
        << " " << window->counts.size() << " r" << dispatcher->ReadIndex() << " w" << dispatcher->WriteIndex()
        << " avail " << dispatcher->BytesAvailable() << " last " << window->counts.back();
    pty.Write("VWXYZ");
    ASSERT_TRUE(
        Pump([&] { return window->received.size() == first.size() + 5 && dispatcher->ReadIndex() == 3; }));
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

// What the component raises for each way an open can fail: the dispatcher's code mapped, then
// checked.
void ExpectOpenFailure(TNlkPosixDispatcher& port, const std::string& name, int32_t expected_code,
                       const char* expected_message) {
    const int32_t code = MapOpenResult(port.OpenDevice(name, 9600, 0, 8, 1, 4096, 4096, 0));
    EXPECT_EQ(code, expected_code) << name;
    EXPECT_EQ(port.RunningThreadCount(), 0);
    EXPECT_FALSE(port.BuffersAllocated());
    try {
        CheckOpenResult(nullptr, code, port.OpenFailureText());
        ADD_FAILURE() << "no error for " << name;
    } catch (const ENLKException& e) {
        EXPECT_STREQ(e.what(), expected_message);
        EXPECT_EQ(e.ErrorCode(), expected_code);
    }
}

TEST_F(DispatcherOnPty, ADeviceHeldElsewhereIsToldApartFromAMissingOne) {
    const int other = ::open(pty.slave_path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    TNlkPosixDispatcher held(gui, nullptr);
    ExpectOpenFailure(held, pty.slave_path(), ecAlreadyOpen, "ie_Open - device already open");
    ::close(other);

    TNlkPosixDispatcher missing(gui, nullptr);
    ExpectOpenFailure(missing, "/dev/linograf-no-such-tty", ecBadId,
                      "ie_BadId - Specified comport doesn't exist");
    ExpectOpenFailure(missing, "/dev/linograf-no-such-dir/tty", ecBadId,
                      "ie_BadId - Specified comport doesn't exist");
    EXPECT_EQ(held.OpenDevice(pty.slave_path(), 9600, 0, 8, 1, 4096, 4096, 0), 0)
        << "the lock went with the holder";
}

TEST_F(DispatcherOnPty, AnOpenPortKeepsOtherUsersOutUntilItIsClosed) {
    // The pseudo-terminal is open to everybody, so only the exclusive mode can keep others out.
    ASSERT_EQ(::chmod(pty.slave_path().c_str(), 0666), 0);
    ASSERT_EQ(OpenErrnoAsNobody(pty.slave_path()), 0);
    Open();
    EXPECT_EQ(OpenErrnoAsNobody(pty.slave_path()), EBUSY);
    EXPECT_EQ(PlatformErrorFromOpenErrno(EBUSY), kErrorAccessDenied) << "reported as held by another program";
    dispatcher->ShutdownDevice();
    // The terminal outlives the port (the test holds the slave open), and so would its exclusive
    // mode if the close did not give it up.
    EXPECT_EQ(OpenErrnoAsNobody(pty.slave_path()), 0);
}

TEST_F(DispatcherOnPty, APermissionProblemNamesTheDeviceAndTheCause) {
    ASSERT_EQ(::chmod(pty.slave_path().c_str(), 0600), 0);
    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    const int status = RunAsNobody([&] {
        PlainGuiThread child_gui;
        TNlkPosixDispatcher port(child_gui, nullptr);
        const int32_t code = MapOpenResult(port.OpenDevice(pty.slave_path(), 9600, 0, 8, 1, 4096, 4096, 0));
        std::string report = std::to_string(code) + "\n";
        try {
            CheckOpenResult(nullptr, code, port.OpenFailureText());
        } catch (const EInOutError& e) {
            report += std::to_string(e.ErrorCode()) + "\n" + e.what();
        } catch (...) {
            report += "other exception";
        }
        const bool written =
            ::write(pipe_fds[1], report.data(), report.size()) == static_cast<ssize_t>(report.size());
        return written ? 0 : 1;
    });
    ::close(pipe_fds[1]);
    std::string report;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0;)
        report.append(buffer, static_cast<size_t>(n));
    ::close(pipe_fds[0]);
    ASSERT_EQ(status, 0);
    const std::string code_line =
        std::to_string(-kErrorPermissionDenied) + "\n" + std::to_string(kErrorPermissionDenied) + "\n";
    ASSERT_EQ(report.substr(0, code_line.size()), code_line) << report;
    const std::string message = report.substr(code_line.size());
    EXPECT_NE(message.find(pty.slave_path()), std::string::npos) << message;
    EXPECT_NE(message.find(std::strerror(EACCES)), std::string::npos) << message;
    EXPECT_EQ(message.find("already open"), std::string::npos) << message;
}

TEST_F(DispatcherOnPty, APortNameOpensTheDeviceItsNumberStandsFor) {
    linograf::test::TempDir folder;
    std::filesystem::create_symlink(pty.slave_path(), folder.path() / "com7");
    setenv(kPortFolderVariable, folder.path().c_str(), 1);
    OpenNamed("\\\\.\\COM7");
    unsetenv(kPortFolderVariable);
    EXPECT_EQ(dispatcher->DevicePath(), folder.File("com7"));
    pty.Write("ok");
    ASSERT_TRUE(Pump([&] { return window->received == "ok"; })) << window->received;
}

TEST_F(DispatcherOnPty, ATelephonyDispatcherUsesTheDeviceItIsGivenAndFailsWithoutOne) {
    TNlkTAPI32Dispatcher without(gui, nullptr, 0);
    EXPECT_EQ(without.OpenDevice("\\\\.\\COM1", 9600, kNoParity, 8, 1, 4096, 4096, 0), ecCommNotOpen);
    EXPECT_EQ(without.RunningThreadCount(), 0);

    const int given = ::open(pty.slave_path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(given, 0);
    auto tapi = std::make_unique<TNlkTAPI32Dispatcher>(gui, nullptr, given);
    ASSERT_EQ(tapi->OpenDevice("\\\\.\\COM1", 9600, kNoParity, 8, 1, 4096, 4096, 0), 0);
    EXPECT_EQ(tapi->DeviceHandle(), given);
    ASSERT_EQ(tapi->ClearSoftwareFlow(), 0);
    RecordingWindow handler(*tapi);
    tapi->SetAvailThreshold(1);
    tapi->SetPortHandler(PortHandlerKind::Installed);
    tapi->AddTriggerWindow(&handler);
    pty.Write("tel");
    ASSERT_TRUE(Pump([&] { return handler.received == "tel"; }));
    tapi->ShutdownDevice();
    EXPECT_EQ(::fcntl(given, F_GETFD), -1) << "the given descriptor is closed with the port";
    EXPECT_EQ(tapi->OpenDevice("\\\\.\\COM1", 9600, kNoParity, 8, 1, 4096, 4096, 0), ecCommNotOpen)
        << "a handle is given for one opening";
}

TEST_F(DispatcherOnPty, APseudoTerminalHasNoModemLinesAndNothingFails) {
    Open();
    EXPECT_EQ(dispatcher->ModemStatus(), 0);
    EXPECT_EQ(dispatcher->SetDtrLine(true), 0);
    EXPECT_EQ(dispatcher->SetRtsLine(false), 0);
    EXPECT_EQ(dispatcher->RefreshModemStatus(0xF0), 0);
    EXPECT_EQ(dispatcher->LineErrorQuery(), 0);
    pty.Write("abc");
    ASSERT_TRUE(Pump([&] { return window->received == "abc"; }));
    EXPECT_EQ(dispatcher->LineErrors(), 0);
    EXPECT_EQ(dispatcher->RunningThreadCount(), 4);
}

TEST_F(DispatcherOnPty, FlushInputDropsUnreadBytesAndTheNextArrivalStandsAlone) {
    Open();
    window->take = [&](uint32_t count) { return window->counts.size() == 1 ? 0u : count; };
    pty.Write("abc");
    ASSERT_TRUE(Pump([&] { return window->counts.size() == 1 && !dispatcher->InDispatch(); }));
    EXPECT_EQ(dispatcher->BytesAvailable(), 3u);
    dispatcher->FlushInput();
    EXPECT_EQ(dispatcher->BytesAvailable(), 0u);
    EXPECT_EQ(dispatcher->ReadIndex(), dispatcher->WriteIndex());
    pty.Write("d");
    ASSERT_TRUE(Pump([&] { return window->counts.size() == 2; }));
    EXPECT_EQ(window->counts[1], 1u);
    EXPECT_EQ(window->received, "d");
}

// Reads that start failing at the test's word; everything else reaches the pseudo-terminal.
class FailingReads : public SystemCalls {
  public:
    std::atomic<int> fail_with{0};
    ssize_t Read(int fd, void* buffer, size_t size) override {
        if (const int error = fail_with.load(); error != 0) {
            errno = error;
            return -1;
        }
        return SystemCalls::Read(fd, buffer, size);
    }
};

TEST_F(DispatcherOnPty, AFailingReadEndsAllThreadsAndOnlyARealFailureMarksTheLine) {
    struct Case {
        int error;
        int32_t line_errors;  // -1: the failure is recorded; 0: a descriptor closed under the thread
    };
    for (const Case c : {Case{EIO, -1}, Case{ENXIO, -1}, Case{EBADF, 0}}) {
        SCOPED_TRACE(std::strerror(c.error));
        FailingReads calls;
        Open(calls);
        pty.Write("abc");
        ASSERT_TRUE(Pump([&] { return window->received.size() == 3; }));
        calls.fail_with = c.error;
        ASSERT_TRUE(Pump([&] { return dispatcher->RunningThreadCount() == 0; }));
        EXPECT_TRUE(dispatcher->KillThreads());
        EXPECT_EQ(dispatcher->LineErrors(), c.line_errors);
        EXPECT_TRUE(gui.shown_errors().empty());
        dispatcher->ShutdownDevice();
        EXPECT_FALSE(dispatcher->BuffersAllocated());
        dispatcher.reset();
        window.reset();
    }
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

namespace linograf::serial {
namespace {

// The end report of a port thread: read and write failures only mark the line-error state, a
// missing queue item is shown as its message, a normal end is silent; the running count drops.
TEST(ThreadReports, EndingThreadsReportTheirResult) {
    struct Case {
        int32_t result;
        int32_t line_errors;
        std::vector<std::string> shown;
    };
    const Case cases[] = {
        {0, 0, {}},
        {-161, -1, {}},
        {-160, -1, {}},
        {ecTapiNoMem, 0, {"No memory"}},
    };
    for (const Case& c : cases) {
        PlainGuiThread gui;
        TNlkPosixDispatcher dispatcher(gui, nullptr);
        dispatcher.ThreadStarted();
        EXPECT_EQ(dispatcher.RunningThreadCount(), 1);
        dispatcher.ThreadEnded(PortThread::Read, c.result);
        EXPECT_EQ(dispatcher.RunningThreadCount(), 0) << c.result;
        EXPECT_EQ(dispatcher.LineErrors(), c.line_errors) << c.result;
        EXPECT_EQ(gui.shown_errors(), c.shown) << c.result;
    }
}

}  // namespace
}  // namespace linograf::serial
