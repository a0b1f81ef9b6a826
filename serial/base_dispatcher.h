#pragma once
// The platform-neutral core behind one open port: the 8192-byte receive ring, the output ring,
// the control-block copy, the triggers and their handlers, tracing and logging. The dispatcher
// thread moves received bytes from the port threads into the ring and hands each fired trigger
// to the GUI thread, waiting a bounded time for it. The device is reached only through the
// virtual operations, which the platform class implements (serial/posix_dispatcher.h).
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "serial/control_block.h"
#include "serial/gui_thread.h"
#include "serial/io_queue.h"
#include "serial/port_errors.h"
#include "serial/tick_timer.h"
#include "serial/unique_fd.h"

namespace linograf::serial {

// Trigger messages; the high 16 bits of lParam carry the dispatcher's handle.
inline constexpr uint32_t MsgTriggerAvail = 32257;
inline constexpr uint32_t MsgTriggerData = 32258;
inline constexpr uint32_t MsgTriggerTimer = 32259;
inline constexpr uint32_t MsgTriggerStatus = 32260;
inline constexpr uint32_t MsgDeferredClose = 32266;
// The device went away under the open port (hang-up, EIO, ENXIO); posted once the bytes read
// before the loss have been delivered.
inline constexpr uint32_t MsgDeviceLost = 32267;

inline constexpr uint32_t kReceiveRingSize = 8192;
inline constexpr std::chrono::milliseconds kDeliveryTimeout{3000};

// OpenDevice's line flags.
inline constexpr uint32_t lfDtrOn = 1, lfRtsOn = 2, lfDtrFlow = 16, lfRtsFlow = 32;

// Where trigger messages go: the component's hidden window. Called on the GUI thread.
class TriggerWindow {
  public:
    virtual ~TriggerWindow() = default;
    virtual void TriggerMessage(uint32_t msg, uint32_t w_param, int32_t l_param) = 0;
};

// Trigger kinds this system never registers; the lists exist, are scanned, saved and restored,
// but stay empty.
struct TTimerTrigger {
    uint16_t handle = 0;
    bool active = false;
    TickTimer timer;
};
struct TDataTrigger {
    uint16_t handle = 0;
    bool active = false;
    bool matched = false;
    std::vector<uint8_t> pattern;
};
struct TStatusTrigger {
    uint16_t handle = 0;
    uint8_t kind = 0;
    bool active = false;
    bool hit = false;
};

struct TTriggerSave {
    uint16_t avail_threshold = 0;
    std::vector<TTimerTrigger> timer_triggers;
    std::vector<TDataTrigger> data_triggers;
    std::vector<TStatusTrigger> status_triggers;
};

enum class PortHandlerKind { Keep = 0, Installed = 1, Removed = 2 };
enum class PortThread { Read = 0, Dispatcher = 1, Write = 2, Status = 3 };

class TNlkBaseDispatcher {
  public:
    TNlkBaseDispatcher(GuiThread& gui, const ErrorOwner* owner);
    virtual ~TNlkBaseDispatcher();
    TNlkBaseDispatcher(const TNlkBaseDispatcher&) = delete;
    TNlkBaseDispatcher& operator=(const TNlkBaseDispatcher&) = delete;

    // ---- GUI thread ----
    int32_t OpenDevice(const std::string& device_name, int32_t baud, uint8_t parity, uint8_t data_bits,
                       uint8_t stop_bits, uint32_t in_size, uint32_t out_size, uint32_t line_flags);
    void ShutdownDevice();
    // Stops taking bytes from the device and hands every byte already taken to the handlers
    // before it returns, pumping the GUI thread's pending work meanwhile; the port stays open.
    // Bytes still in the kernel's buffer are left there (a close discards them). Ends early when a
    // handler stops taking bytes for `idle_limit`; returns the bytes then left undelivered.
    uint64_t StopReading(std::chrono::milliseconds idle_limit = kDeliveryTimeout);
    bool ReadingStopped() const { return stop_reading_.load(); }
    int32_t SetQueueSizes(uint32_t in_size, uint32_t out_size);

    // Line settings and flow control (serial/line_settings.cpp).
    int32_t ApplyLineSettings(int32_t baud, uint8_t parity, uint8_t data_bits, uint8_t stop_bits);
    int32_t SetHardwareFlow(uint32_t full, uint32_t resume, uint32_t options);
    int32_t SetSoftwareFlow(uint32_t full, uint32_t resume, uint32_t directions);
    int32_t ClearSoftwareFlow();
    int32_t SetFlowChars(uint8_t xon, uint8_t xoff);
    int32_t SetDtrLine(bool on);
    int32_t SetRtsLine(bool on);
    uint8_t RefreshModemStatus(uint8_t mask);
    void ReadLineErrors();
    int32_t LineErrorQuery();
    bool BreakQuery();
    // The 18-character wait after the output drained, in milliseconds, for a block and the last
    // baud written (legacy rate codes translated).
    static uint32_t CharacterWaitMs(const TDcb& dcb, uint32_t last_baud);

