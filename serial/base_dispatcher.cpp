#include "serial/base_dispatcher.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "serial/dispatcher_table.h"
#include "serial/platform_error.h"
#include "serial/trace_log_types.h"

namespace linograf::serial {

namespace {
constexpr uint32_t Wrap(uint64_t index) {
    return static_cast<uint32_t>(index % kReceiveRingSize);
}
}  // namespace

TNlkBaseDispatcher::TNlkBaseDispatcher(GuiThread& gui, const ErrorOwner* owner) : gui_(gui), owner_(owner) {
    handle_ = DispatcherTable::Instance().Enter(this);
}

TNlkBaseDispatcher::~TNlkBaseDispatcher() {
    // The platform class runs Destroy() while its overrides still exist; this only makes sure
    // the table never keeps a dangling entry.
    if (handle_ >= 0) DispatcherTable::Instance().Leave(handle_);
}

// ---------------------------------------------------------------- open and shutdown

int32_t TNlkBaseDispatcher::OpenDevice(const std::string& device_name, int32_t baud, uint8_t parity,
                                       uint8_t data_bits, uint8_t stop_bits, uint32_t in_size,
                                       uint32_t out_size, uint32_t line_flags) {
    {
        std::lock_guard state(state_lock_);
        ring_indicator_ = false;
        handlers_removed_ = false;
    }
    {
        std::lock_guard receive(receive_lock_);
        std::lock_guard output(output_lock_);
        ring_.clear();
        out_ring_.clear();
    }
    in_dispatch_ = false;
    close_requested_ = false;
    stop_reading_ = false;
    device_lost_ = false;
    lost_errno_ = 0;
    {
        std::lock_guard state(state_lock_);
        loss_unreported_ = false;
    }
    device_name_ = device_name;
    open_line_flags_ = line_flags;
    CreateEvents();

    if (OpenPort(device_name) < 0) {
        const int error = last_error_.load();
        const int32_t code =
            error == kErrorNotEnoughMemory ? ecOutOfMemory : -(error != 0 ? error : kErrorGeneralFailure);
        ShutdownDevice();
        return code;
    }
    if (const int32_t code = SetQueueSizes(in_size, out_size); code != 0) {
        ShutdownDevice();
        return code;
    }
    {
        // Lock order everywhere: receive, state, output (the status read takes the output lock
        // under the state lock).
        std::lock_guard receive(receive_lock_);
        std::lock_guard state(state_lock_);
        std::lock_guard output(output_lock_);
        ring_.assign(kReceiveRingSize, 0);
        out_ring_.assign(std::max<uint32_t>(out_size, 1), 0);
        write_index_ = read_index_ = 0;
        ring_full_ = false;
        out_write_ = out_read_ = 0;
        out_full_ = false;
        in_size_ = in_size;
        out_size_ = out_size;
        line_errors_ = 0;
        output_sent_ = false;
        close_pending_ = false;
        get_count_ = 0;
        rs485_ = false;
        uart_base_ = 0;
        written_total_ = notified_total_ = 0;
    }
    {
        std::lock_guard state(state_lock_);
        ReadControlBlock();
        dtr_state_ = (line_flags & lfDtrOn) != 0;
        rts_state_ = (line_flags & lfRtsOn) != 0;
        dtr_flow_ = (line_flags & lfDtrFlow) != 0;
        rts_flow_ = (line_flags & lfRtsFlow) != 0;
    }
    if (!dtr_flow_) SetDtrLine(dtr_state_);
    if (!rts_flow_) SetRtsLine(rts_state_);
    {
        std::lock_guard receive(receive_lock_);
        std::lock_guard state(state_lock_);
        ClearAllTriggers();
        write_index_ = read_index_ = 0;
        status_hit_ = false;
        in_avail_message_ = false;
        modem_status_ = 0;
    }
    RefreshModemStatus(0xF0);
    last_baud_ = 115200;
    if (const int32_t code = ApplyLineSettings(baud, parity, data_bits, stop_bits); code != 0) {
        ShutdownDevice();
        return code;
    }
    ReadLineErrors();
    StopTrace();
    StopLog();
    open_time_ = TimeGetTime();
    StartThreads();
    return 0;
}

void TNlkBaseDispatcher::ShutdownDevice() {
    if (DeviceOpen()) {
        FlushOutput();
        FlushInput();
        ClosePort();
    }
    if (in_dispatch_) {
        close_pending_ = true;
        return;
    }
    ReleaseBuffers();
}

uint64_t TNlkBaseDispatcher::StopReading(std::chrono::milliseconds idle_limit) {
    if (stop_reading_.exchange(true) || !threads_started_) return UndeliveredBytes();
    WakeReadThread();
    // The handlers run on this thread: its pending work is pumped while the dispatcher thread
    // moves the queued bytes into the ring and delivers them.
    auto wait_slice = [this] {
        if (gui_.IsGuiThread()) gui_.PumpPending();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    while (ThreadAlive(PortThread::Read)) wait_slice();
    uint64_t left = UndeliveredBytes();
    auto last_progress = std::chrono::steady_clock::now();
    while (left > 0 && ThreadAlive(PortThread::Dispatcher) &&
           std::chrono::steady_clock::now() - last_progress < idle_limit) {
        WakeDispatcherThread();
        wait_slice();
        const uint64_t now = UndeliveredBytes();
        if (now < left) last_progress = std::chrono::steady_clock::now();
        left = now;
    }
    // A delivery that has taken its bytes completes when its handler returns: wait for that
    // handler, so that the bytes it took count as delivered before the close.
    while ((InDispatch() || DeliveryLate()) && ThreadAlive(PortThread::Dispatcher) &&
           std::chrono::steady_clock::now() - last_progress < idle_limit)
        wait_slice();
    return UndeliveredBytes();
}

uint64_t TNlkBaseDispatcher::UndeliveredBytes() const {
    uint64_t bytes = input_queue_.BytesQueued();
    std::lock_guard receive(receive_lock_);
    if (!ring_.empty()) bytes += UnreadCount();
    return bytes;
}

void TNlkBaseDispatcher::ReleaseBuffers() {
    release_at_dispatcher_end_ = false;
    if (threads_started_) StopPort();
    std::lock_guard receive(receive_lock_);
    std::lock_guard state(state_lock_);
    std::lock_guard output(output_lock_);
    std::vector<uint8_t>().swap(ring_);
    std::vector<uint8_t>().swap(out_ring_);
}

int32_t TNlkBaseDispatcher::SetQueueSizes(uint32_t in_size, uint32_t out_size) {
    if (RequestQueueSizes(in_size, out_size)) return 0;
    return -(last_error_.load() != 0 ? last_error_.load() : kErrorGeneralFailure);
}

void TNlkBaseDispatcher::Destroy() {
    if (destroyed_) return;
    destroyed_ = true;
    if (close_pending_) {
        ReleaseBuffers();
    } else {
        ShutdownDevice();
    }
    while (running_threads_.load() > 0) {
        if (gui_.IsGuiThread()) gui_.PumpPending();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    JoinThreads();
    {
        std::lock_guard table(DispatcherTable::Instance().Lock());
        DispatcherTable::Instance().Leave(handle_);
        handle_ = -1;
    }
    StopTrace();
    StopLog();
}

// ---------------------------------------------------------------- the device going away

void TNlkBaseDispatcher::MarkDeviceLost(int error) {
    bool expected = false;
    if (device_lost_.compare_exchange_strong(expected, true)) lost_errno_ = error;
}

std::string TNlkBaseDispatcher::DeviceLostReason() const {
    const int error = lost_errno_.load();
    if (error == 0) return "the device hung up";
    char buffer[256];
    return CleanSystemMessage(strerror_r(error, buffer, sizeof buffer));  // GNU variant
}

void TNlkBaseDispatcher::DeliverInputAfterLoss() {
    // The handler normally takes everything it is given; one that stops taking bytes (or a ring
    // that stays full) ends the hand-over after about three seconds without progress.
    int idle_passes = 0;
    size_t items = input_queue_.Count();
    uint64_t bytes = input_queue_.BytesQueued();
    while (!close_requested_ && !close_pending_ && idle_passes < 60) {
        if (LateDeliveryPending()) {
            WaitForLateDelivery(std::chrono::milliseconds(50));
            continue;
        }
        ProcessInput();
        if (input_queue_.Count() == 0) break;
        WaitForRoom(std::chrono::milliseconds(50));
        const size_t items_now = input_queue_.Count();
        const uint64_t bytes_now = input_queue_.BytesQueued();
        idle_passes = (items_now < items || bytes_now < bytes) ? 0 : idle_passes + 1;
        items = items_now;
        bytes = bytes_now;
    }
}

void TNlkBaseDispatcher::ReportDeviceLost() {
    std::function<void()> callback;
    {
        std::lock_guard state(state_lock_);
        if (on_device_lost_) {
            callback = on_device_lost_;
        } else {
            loss_unreported_ = true;
        }
    }
    if (callback) callback();
}

void TNlkBaseDispatcher::SetOnDeviceLost(std::function<void()> callback) {
    std::function<void()> now;
    {
        std::lock_guard state(state_lock_);
        on_device_lost_ = std::move(callback);
        if (loss_unreported_ && on_device_lost_) {
            loss_unreported_ = false;
            now = on_device_lost_;
        }
    }
    if (now) now();
}

// ---------------------------------------------------------------- thread reports

void TNlkBaseDispatcher::ThreadStarted() {
    running_threads_.fetch_add(1);
    AcknowledgeThread();
}

void TNlkBaseDispatcher::ThreadEnded(PortThread which, int32_t return_value) {
    if (return_value == -161 || return_value == -160) {
        {
            std::lock_guard state(state_lock_);
            line_errors_ = -1;
        }
        CheckStatusTriggers();
    } else if (return_value != 0) {
        try {
            CheckError(owner_, return_value);
        } catch (const std::exception& error) {
            gui_.ShowError(error.what());
        }
    }
    thread_alive_[static_cast<int>(which)] = false;
    if (which == PortThread::Dispatcher && release_at_dispatcher_end_) ReleaseBuffers();
    if (running_threads_.fetch_sub(1) == 1) threads_started_ = false;
}

// ---------------------------------------------------------------- receive path

uint32_t TNlkBaseDispatcher::UnreadCount() const {
    if (ring_full_) return kReceiveRingSize;
    return Wrap(uint64_t{write_index_} + kReceiveRingSize - read_index_);
}

uint32_t TNlkBaseDispatcher::InputWaiting() {
    return 0;
}

void TNlkBaseDispatcher::ProcessInput() {
    uint32_t mask = 0;
    if (TIOBuffer* item = input_queue_.Peek()) {
        if (auto* status = dynamic_cast<TStatusBuffer*>(item)) {
            mask = status->mask;
            input_queue_.Pop();
        } else {
            input_queue_.Release(item);
        }
    }
    bool any_status_fired = false;
    auto check_status = [&] {
        if (in_dispatch_) return;
        while (!close_pending_ && CheckStatusTriggers()) any_status_fired = true;
    };
    if (mask & (evRing | evRing2)) {
        std::lock_guard state(state_lock_);
        ring_indicator_ = true;
    }
    if (mask & (evCts | evDsr | evRlsd | evRing | evRing2)) {
        UpdateModemStatusWithChanges();
        check_status();
    }
    if (mask & (evBreak | evErr)) {
        ReadLineErrors();
        check_status();
    }
    if (any_status_fired) RearmStatusTriggers();

    FillReceiveRing();

    if (!in_dispatch_) {
        UpdateModemStatusWithChanges();
        check_status();
        while (!close_pending_ && CheckDataAndAvailTriggers()) {
        }
    }
    if (any_status_fired) RearmStatusTriggers();
}

void TNlkBaseDispatcher::FillReceiveRing() {
    std::lock_guard receive(receive_lock_);
    if (ring_.empty()) return;  // released
    if (ring_full_) {
        static constexpr char kFull[] = "Dispatch buffer full.";
        AddLogEntry(ltDispatch, lsStatus, reinterpret_cast<const uint8_t*>(kFull), sizeof kFull - 1, 0);
        return;
    }
    const uint32_t waiting = InputWaiting();
    {
        std::lock_guard state(state_lock_);
        status_.in_queue = waiting;
    }
    if (waiting == 0) return;
    const bool empty = write_index_ == read_index_;
    const uint32_t free_space =
        empty ? kReceiveRingSize : Wrap(uint64_t{read_index_} + kReceiveRingSize - write_index_);
    const uint32_t contiguous =
        read_index_ > write_index_ ? read_index_ - write_index_ : kReceiveRingSize - write_index_;
    const uint32_t wanted = std::min(free_space, waiting);
    uint32_t second = wanted > contiguous ? wanted - contiguous : 0;

    auto read_chunk = [&](uint32_t length) {
        const uint32_t got = ReadInput(ring_.data() + write_index_, length);
        AddLogEntry(ltDispatch, lsReadCom, ring_.data() + write_index_, got, got);
        write_index_ = Wrap(uint64_t{write_index_} + got);
        if (got > 0) ring_full_ = write_index_ == read_index_;
        written_total_ += got;
        return got;
    };
    if (read_chunk(contiguous) < contiguous) second = 0;
    if (second > 0) read_chunk(second);
}

bool TNlkBaseDispatcher::CheckDataAndAvailTriggers() {
    uint32_t count = 0;
    {
        std::lock_guard receive(receive_lock_);
        // No data trigger is ever registered, so the scan only has to reach the write index.
        scan_position_ = write_index_;
        if (avail_threshold_ == 0 || notified_total_ == written_total_) return false;
        count = UnreadCount() - (in_avail_message_ ? get_count_ : 0);
        if (count < avail_threshold_) return false;
        notify_position_ = scan_position_;
        notified_total_ = written_total_;
    }
    AddLogEntry(ltTrigger, lsAvail, nullptr, 0, count);
    return DispatchTrigger(MsgTriggerAvail, count, 0);
}

bool TNlkBaseDispatcher::CheckStatusTriggers() {
    std::lock_guard state(state_lock_);
    for (auto& trigger : status_triggers_) {
        if (!trigger.active || trigger.hit) continue;
        // No operation of this system registers a status trigger; an entry restored from a saved
        // record never fires on its own.
    }
    return false;
}

bool TNlkBaseDispatcher::CheckTimerTriggers() {
    uint16_t handle = 0;
    {
        std::lock_guard state(state_lock_);
        const uint32_t now = CurrentTick();
        auto it = std::find_if(timer_triggers_.begin(), timer_triggers_.end(), [&](const TTimerTrigger& t) {
            return t.active && TimerExpired(t.timer, now);
        });
        if (it == timer_triggers_.end()) return false;
        it->active = false;
        handle = it->handle;
    }
    AddLogEntry(ltTrigger, lsTimer, nullptr, 0, handle);
    // The delivery waits for the GUI thread, so it runs without the state lock.
    return DispatchTrigger(MsgTriggerTimer, handle, 0);
}

void TNlkBaseDispatcher::RearmStatusTriggers() {
    std::lock_guard state(state_lock_);
    for (auto& trigger : status_triggers_) trigger.hit = false;
    status_hit_ = false;
}

void TNlkBaseDispatcher::CheckTimersAndStatus() {
    if (close_pending_ || in_dispatch_) return;
    bool fired = false;
    for (;;) {
        const bool status = CheckStatusTriggers();
        const bool timer = !close_pending_ && CheckTimerTriggers();
        if (!(status || timer) || close_pending_ || in_dispatch_) break;
        fired = true;
    }
    if (fired || status_hit_) RearmStatusTriggers();
}

// ---------------------------------------------------------------- delivery

bool TNlkBaseDispatcher::DispatchTrigger(uint32_t msg, uint32_t w_param, uint16_t l_param_low) {
    if (!handler_service_needed_) return true;
    {
        std::lock_guard state(state_lock_);
        in_dispatch_ = true;
    }
    {
        std::lock_guard receive(receive_lock_);
        max_get_count_ = 0;
        in_avail_message_ = msg == MsgTriggerAvail || msg == MsgTriggerData;
    }
    const int32_t l_param = static_cast<int32_t>((static_cast<uint32_t>(handle_) << 16) | l_param_low);
    bool stopped = false;

    bool serve_windows;
    {
        std::lock_guard state(state_lock_);
        serve_windows = window_handlers_.size() > 1 || port_handler_installed_;
    }
    for (size_t i = 0; serve_windows; ++i) {
        WindowHandler entry;
        {
            std::lock_guard state(state_lock_);
            if (i >= window_handlers_.size()) break;
            entry = window_handlers_[i];
        }
        if (entry.removed) continue;
        {
            std::lock_guard receive(receive_lock_);
            get_count_ = 0;
        }
        std::shared_ptr<GuiCall> late;
        const auto outcome = gui_.SendAndWait(
            [this, window = entry.window, msg, w_param, l_param] {
                struct Depth {
                    std::atomic<int>& depth;
                    explicit Depth(std::atomic<int>& d) : depth(d) { ++depth; }
                    ~Depth() { --depth; }
                } depth(handler_depth_);
                window->TriggerMessage(msg, w_param, l_param);
            },
            delivery_timeout_.load(), &late);
        if (outcome == GuiThread::SendResult::StillRunning) {
            // The handler outlived its wait. It still reads the ring through the get count, so the
            // ring is not advanced and no other delivery starts until it returns; the dispatcher
            // thread meanwhile keeps moving input into the ring (LateDeliveryPending).
            late_ = std::make_unique<LateDelivery>(LateDelivery{std::move(late), msg, w_param});
            late_flag_ = true;
            return false;
        }
        if (close_pending_) {
            stopped = true;
            break;
        }
        std::lock_guard receive(receive_lock_);
        if (outcome == GuiThread::SendResult::Handled) max_get_count_ = std::max(max_get_count_, get_count_);
    }
    bool result = true;
    FinishDelivery(msg, w_param, stopped, &result);
    return !stopped && result;
}

void TNlkBaseDispatcher::FinishDelivery(uint32_t msg, uint32_t w_param, bool stopped_early, bool* result) {
    {
        std::lock_guard receive(receive_lock_);
        if (in_avail_message_ && !stopped_early && !ring_.empty()) {
            read_index_ = Wrap(uint64_t{read_index_} + max_get_count_);
            if (max_get_count_ != 0) {
                ring_full_ = false;
                room_.Set();
            }
            if (msg == MsgTriggerAvail && max_get_count_ != w_param) *result = false;
        }
        in_avail_message_ = false;
        get_count_ = 0;
    }
    std::lock_guard state(state_lock_);
    in_dispatch_ = false;
    if (handlers_removed_) {
        std::erase_if(window_handlers_, [](const WindowHandler& h) { return h.removed; });
        handlers_removed_ = false;
        RecomputeHandlerFlags(PortHandlerKind::Keep);
    }
}

bool TNlkBaseDispatcher::LateDeliveryPending() {
    if (!late_) return false;
    if (late_->call->state() != GuiCall::State::Finished) return true;
    {
        std::lock_guard receive(receive_lock_);
        max_get_count_ = std::max(max_get_count_, get_count_);
    }
    bool result = true;
    FinishDelivery(late_->msg, late_->w_param, close_pending_, &result);
    late_.reset();
    late_flag_ = false;
    return false;
}

void TNlkBaseDispatcher::WaitForRoom(std::chrono::milliseconds timeout) {
    room_.Consume();
    if (RingFull()) room_.Wait(timeout);
}

bool TNlkBaseDispatcher::WaitForLateDelivery(std::chrono::milliseconds timeout) {
    if (!late_) return true;
    late_->call->WaitFinished(timeout);
    return !LateDeliveryPending();
}

// ---------------------------------------------------------------- reading

int32_t TNlkBaseDispatcher::PeekAt(uint32_t n, uint8_t& byte) {
    std::lock_guard receive(receive_lock_);
    if (ring_.empty() || n == 0 || n > UnreadCount()) return ecBufferIsEmpty;
    byte = ring_[Wrap(uint64_t{read_index_} + n - 1)];
    return 0;
}

int32_t TNlkBaseDispatcher::GetChar(uint8_t& byte) {
    {
        // The handlers take every byte through here, so it takes the receive lock once and reads
        // the ring directly rather than through PeekAt.
        std::lock_guard receive(receive_lock_);
        if (ring_.empty()) return ecBufferIsEmpty;
        const uint32_t unread = UnreadCount();
        if (in_avail_message_) {
            if (get_count_ >= unread) return ecBufferIsEmpty;
            byte = ring_[Wrap(uint64_t{read_index_} + get_count_)];
            ++get_count_;
        } else {
            if (unread == 0) return ecBufferIsEmpty;
            byte = ring_[read_index_];
            read_index_ = Wrap(uint64_t{read_index_} + 1);
            if (ring_full_) {
                ring_full_ = false;
                room_.Set();  // the dispatcher thread waits for room only while the ring is full
            }
        }
    }
    // The trace is started, stopped and dumped only by the operations of the GUI thread, which is
    // also the one reading here, so its absence can be seen without the state lock; with tracing
    // off (the usual case) the byte costs one lock instead of two.
    if (trace_) AddTraceEntry('R', byte);
    return 0;
}

uint32_t TNlkBaseDispatcher::BytesAvailable() {
    std::lock_guard receive(receive_lock_);
    if (ring_.empty()) return 0;
    const uint32_t unread = UnreadCount();
    const uint32_t taken = in_avail_message_ ? get_count_ : 0;
    return unread > taken ? unread - taken : 0;
}

void TNlkBaseDispatcher::FlushInput() {
    std::lock_guard receive(receive_lock_);
    FlushPort(1);
    if (in_avail_message_) {
        max_get_count_ = UnreadCount();
    } else {
        read_index_ = write_index_;
        get_count_ = 0;
    }
    ring_full_ = false;
    room_.Set();
    std::lock_guard state(state_lock_);
    for (auto& trigger : data_triggers_) trigger.matched = false;
}

void TNlkBaseDispatcher::FlushOutput() {
    FlushPort(0);
}

// ---------------------------------------------------------------- handlers and triggers

void TNlkBaseDispatcher::SetAvailThreshold(uint16_t n) {
    std::lock_guard state(state_lock_);
    avail_threshold_ = n;
    AddLogEntry(ltTrDatChg, lsAvailChange, nullptr, 0, n);
}

uint16_t TNlkBaseDispatcher::AvailThreshold() const {
    std::lock_guard state(state_lock_);
    return avail_threshold_;
}

void TNlkBaseDispatcher::ClearAllTriggers() {
    std::lock_guard state(state_lock_);
    avail_threshold_ = 0;
    timer_triggers_.clear();
    data_triggers_.clear();
    status_triggers_.clear();
    next_trigger_handle_ = 1;
    scan_position_ = notify_position_ = 0;
}

void TNlkBaseDispatcher::AddTriggerWindow(TriggerWindow* window) {
    std::lock_guard state(state_lock_);
    window_handlers_.push_back({window, false});
    handler_service_needed_ = true;
    AddLogEntry(ltTrgHdAlc, lsWindow, nullptr, 0, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window)));
}

void TNlkBaseDispatcher::RemoveTriggerWindow(TriggerWindow* window) {
    std::lock_guard state(state_lock_);
    auto it = std::find_if(window_handlers_.begin(), window_handlers_.end(),
                           [&](const WindowHandler& h) { return h.window == window && !h.removed; });
    if (it == window_handlers_.end()) return;
    AddLogEntry(ltTrgHdDsp, lsWindow, nullptr, 0, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window)));
    if (in_dispatch_) {
        it->removed = true;
        handlers_removed_ = true;
    } else {
        window_handlers_.erase(it);
    }
}

