#pragma once
// The dispatcher on a Linux serial device: the platform operations on termios and ioctl, and the
// four port threads (read, dispatcher, write, status). Every wait is a poll() with a wake-up
// descriptor and a bounded slice, so each thread notices a stop within about 100 ms.
#include <memory>
#include <thread>

#include "serial/base_dispatcher.h"
#include "serial/system_calls.h"
#include "serial/unique_fd.h"
#include "serial/uucp_lock.h"

namespace linograf::serial {

class TNlkPosixDispatcher;

// A port thread: reports its start and end to the dispatcher around its body.
class TNlkDispatcherThread {
  public:
    TNlkDispatcherThread(TNlkPosixDispatcher& dispatcher, PortThread kind);
    virtual ~TNlkDispatcherThread();
    TNlkDispatcherThread(const TNlkDispatcherThread&) = delete;
    TNlkDispatcherThread& operator=(const TNlkDispatcherThread&) = delete;

    void Start();
    void Terminate() { terminated_ = true; }
    bool Terminated() const { return terminated_.load(); }
    // Waits for the body to have returned (never from the thread itself).
    void Join();
    bool IsCurrentThread() const { return thread_.get_id() == std::this_thread::get_id(); }

  protected:
    virtual int32_t Execute() = 0;
    TNlkPosixDispatcher& dispatcher_;

  private:
    void Body();
    PortThread kind_;
    std::atomic<bool> terminated_{false};
    std::thread thread_;
};

class TReadThread;
class TStatusThread;
class TWriteThread;
class TDispThread;

class TNlkPosixDispatcher : public TNlkBaseDispatcher {
  public:
    TNlkPosixDispatcher(GuiThread& gui, const ErrorOwner* owner, SystemCalls& calls = RealSystemCalls());
    ~TNlkPosixDispatcher() override;

    // Starts the four port threads; raises "Dispatcher already started." when they run.
    void StartThreads() override;
    // The open's errno when OpenDevice failed opening the device (for a message naming the cause).
    int OpenErrno() const { return open_errno_; }
    int DeviceHandle() const { return device_.get(); }
    // The path the last open tried: the name itself, or the device a "\\.\COM<n>" name stands for.
    const std::string& DevicePath() const { return device_path_; }
    // Opening and closing the device alone, as the availability test does. The device is opened
    // exclusively: an advisory lock (flock) plus the terminal's exclusive mode (TIOCEXCL).
    int OpenPort(const std::string& name) override;
    int32_t ClosePort() override;

  protected:
    int32_t EscapeLine(int code) override;
    int32_t FlushPort(int which) override;
    uint32_t ReadStatus() override;
    int32_t ReadControlBlock() override;
    uint32_t ReadInput(uint8_t* destination, uint32_t length) override;
    int32_t WriteControlBlock() override;
    uint32_t PutOutput(const uint8_t* data, uint32_t length) override;
    bool RequestQueueSizes(uint32_t in_size, uint32_t out_size) override;
    void StopPort() override;
    uint32_t OutputCount() override;
    uint32_t InputWaiting() override;
    void YieldProcessor() override;
    uint8_t ReadModemStatus() override;
    bool DeviceOpen() const override;
    void AcknowledgeThread() override;
    void JoinThreads() override;
    void WakeReadThread() override;

  private:
    friend class TReadThread;
    friend class TStatusThread;
    friend class TWriteThread;
    friend class TDispThread;

    // Waits (pumping GUI work when on the GUI thread) until the thread has ended, at most `limit`.
    bool WaitThreadGone(PortThread which, std::chrono::milliseconds limit);
    // Reads into a buffer: >0 bytes, 0 when nothing is waiting, -1 on failure (error stored).
    ssize_t ReadDevice(uint8_t* buffer, size_t size, bool hang_up);
    // Sends the output ring: 0, or -160 with the error stored.
    int32_t SendOutputRing();
    friend class TNlkTAPI32Dispatcher;
    // Gives up the exclusive mode and closes the descriptor (state lock held): 0, or -1.
    int CloseDevice();
    // Line-error counters (TIOCGICOUNT) since the last call, as line-error bits.
    uint32_t LineErrorBitsSinceLastRead();

    SystemCalls& calls_;
    UniqueFd device_;
    TUucpLock uucp_lock_;  // state lock; held from the open to the close of the device
    int open_errno_ = 0;
    std::string device_path_;
    EventFd thread_ack_;
    EventFd output_ready_;
    EventFd output_flush_;
    EventFd data_received_;
    EventFd status_wake_;  // ends the status thread's wait, as clearing the event mask does
    std::unique_ptr<TNlkDispatcherThread> threads_[4];

    // Line-error counters at the last status read (state lock); valid when the device has them.
    bool icount_known_ = false;
    uint32_t icount_[5] = {};  // overrun, buffer overrun, parity, frame, break
};

// The platform dispatcher under the name the component's rules use for it.
using TNlkWin32Dispatcher = TNlkPosixDispatcher;

// A dispatcher over a device that a telephony layer has opened already; it does not open the
// device itself. This system has no telephony layer and never creates one.
class TNlkTAPI32Dispatcher : public TNlkPosixDispatcher {
  public:
    // `device_handle` (0 or less: none) becomes the dispatcher's at the first open and is closed
    // with the port.
    TNlkTAPI32Dispatcher(GuiThread& gui, const ErrorOwner* owner, int device_handle,
                         SystemCalls& calls = RealSystemCalls());
    // The given handle; without one the platform error 2007 and the result -2007.
    int OpenPort(const std::string& name) override;

  private:
    int given_handle_;
};

}  // namespace linograf::serial