    void SetAvailThreshold(uint16_t n);
    void AddTriggerWindow(TriggerWindow* window);
    void RemoveTriggerWindow(TriggerWindow* window);
    virtual void SetPortHandler(PortHandlerKind kind);
    void SaveTriggers(TTriggerSave& record);
    void RestoreTriggers(const TTriggerSave& record);

    int32_t GetChar(uint8_t& byte);
    int32_t PeekAt(uint32_t n, uint8_t& byte);
    uint32_t BytesAvailable();
    void FlushInput();
    void FlushOutput();
    void SetRs485(bool on);

    // Tracing and logging (serial/trace_log.cpp).
    int32_t StartTrace(uint32_t capacity);
    void StopTrace();
    void ClearTrace();
    void PauseTrace();
    void ResumeTrace();
    int32_t WriteTrace(const std::string& file_name, bool in_hex, bool all_hex, bool append);
    void AddTraceEntry(char kind, uint8_t byte);
    void StartLog(uint32_t limit);
    void StopLog();
    void ClearLog();
    void PauseLog();
    void ResumeLog();
    int32_t WriteLog(const std::string& file_name, bool in_hex, bool all_hex, bool append);
    void AddLogEntry(uint8_t type, uint16_t subtype, const uint8_t* data, uint32_t length, uint32_t other);
    bool Tracing() const;
    bool Logging() const;

    // ---- port threads ----
    void ThreadStarted();
    void ThreadEnded(PortThread which, int32_t return_value);
    // One pass of the dispatcher thread.
    void ProcessInput();
    // The timer and status checks after each pass.
    void CheckTimersAndStatus();
    // Completes a delivery whose handler outlived its wait once the handler has returned; true
    // while such a handler still runs (the dispatcher thread then only fills the ring).
    bool LateDeliveryPending();
    // While the ring is full: waits at most `timeout` for a reader to make room, so a full ring
    // does not keep the dispatcher thread spinning over a non-empty input queue.
    void WaitForRoom(std::chrono::milliseconds timeout);
    // Waits at most `timeout` for such a handler; true when none is pending any more.
    bool WaitForLateDelivery(std::chrono::milliseconds timeout);

    // ---- the device going away ----
    // Called once, on a port thread, after the threads stopped because the device vanished and
    // after every byte read before that was handed over. A loss that happened before a callback
    // was set is reported to the callback as soon as it is set.
    void SetOnDeviceLost(std::function<void()> callback);
    bool DeviceLost() const { return device_lost_.load(); }
    // What the platform said when the device went away: the errno text, or "hang-up".
    std::string DeviceLostReason() const;
    // The errno behind LastError() when it came from a device call (0 when there is none).
    int LastErrno() const { return last_errno_.load(); }

    // ---- state, for the component and for diagnosis ----
    int Handle() const { return handle_; }
    const ErrorOwner* Owner() const { return owner_; }
    const std::string& DeviceName() const { return device_name_; }
    void SetDeviceName(const std::string& name) { device_name_ = name; }
    int32_t RunningThreadCount() const { return running_threads_.load(); }
    bool ThreadsStarted() const { return threads_started_.load(); }
    bool InDispatch() const { return in_dispatch_.load(); }
    bool ClosePending() const { return close_pending_.load(); }
    bool KillThreads() const { return kill_threads_.load(); }
    bool ThreadAlive(PortThread which) const { return thread_alive_[static_cast<int>(which)].load(); }
    int LastError() const { return last_error_.load(); }
    // A text naming the device and the cause when the last open failed for a reason the bare
    // platform text does not make clear (no permission); empty otherwise. See CheckOpenResult.
    std::string OpenFailureText() const {
        std::lock_guard state(state_lock_);
        return open_failure_text_;
    }
    int32_t LineErrors() const;
    uint8_t ModemStatus() const;
    TDcb ControlBlock() const;
    uint32_t InSize() const { return in_size_; }
    bool DtrState() const { return dtr_state_; }
    bool RtsState() const { return rts_state_; }
    bool DtrUnderFlow() const { return dtr_flow_; }
    bool RtsUnderFlow() const { return rts_flow_; }
    uint32_t LastBaud() const { return last_baud_; }
    uint16_t AvailThreshold() const;
    bool HandlerServiceNeeded() const { return handler_service_needed_; }
    uint32_t ReadIndex() const;
    uint32_t WriteIndex() const;
    bool RingFull() const;
    bool BuffersAllocated() const;
    size_t TriggerWindowCount() const;
    // May be changed while the port is open: the dispatcher thread reads it at every delivery.
    void SetDeliveryTimeout(std::chrono::milliseconds t) { delivery_timeout_.store(t); }
    // True while a trigger handler runs on the GUI thread.
    bool HandlerRunning() const { return handler_depth_.load() > 0; }
    // True while a handler that outlived its wait is still running.
    bool DeliveryLate() const { return late_flag_.load(); }
    GuiThread& Gui() { return gui_; }