size_t TNlkBaseDispatcher::TriggerWindowCount() const {
    std::lock_guard state(state_lock_);
    return static_cast<size_t>(std::count_if(window_handlers_.begin(), window_handlers_.end(),
                                             [](const WindowHandler& h) { return !h.removed; }));
}

void TNlkBaseDispatcher::RecomputeHandlerFlags(PortHandlerKind kind) {
    const bool others = window_handlers_.size() > 1;  // the procedure and event lists stay empty
    switch (kind) {
        case PortHandlerKind::Keep:
            handler_service_needed_ = others || port_handler_installed_;
            break;
        case PortHandlerKind::Installed:
            port_handler_installed_ = true;
            handler_service_needed_ = true;
            break;
        case PortHandlerKind::Removed:
            port_handler_installed_ = false;
            handler_service_needed_ = others;
            break;
    }
}

void TNlkBaseDispatcher::SetPortHandler(PortHandlerKind kind) {
    std::lock_guard state(state_lock_);
    RecomputeHandlerFlags(kind);
}

void TNlkBaseDispatcher::SaveTriggers(TTriggerSave& record) {
    std::lock_guard state(state_lock_);
    record.avail_threshold = avail_threshold_;
    record.timer_triggers = timer_triggers_;
    record.data_triggers = data_triggers_;
    record.status_triggers = status_triggers_;
}

