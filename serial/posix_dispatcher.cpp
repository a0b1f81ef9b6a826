#include "serial/posix_dispatcher.h"

#include <asm/ioctls.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <cerrno>
#include <cstring>
#include <new>
#include <utility>

#include "serial/open_result.h"
#include "serial/platform_error.h"
#include "serial/port_device_map.h"
#include "serial/termios_control_block.h"

namespace linograf::serial {

namespace {

constexpr uint32_t kReadChunk = 256;
constexpr int kReadSliceMs = 50;
constexpr int kWaitSliceMs = 100;
constexpr std::chrono::milliseconds kStartAcknowledge{3000};
constexpr std::chrono::milliseconds kFlushAcknowledge{5000};

}  // namespace

// ---------------------------------------------------------------- threads

TNlkDispatcherThread::TNlkDispatcherThread(TNlkPosixDispatcher& dispatcher, PortThread kind)
    : dispatcher_(dispatcher), kind_(kind) {}

TNlkDispatcherThread::~TNlkDispatcherThread() {
    Join();
}

void TNlkDispatcherThread::Start() {
    thread_ = std::thread([this] { Body(); });
}

void TNlkDispatcherThread::Join() {
    if (thread_.joinable() && !IsCurrentThread()) thread_.join();
}

void TNlkDispatcherThread::Body() {
    dispatcher_.ThreadStarted();
    int32_t result = 0;
    try {
        result = Execute();
    } catch (const std::exception& error) {
        dispatcher_.Gui().ShowError(error.what());
    }
    dispatcher_.ThreadEnded(kind_, result);
}

class TReadThread : public TNlkDispatcherThread {
  public:
    explicit TReadThread(TNlkPosixDispatcher& d) : TNlkDispatcherThread(d, PortThread::Read) {}

  protected:
    int32_t Execute() override {
        auto& d = dispatcher_;
        int32_t result = 0;
        std::unique_ptr<TDataBuffer> buffer;
        auto stop = [&](int32_t value) {
            result = value;
            d.kill_threads_ = true;
        };
        // A stop of reading is looked at only between reads: a chunk taken from the device is
        // always queued, so every byte read reaches the dispatcher thread.
        while (!Terminated() && !d.kill_threads_ && !d.stop_reading_) {
            pollfd fds[2] = {{d.device_.get(), POLLIN, 0}, {d.data_received_.fd(), POLLIN, 0}};
            const int ready = d.calls_.Poll(fds, 2, kReadSliceMs);
            if (ready < 0) {
                if (errno == EINTR) continue;
                d.last_error_ = PlatformErrorFromErrno(errno);
                stop(-161);
                break;
            }
            d.data_received_.Consume();
            if (d.kill_threads_ || d.stop_reading_) break;
            const bool hang_up = (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
            for (;;) {
                if (!buffer) {
                    buffer.reset(new (std::nothrow) TDataBuffer(kReadChunk));
                    if (!buffer) {
                        stop(ecTapiNoMem);
                        break;
                    }
                }
                const ssize_t n = d.ReadDevice(buffer->Data(), kReadChunk, hang_up);
                if (n > 0) {
                    buffer->filled = static_cast<uint32_t>(n);
                    d.input_queue_.Push(std::move(buffer));
                    if (d.stop_reading_) break;
                    continue;
                }
                if (n < 0) {
                    // A descriptor closed under the thread is the normal end, not a failure.
                    stop(d.last_error_ == kErrorInvalidHandle ? 0 : -161);
                }
                break;
            }
            if (result != 0) break;
        }
        return result;
    }
};

class TStatusThread : public TNlkDispatcherThread {
  public:
    explicit TStatusThread(TNlkPosixDispatcher& d) : TNlkDispatcherThread(d, PortThread::Status) {}

