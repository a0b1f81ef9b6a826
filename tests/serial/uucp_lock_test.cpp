// UUCP lock files around a port on a real pseudo-terminal, in a lock folder of the test's own
// (LINOGRAF_LOCK_DIRS). The file's format is the one other serial programs write and read: the
// owner's process id as ten characters, right-aligned, and a newline.
#include "serial/uucp_lock.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "serial/com_port.h"
#include "tests/serial/pty_pair.h"
#include "tests/support/temp_dir.h"

namespace linograf::serial {
namespace {

std::string TenDigits(pid_t pid) {
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
    return text;
}

// A process that lives until the test lets it go.
class OtherProcess {
  public:
    OtherProcess() {
        int fds[2];
        if (::pipe(fds) != 0) throw std::runtime_error("pipe");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(fds[1]);
            char c;
            (void)::read(fds[0], &c, 1);
            ::_exit(0);
        }
        ::close(fds[0]);
        release_ = fds[1];
    }
    ~OtherProcess() { End(); }
    void End() {
        if (release_ < 0) return;
        ::close(release_);
        release_ = -1;
        ::waitpid(pid_, nullptr, 0);
    }
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    int release_ = -1;
};

class UucpLockTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directory(folder);
        ::setenv(kLockFoldersVariable, folder.c_str(), 1);
        LoadNlkComPort1(port);
        port.SetDevicePath(pty.slave_path());
        lock_file = (folder / LockFileName(pty.slave_path())).string();
    }
    void TearDown() override { ::unsetenv(kLockFoldersVariable); }

    ::linograf::test::TempDir dir;
    std::filesystem::path folder = dir.path() / "lock";
    test::PtyPair pty;
    PlainGuiThread gui;
    TNlkComPort port{gui};
    std::string lock_file;
};

TEST(UucpLockName, NamesFollowTheDeviceNode) {
    EXPECT_EQ(LockFileName("/dev/ttyUSB0"), "LCK..ttyUSB0");
    EXPECT_EQ(LockFileName("/dev/pts/3"), "LCK..pts_3");
}

TEST_F(UucpLockTest, AnOpenPortHoldsALockFileThatTheCloseRemoves) {
    EXPECT_EQ(LockFileName(pty.slave_path()),
              "LCK.." + pty.slave_path().substr(5, 3) + "_" + pty.slave_path().substr(9));
    port.SetOpen(true);
    ASSERT_TRUE(port.Open());
    ASSERT_TRUE(std::filesystem::exists(lock_file));
    EXPECT_EQ(::linograf::test::ReadFileBytes(lock_file), TenDigits(::getpid()));
    port.SetOpen(false);
    EXPECT_FALSE(std::filesystem::exists(lock_file));
}

TEST_F(UucpLockTest, ALockOfALiveProcessMeansInUse) {
    OtherProcess other;
    ::linograf::test::WriteFileBytes(lock_file, TenDigits(other.pid()));
    try {
        port.SetOpen(true);
        ADD_FAILURE() << "opened a port another process holds";
    } catch (const std::exception& error) {
        const std::string message = error.what();
        EXPECT_NE(message.find(pty.slave_path()), std::string::npos) << message;
        EXPECT_NE(message.find("in use by process " + std::to_string(other.pid())), std::string::npos)
            << message;
        EXPECT_NE(message.find(lock_file), std::string::npos) << message;
    }
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(::linograf::test::ReadFileBytes(lock_file), TenDigits(other.pid())) << "not ours to touch";

    // The other program ends without removing its lock: the lock is stale and the port opens.
    other.End();
    port.SetOpen(true);
    EXPECT_TRUE(port.Open());
    EXPECT_EQ(::linograf::test::ReadFileBytes(lock_file), TenDigits(::getpid()));
    port.SetOpen(false);
    EXPECT_FALSE(std::filesystem::exists(lock_file));
}

TEST_F(UucpLockTest, AFolderWhereNoLockCanBeMadeDoesNotStopTheOpen) {
    ::setenv(kLockFoldersVariable, (dir.path() / "missing").c_str(), 1);
    port.SetOpen(true);
    EXPECT_TRUE(port.Open());
    port.SetOpen(false);
}

}  // namespace
}  // namespace linograf::serial