void TNlkBaseDispatcher::RestoreTriggers(const TTriggerSave& record) {
    std::lock_guard state(state_lock_);
    avail_threshold_ = record.avail_threshold;
    timer_triggers_ = record.timer_triggers;
    data_triggers_ = record.data_triggers;
    status_triggers_ = record.status_triggers;
}

void TNlkBaseDispatcher::SetRs485(bool on) {
    std::lock_guard state(state_lock_);
    rs485_ = on;
}

// ---------------------------------------------------------------- state

int32_t TNlkBaseDispatcher::LineErrors() const {
    std::lock_guard state(state_lock_);
    return line_errors_;
}

uint8_t TNlkBaseDispatcher::ModemStatus() const {
    std::lock_guard state(state_lock_);
    return modem_status_;
}

TDcb TNlkBaseDispatcher::ControlBlock() const {
    std::lock_guard state(state_lock_);
    return dcb_;
}

uint32_t TNlkBaseDispatcher::ReadIndex() const {
    std::lock_guard receive(receive_lock_);
    return read_index_;
}

uint32_t TNlkBaseDispatcher::WriteIndex() const {
    std::lock_guard receive(receive_lock_);
    return write_index_;
}

bool TNlkBaseDispatcher::RingFull() const {
    std::lock_guard receive(receive_lock_);
    return ring_full_;
}

bool TNlkBaseDispatcher::BuffersAllocated() const {
    std::lock_guard receive(receive_lock_);
    return !ring_.empty();
}

}  // namespace linograf::serial