  protected:
    // Linux has no comm-event wait that a stop can interrupt; the modem lines and the line-error
    // counters are sampled once per slice instead and their changes reported as the same events.
    int32_t Execute() override {
        auto& d = dispatcher_;
        int lines = 0;
        bool have_lines = d.calls_.Ioctl(d.device_.get(), TIOCMGET, &lines) == 0;
        serial_icounter_struct counts{};
        bool have_counts = d.calls_.Ioctl(d.device_.get(), TIOCGICOUNT, &counts) == 0;
        while (!Terminated() && !d.kill_threads_) {
            d.status_wake_.Wait(std::chrono::milliseconds(kWaitSliceMs));
            if (Terminated() || d.kill_threads_) break;
            uint32_t mask = 0;
            if (have_lines) {
                int now = 0;
                if (d.calls_.Ioctl(d.device_.get(), TIOCMGET, &now) == 0) {
                    const int changed = now ^ lines;
                    if (changed & TIOCM_CTS) mask |= evCts;
                    if (changed & TIOCM_DSR) mask |= evDsr;
                    if (changed & TIOCM_CAR) mask |= evRlsd;
                    if ((changed & TIOCM_RNG) && (now & TIOCM_RNG)) mask |= evRing;
                    lines = now;
                } else {
                    have_lines = false;
                }
            }
            if (have_counts) {
                serial_icounter_struct now{};
                if (d.calls_.Ioctl(d.device_.get(), TIOCGICOUNT, &now) == 0) {
                    if (now.brk != counts.brk) mask |= evBreak;
                    if (now.frame != counts.frame || now.parity != counts.parity ||
                        now.overrun != counts.overrun || now.buf_overrun != counts.buf_overrun)
                        mask |= evErr;
                    counts = now;
                } else {
                    have_counts = false;
                }
            }
            if (mask != 0) {
                std::unique_ptr<TStatusBuffer> item(new (std::nothrow) TStatusBuffer(mask));
                if (!item) {
                    d.kill_threads_ = true;
                    return ecTapiNoMem;
                }
                d.input_queue_.Push(std::move(item));
            }
        }
        return 0;
    }
};

class TWriteThread : public TNlkDispatcherThread {
  public:
    explicit TWriteThread(TNlkPosixDispatcher& d) : TNlkDispatcherThread(d, PortThread::Write) {}

  protected:
    int32_t Execute() override {
        auto& d = dispatcher_;
        int32_t result = 0;
        while (!Terminated() && !d.kill_threads_) {
            pollfd fds[2] = {{d.output_ready_.fd(), POLLIN, 0}, {d.output_flush_.fd(), POLLIN, 0}};
            const int ready = d.calls_.Poll(fds, 2, kWaitSliceMs);
            if (ready < 0) {
                if (errno == EINTR) continue;
                d.last_error_ = PlatformErrorFromErrno(errno);
                result = -160;
                d.kill_threads_ = true;
                break;
            }
            if ((fds[0].revents & POLLIN) && d.output_ready_.Consume() && !d.kill_threads_) {
                if (d.SendOutputRing() != 0) {
                    if (d.last_error_ != kErrorInvalidHandle) result = -160;
                    d.kill_threads_ = true;
                }
            }
            if ((fds[1].revents & POLLIN) && d.output_flush_.Consume()) d.AcknowledgeThread();
        }
        return result;
    }
};

class TDispThread : public TNlkDispatcherThread {
  public:
    explicit TDispThread(TNlkPosixDispatcher& d) : TNlkDispatcherThread(d, PortThread::Dispatcher) {}