  protected:
    // ---- virtual operations (the platform's unless noted) ----
    virtual int32_t EscapeLine(int code) = 0;
    virtual int32_t FlushPort(int which) = 0;
    virtual uint32_t ReadStatus() = 0;
    virtual void ReportReadFailure() {}
    virtual int32_t ReadControlBlock() = 0;
    virtual uint32_t ReadInput(uint8_t* destination, uint32_t length) = 0;
    virtual int32_t WriteControlBlock() = 0;
    virtual uint32_t PutOutput(const uint8_t* data, uint32_t length) = 0;
    virtual uint32_t ReadEventWord() { return 0; }
    virtual bool RequestQueueSizes(uint32_t in_size, uint32_t out_size) = 0;
    virtual void ReleaseBuffers();
    virtual void StartThreads() = 0;
    virtual void StopPort() = 0;
    virtual uint32_t OutputCount() = 0;
    virtual uint32_t InputWaiting();
    virtual int OpenPort(const std::string& name) = 0;
    virtual int32_t ClosePort() = 0;
    virtual void YieldProcessor() = 0;
    virtual void SetPriorityOffset(int offset) { priority_offset_ = offset; }
    // Modem lines as the status byte's bits 4-7 (0 where the device has none).
    virtual uint8_t ReadModemStatus() = 0;
    virtual bool DeviceOpen() const = 0;
    // Creates and frees the platform's events (before the open, after the stop).
    virtual void CreateEvents() {}
    // Signals thread-acknowledge (a port thread has started, or the write thread has flushed).
    virtual void AcknowledgeThread() = 0;
    // Joins the port threads that have ended (GUI thread, from Destroy).
    virtual void JoinThreads() {}
    // Ends the read thread's current wait, so that it sees StopReading's request at once.
    virtual void WakeReadThread() {}

    // A port thread found the device gone: `error` is the errno, 0 for a hang-up without one.
    void MarkDeviceLost(int error);
    // The dispatcher thread after a loss: moves what the read thread queued into the ring and
    // delivers it, so that nothing read before the loss is dropped, then reports the loss.
    void DeliverInputAfterLoss();
    void ReportDeviceLost();

    // The destruction sequence; the most-derived destructor calls it while its overrides exist.
    void Destroy();
    void ClearAllTriggers();
    // Ends the dispatcher thread's current wait (queue or room) at once.
    void WakeDispatcherThread() {
        input_queue_.Wake();
        room_.Set();
    }
    // Writes the control block after driving the DTR/RTS control bits from the line states.
    int32_t WriteControlBlockAndLines();
    bool ReleaseAtDispatcherEnd() const { return release_at_dispatcher_end_; }
    void SetReleaseAtDispatcherEnd(bool v) { release_at_dispatcher_end_ = v; }

    GuiThread& gui_;
    const ErrorOwner* owner_;
    int handle_ = -1;
    std::string device_name_;

    // Locks (all re-entrant): state, output, receive. Taken together only in the order receive,
    // state, output, each before the queues' own locks; DispatchTrigger never holds two at once.
    mutable std::recursive_mutex state_lock_;
    mutable std::recursive_mutex output_lock_;
    mutable std::recursive_mutex receive_lock_;
    TIOQueue input_queue_;

    // Receive ring (receive lock).
    std::vector<uint8_t> ring_;
    uint32_t write_index_ = 0;
    uint32_t read_index_ = 0;
    bool ring_full_ = false;
    bool in_avail_message_ = false;
    uint32_t get_count_ = 0;
    uint32_t max_get_count_ = 0;

    // Output ring (output lock).
    std::vector<uint8_t> out_ring_;
    uint32_t out_write_ = 0;
    uint32_t out_read_ = 0;
    bool out_full_ = false;

    // Device state (state lock).
    TDcb dcb_;
    TComStat status_;
    uint32_t last_baud_ = 115200;
    bool dtr_state_ = false, dtr_flow_ = false, rts_state_ = false, rts_flow_ = false;
    bool rs485_ = false;
    uint32_t in_size_ = 0, out_size_ = 0;
    uint8_t modem_status_ = 0;
    bool ring_indicator_ = false;
    int32_t line_errors_ = 0;
    uint32_t uart_base_ = 0;
    bool output_sent_ = false;

    std::atomic<bool> kill_threads_{false};
    std::atomic<bool> threads_started_{false};
    std::atomic<int32_t> running_threads_{0};
    std::array<std::atomic<bool>, 4> thread_alive_{};
    std::atomic<bool> close_in_progress_{false};
    std::atomic<int> last_error_{0};
    std::atomic<int> last_errno_{0};
    uint32_t open_line_flags_ = lfDtrOn | lfRtsOn;  // OpenDevice's line flags, for OpenPort
    // Set by a close the component asked for, before the threads are told to stop: such a stop
    // is no loss, and its queued bytes are not delivered to a port that is closing.
    std::atomic<bool> close_requested_{false};
    // Set by StopReading: the read thread ends after queueing what it has read; the other threads
    // go on, so that the queued bytes still reach the handlers.
    std::atomic<bool> stop_reading_{false};
    std::atomic<bool> device_lost_{false};
    std::atomic<int> lost_errno_{0};
    std::string open_failure_text_;  // state lock
    int priority_offset_ = 0;

  private:
    struct WindowHandler {
        TriggerWindow* window;
        bool removed;
    };

    void FillReceiveRing();
    uint32_t UnreadCount() const;  // receive lock held
    // Bytes read from the device and not yet taken by a handler: queued, or in the ring.
    uint64_t UndeliveredBytes() const;
    bool CheckStatusTriggers();
    bool CheckTimerTriggers();
    bool CheckDataAndAvailTriggers();
    // Hands one trigger to the handlers; false when the caller should stop looking for triggers.
    bool DispatchTrigger(uint32_t msg, uint32_t w_param, uint16_t l_param_low);
    void FinishDelivery(uint32_t msg, uint32_t w_param, bool stopped_early, bool* result);
    void RearmStatusTriggers();
    // Refreshes the modem lines and records which of them changed in bits 0-3.
    void UpdateModemStatusWithChanges();
    void RecomputeHandlerFlags(PortHandlerKind kind);

    std::atomic<std::chrono::milliseconds> delivery_timeout_{kDeliveryTimeout};

    std::vector<WindowHandler> window_handlers_;
    std::vector<TTimerTrigger> timer_triggers_;
    std::vector<TDataTrigger> data_triggers_;
    std::vector<TStatusTrigger> status_triggers_;
    uint16_t next_trigger_handle_ = 1;
    bool port_handler_installed_ = false;
    std::atomic<bool> handler_service_needed_{false};
    uint16_t avail_threshold_ = 0;
    uint32_t scan_position_ = 0;
    uint32_t notify_position_ = 0;
    // Bytes ever written into the ring, and that count at the last data-available notification.
    // Ring positions alone cannot tell "no new bytes" from "exactly 8192 new bytes".
    uint64_t written_total_ = 0;
    uint64_t notified_total_ = 0;
    bool status_hit_ = false;

    std::atomic<bool> in_dispatch_{false};
    bool handlers_removed_ = false;
    std::atomic<bool> close_pending_{false};
    bool release_at_dispatcher_end_ = false;
    std::atomic<int> handler_depth_{0};

    // A delivery whose handler outlived its wait, completed once the handler returns.
    struct LateDelivery {
        std::shared_ptr<GuiCall> call;
        uint32_t msg = 0;
        uint32_t w_param = 0;
    };
    std::unique_ptr<LateDelivery> late_;  // dispatcher thread only
    std::atomic<bool> late_flag_{false};
    EventFd room_;
    std::function<void()> on_device_lost_;  // state lock
    bool loss_unreported_ = false;          // state lock  // set whenever the read index moves

    // Trace and dispatch log (state lock).
    struct Trace {
        bool recording = false;
        uint32_t capacity = 0;
        std::vector<uint8_t> entries;  // pairs of kind and byte
        uint32_t position = 0;
        bool wrapped = false;
    };
    struct Log {
        bool recording = false;
        uint32_t limit = 0;
        TIOQueue queue;
    };
    std::unique_ptr<Trace> trace_;
    std::unique_ptr<Log> log_;
    uint32_t open_time_ = 0;
    bool destroyed_ = false;
};

}  // namespace linograf::serial