  protected:
    int32_t Execute() override {
        auto& d = dispatcher_;
        bool killed = false;
        for (;;) {
            if (d.LateDeliveryPending()) {
                // A handler outlived its wait: keep draining input into the ring, deliver nothing.
                d.WaitForLateDelivery(std::chrono::milliseconds(kReadSliceMs));
                if (d.kill_threads_) {
                    killed = true;
                    break;
                }
                d.ProcessInput();
                continue;
            }
            d.input_queue_.Wait(std::chrono::milliseconds(kReadSliceMs));
            if (d.kill_threads_) {
                killed = true;
                break;
            }
            d.ProcessInput();
            d.CheckTimersAndStatus();
            if (d.kill_threads_ || d.ClosePending()) break;
            d.WaitForRoom(std::chrono::milliseconds(kReadSliceMs));
        }
        // The ring must not change under a handler that is still reading it.
        while (!d.WaitForLateDelivery(std::chrono::milliseconds(kReadSliceMs))) {
        }
        // Threads stopped by a vanished device (not by a close) leave bytes the read thread had
        // already queued: they were received and go to the handler before the loss is reported.
        const bool lost = d.device_lost_ && !d.close_requested_;
        if (lost) {
            d.DeliverInputAfterLoss();
            while (!d.WaitForLateDelivery(std::chrono::milliseconds(kReadSliceMs))) {
            }
        }
        if (!killed) d.AcknowledgeThread();
        if (lost && !d.close_requested_) d.ReportDeviceLost();
        d.SetReleaseAtDispatcherEnd(d.ClosePending() || d.kill_threads_);
        return 0;
    }
};

// ---------------------------------------------------------------- dispatcher

TNlkPosixDispatcher::TNlkPosixDispatcher(GuiThread& gui, const ErrorOwner* owner, SystemCalls& calls)
    : TNlkBaseDispatcher(gui, owner), calls_(calls) {}

TNlkPosixDispatcher::~TNlkPosixDispatcher() {
    Destroy();
}

void TNlkPosixDispatcher::StartThreads() {
    std::lock_guard state(state_lock_);
    if (threads_started_) throw ENLKException(std::string("Dispatcher already started."));
    JoinThreads();  // threads of an earlier open that ended on their own
    threads_started_ = true;
    kill_threads_ = false;
    thread_ack_.Consume();
    auto start = [&](PortThread kind, std::unique_ptr<TNlkDispatcherThread> thread) {
        thread_alive_[static_cast<int>(kind)] = true;
        threads_[static_cast<int>(kind)] = std::move(thread);
        threads_[static_cast<int>(kind)]->Start();
        thread_ack_.Wait(kStartAcknowledge);
    };
    start(PortThread::Read, std::make_unique<TReadThread>(*this));
    start(PortThread::Dispatcher, std::make_unique<TDispThread>(*this));
    start(PortThread::Write, std::make_unique<TWriteThread>(*this));
    start(PortThread::Status, std::make_unique<TStatusThread>(*this));
}

void TNlkPosixDispatcher::JoinThreads() {
    for (auto& thread : threads_) {
        if (thread && !thread->IsCurrentThread()) {
            thread->Join();
            thread.reset();
        }
    }
}

void TNlkPosixDispatcher::WakeReadThread() {
    data_received_.Set();
}

void TNlkPosixDispatcher::AcknowledgeThread() {
    thread_ack_.Set();
}

bool TNlkPosixDispatcher::WaitThreadGone(PortThread which, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    const bool on_gui = gui_.IsGuiThread();
    while (ThreadAlive(which)) {
        if (on_gui) gui_.PumpPending();
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

int32_t TNlkPosixDispatcher::ClosePort() {
    if (close_in_progress_.exchange(true)) return 0;
    struct Done {
        std::atomic<bool>& flag;
        ~Done() { flag = false; }
    } done{close_in_progress_};

    if (threads_started_) {
        close_requested_ = true;
        kill_threads_ = true;
        const auto forever = std::chrono::hours(24);
        status_wake_.Set();
        WaitThreadGone(PortThread::Status, forever);
        output_flush_.Set();
        WaitThreadGone(PortThread::Write, forever);
        data_received_.Set();
        thread_ack_.Consume();
        WaitThreadGone(PortThread::Read, forever);
        WakeDispatcherThread();
        auto& dispatcher_thread = threads_[static_cast<int>(PortThread::Dispatcher)];
        const bool self = dispatcher_thread && dispatcher_thread->IsCurrentThread();
        // Inside a trigger handler the dispatcher thread is waiting for this very handler; it
        // ends by itself once the handler returns (the close is then completed later).
        const bool inside_handler = gui_.IsGuiThread() && HandlerRunning();
        if (!self && !inside_handler) {
            const auto ticks36 = std::chrono::milliseconds(36 * kTickMilliseconds);
            if (!WaitThreadGone(PortThread::Dispatcher, ticks36) &&
                !WaitThreadGone(PortThread::Dispatcher, ticks36)) {
                if (dispatcher_thread) dispatcher_thread->Terminate();
                WaitThreadGone(PortThread::Dispatcher, forever);
            }
        }
        if (gui_.IsGuiThread()) {
            for (PortThread kind :
                 {PortThread::Status, PortThread::Write, PortThread::Read, PortThread::Dispatcher}) {
                auto& thread = threads_[static_cast<int>(kind)];
                if (thread && !ThreadAlive(kind)) {
                    thread->Join();
                    thread.reset();
                }
            }
        }
    }
    std::lock_guard state(state_lock_);
    return CloseDevice();
}

void TNlkPosixDispatcher::StopPort() {
    if (threads_started_) ClosePort();
}

int TNlkPosixDispatcher::OpenPort(const std::string& name) {
    std::lock_guard state(state_lock_);
    open_errno_ = 0;
    open_failure_text_.clear();
    device_path_ = DevicePathForName(name);
    auto fail = [&](int error) {
        open_errno_ = error;
        last_error_ = PlatformErrorFromOpenErrno(error);
        if (last_error_ == kErrorPermissionDenied)
            open_failure_text_ = PermissionProblemText(device_path_, error);
        return -1;
    };
    // Programs that keep to UUCP lock files (minicom, picocom, cu) mark a port in use with one;
    // such a port is in use even where its owner did not open it exclusively.
    if (!uucp_lock_.Acquire(device_path_)) {
        last_error_ = kErrorAccessDenied;
        open_failure_text_ = "The serial device " + device_path_ + " is in use by process " +
                             std::to_string(uucp_lock_.HolderPid()) + " (lock file " +
                             uucp_lock_.HolderFile() + ")";
        return -1;
    }
    struct ReleaseOnFailure {
        TUucpLock& lock;
        bool keep = false;
        ~ReleaseOnFailure() {
            if (!keep) lock.Release();
        }
    } release{uucp_lock_};
    const int fd = calls_.Open(device_path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return fail(errno);
    UniqueFd device(fd, calls_);
    // Exclusive use: the advisory lock is what other serial programs check, and it also holds
    // against root; TIOCEXCL keeps out every other opener that does not check it. The lock comes
    // first so that a device held elsewhere is let go without touching its exclusive mode.
    if (calls_.Flock(fd, LOCK_EX | LOCK_NB) != 0) return fail(errno);
    if (calls_.Ioctl(fd, TIOCEXCL, nullptr) != 0) return fail(errno);
    // Linux raises DTR and RTS on every open, and many boards reset on that edge. The lines the
    // settings do not ask for are dropped at once, before anything else happens on the device, and
    // HUPCL is cleared so that the close does not toggle them either. A device without modem lines
    // (a pseudo-terminal) refuses the line request; that is no failure.
    ClearHangUpOnClose(calls_, fd);
    int drop = 0;
    if ((open_line_flags_ & (lfDtrOn | lfDtrFlow)) == 0) drop |= TIOCM_DTR;
    if ((open_line_flags_ & (lfRtsOn | lfRtsFlow)) == 0) drop |= TIOCM_RTS;
    if (drop != 0) calls_.Ioctl(fd, TIOCMBIC, &drop);
    device_ = std::move(device);
    release.keep = true;
    icount_known_ = false;
    return fd;
}

TNlkTAPI32Dispatcher::TNlkTAPI32Dispatcher(GuiThread& gui, const ErrorOwner* owner, int device_handle,
                                           SystemCalls& calls)
    : TNlkPosixDispatcher(gui, owner, calls), given_handle_(device_handle) {}

int TNlkTAPI32Dispatcher::OpenPort(const std::string& name) {
    std::lock_guard state(state_lock_);
    open_errno_ = 0;
    open_failure_text_.clear();
    device_path_ = name;
    if (given_handle_ <= 0) {
        last_error_ = -ecCommNotOpen;
        return ecCommNotOpen;
    }
    device_ = UniqueFd(std::exchange(given_handle_, 0), calls_);
    icount_known_ = false;
    return device_.get();
}

int TNlkPosixDispatcher::CloseDevice() {
    if (!device_.valid()) return 0;
    // The exclusive mode belongs to the terminal, not to this descriptor: it would outlive the
    // close and lock everybody else out while another descriptor keeps the terminal alive.
    calls_.Ioctl(device_.get(), TIOCNXCL, nullptr);
    const int result = device_.Reset() == 0 ? 0 : -1;
    uucp_lock_.Release();
    return result;
}

bool TNlkPosixDispatcher::DeviceOpen() const {
    std::lock_guard state(state_lock_);
    return device_.valid();
}

bool TNlkPosixDispatcher::RequestQueueSizes(uint32_t, uint32_t) {
    // The kernel's tty buffers are fixed; there is nothing to ask for.
    return true;
}

int32_t TNlkPosixDispatcher::EscapeLine(int code) {
    std::lock_guard state(state_lock_);
    if (!device_.valid()) return -kErrorInvalidHandle;
    int bits = 0;
    unsigned long request = 0;
    switch (code) {
        case 3:
            request = TIOCMBIS;
            bits = TIOCM_RTS;
            break;
        case 4:
            request = TIOCMBIC;
            bits = TIOCM_RTS;
            break;
        case 5:
            request = TIOCMBIS;
            bits = TIOCM_DTR;
            break;
        case 6:
            request = TIOCMBIC;
            bits = TIOCM_DTR;
            break;
        default:
            return 0;  // 10: no UART base address to read on this platform
    }
    if (calls_.Ioctl(device_.get(), request, &bits) == 0) return 0;
    // A device without modem lines (a pseudo-terminal) has nothing to drive.
    if (errno == ENOTTY || errno == EINVAL) return 0;
    last_error_ = PlatformErrorFromErrno(errno);
    return -last_error_;
}

uint8_t TNlkPosixDispatcher::ReadModemStatus() {
    // The state lock stays held over the call: a port thread closes the descriptor under it when
    // the device goes away, and a number let go of could already name another file.
    std::lock_guard state(state_lock_);
    int lines = 0;
    if (!device_.valid() || calls_.Ioctl(device_.get(), TIOCMGET, &lines) != 0) return 0;
    uint8_t status = 0;
    if (lines & TIOCM_CTS) status |= msCts;
    if (lines & TIOCM_DSR) status |= msDsr;
    if (lines & TIOCM_RNG) status |= msRing;
    if (lines & TIOCM_CAR) status |= msDcd;
    return status;
}

uint32_t TNlkPosixDispatcher::LineErrorBitsSinceLastRead() {
    serial_icounter_struct now{};
    if (calls_.Ioctl(device_.get(), TIOCGICOUNT, &now) != 0) return 0;
    const uint32_t values[5] = {static_cast<uint32_t>(now.overrun), static_cast<uint32_t>(now.buf_overrun),
                                static_cast<uint32_t>(now.parity), static_cast<uint32_t>(now.frame),
                                static_cast<uint32_t>(now.brk)};
    static constexpr uint32_t kBits[5] = {ceOverrun, ceRxOver, ceRxParity, ceFrame, ceBreak};
    uint32_t bits = 0;
    if (icount_known_) {
        for (int i = 0; i < 5; ++i)
            if (values[i] != icount_[i]) bits |= kBits[i];
    }
    std::memcpy(icount_, values, sizeof icount_);
    icount_known_ = true;
    return bits;
}

uint32_t TNlkPosixDispatcher::ReadStatus() {
    std::lock_guard state(state_lock_);
    if (!device_.valid()) {
        status_ = {};
        return 0;
    }
    const uint32_t bits = LineErrorBitsSinceLastRead();
    int waiting = 0;
    if (calls_.Ioctl(device_.get(), FIONREAD, &waiting) != 0) waiting = 0;
    status_.errors = bits;
    status_.in_queue = static_cast<uint32_t>(waiting);
    status_.out_queue = OutputCount();
    return bits;
}

int32_t TNlkPosixDispatcher::ReadControlBlock() {
    std::lock_guard state(state_lock_);
    if (!device_.valid()) return -1;
    return ReadTermiosControlBlock(calls_, device_.get(), dcb_) == 0 ? 0 : -1;
}

int32_t TNlkPosixDispatcher::WriteControlBlock() {
    std::lock_guard state(state_lock_);
    if (!device_.valid()) return -kErrorInvalidHandle;
    const int32_t code = WriteTermiosControlBlock(calls_, device_.get(), dcb_);
    if (code < 0 && code > -1000) last_error_ = -code;
    return code;
}

int32_t TNlkPosixDispatcher::FlushPort(int which) {
    // Each flush holds the state lock over its call, as ReadModemStatus does; the wait for the
    // write thread's acknowledgement does not.
    auto flush = [&](int queue) {
        std::lock_guard state(state_lock_);
        return device_.valid() ? calls_.TcFlush(device_.get(), queue) : -1;
    };
    if (which == 0) {
        if (!ThreadAlive(PortThread::Write)) return 0;
        {
            std::lock_guard output(output_lock_);
            out_write_ = out_read_ = 0;
            out_full_ = false;
        }
        const int result = flush(TCOFLUSH);
        output_flush_.Set();
        // A write thread that is ending (a vanished device stops every thread) never answers: the
        // wait ends with it rather than after the full five seconds.
        const auto give_up = std::chrono::steady_clock::now() + kFlushAcknowledge;
        while (!thread_ack_.Wait(std::chrono::milliseconds(kWaitSliceMs)) && ThreadAlive(PortThread::Write) &&
               std::chrono::steady_clock::now() < give_up) {
        }
        return result == 0 ? 0 : -1;
    }
    const int result = flush(TCIFLUSH);
    input_queue_.Clear();
    return result == 0 ? 0 : -1;
}

uint32_t TNlkPosixDispatcher::ReadInput(uint8_t* destination, uint32_t length) {
    uint32_t copied = 0;
    while (copied < length) {
        TIOBuffer* item = input_queue_.Peek();
        if (item == nullptr) break;
        auto* data = dynamic_cast<TDataBuffer*>(item);
        if (data == nullptr) {
            input_queue_.Release(item);  // a comm event stays first for the next pass
            break;
        }
        const uint32_t n = std::min(length - copied, data->filled - data->taken);
        std::memcpy(destination + copied, data->Data() + data->taken, n);
        data->taken += n;
        copied += n;
        if (data->taken >= data->filled) {
            input_queue_.Pop();
        } else {
            input_queue_.Release(item);
        }
    }
    return copied;
}

uint32_t TNlkPosixDispatcher::InputWaiting() {
    TIOBuffer* item = input_queue_.Peek();
    if (item == nullptr) return 0;
    uint32_t waiting = 0;
    if (auto* data = dynamic_cast<TDataBuffer*>(item)) waiting = data->filled - data->taken;
    input_queue_.Release(item);
    return waiting;
}

uint32_t TNlkPosixDispatcher::PutOutput(const uint8_t* data, uint32_t length) {
    {
        std::lock_guard output(output_lock_);
        const uint32_t size = static_cast<uint32_t>(out_ring_.size());
        for (uint32_t i = 0; i < length && size > 0; ++i) {
            out_ring_[out_write_] = data[i];
            out_write_ = (out_write_ + 1) % size;
        }
        if (length > 0 && size > 0) out_full_ = out_write_ == out_read_;
    }
    output_ready_.Set();
    return length;
}

uint32_t TNlkPosixDispatcher::OutputCount() {
    std::lock_guard output(output_lock_);
    const uint32_t size = static_cast<uint32_t>(out_ring_.size());
    if (size == 0) return 0;
    if (out_full_) return size;
    return (out_write_ + size - out_read_) % size;
}

void TNlkPosixDispatcher::YieldProcessor() {
    std::this_thread::yield();
}

ssize_t TNlkPosixDispatcher::ReadDevice(uint8_t* buffer, size_t size, bool hang_up) {
    for (;;) {
        const ssize_t n = calls_.Read(device_.get(), buffer, size);
        if (n > 0) return n;
        if (n == 0) {
            if (!hang_up) return 0;
            last_error_ = kErrorDeviceRead;  // the device went away (hang-up)
            MarkDeviceLost(0);
            return -1;
        }
        const int error = errno;
        if (error == EINTR) continue;
        if (error == EAGAIN) return 0;
        last_errno_ = error;
        last_error_ = PlatformErrorFromErrno(error);
        // EBADF: the descriptor was closed under the thread, the normal end of a close. Anything
        // else on a terminal that was readable a moment ago means the device is gone (EIO after a
        // hang-up or a USB removal, ENXIO/ENODEV when the driver let go of it).
        if (error != EBADF) MarkDeviceLost(error);
        return -1;
    }
}

int32_t TNlkPosixDispatcher::SendOutputRing() {
    for (;;) {
        std::vector<uint8_t> block;
        {
            std::lock_guard output(output_lock_);
            const uint32_t size = static_cast<uint32_t>(out_ring_.size());
            const uint32_t count =
                size == 0 ? 0 : (out_full_ ? size : (out_write_ + size - out_read_) % size);
            if (count == 0) return 0;
            block.reserve(count);
            for (uint32_t i = 0; i < count; ++i) block.push_back(out_ring_[(out_read_ + i) % size]);
            out_write_ = out_read_ = 0;
            out_full_ = false;
        }
        size_t sent = 0;
        while (sent < block.size()) {
            const ssize_t n = calls_.Write(device_.get(), block.data() + sent, block.size() - sent);
            if (n > 0) {
                sent += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN) {
                last_error_ = PlatformErrorFromErrno(errno);
                return -160;
            }
            // The device is not ready: wait in slices for room or a flush.
            for (;;) {
                if (kill_threads_ || (threads_[static_cast<int>(PortThread::Write)] &&
                                      threads_[static_cast<int>(PortThread::Write)]->Terminated())) {
                    last_error_ = kErrorOperationAborted;
                    return -160;
                }
                pollfd fds[2] = {{device_.get(), POLLOUT, 0}, {output_flush_.fd(), POLLIN, 0}};
                const int ready = calls_.Poll(fds, 2, kWaitSliceMs);
                if (ready < 0 && errno != EINTR) {
                    last_error_ = PlatformErrorFromErrno(errno);
                    return -160;
                }
                if (ready > 0 && (fds[1].revents & POLLIN) && output_flush_.Consume()) {
                    AcknowledgeThread();  // a flush drops the rest of the block
                    return 0;
                }
                if (ready > 0 && (fds[0].revents & POLLOUT)) break;
                if (ready > 0 && (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL))) {
                    last_error_ = kErrorDeviceWrite;
                    return -160;
                }
            }
        }
    }
}

}  // namespace linograf::serial
