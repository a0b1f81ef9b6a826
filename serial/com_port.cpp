#include "serial/com_port.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <thread>

#include "serial/dispatcher_table.h"
#include "serial/open_result.h"
#include "serial/platform_error.h"
#include "serial/port_device_map.h"
#include "serial/posix_dispatcher.h"

namespace linograf::serial {

namespace {

constexpr uint32_t kMaxTraceSize = 4000000;
constexpr uint32_t kMaxLogSize = 16000000;

// Nearest whole number, halves to even, as the thresholds have always been rounded.
uint16_t RoundShare(uint16_t size, double share) {
    return static_cast<uint16_t>(std::nearbyint(size * share));
}

bool Recording(TTraceLogState s) {
    return s == tlOn || s == tlPause;
}

}  // namespace

// The component's private receiver of trigger messages on the GUI thread. The dispatcher and the
// deferred-close messages posted to the GUI thread hold it; once the component lets go of it
// (SetTriggerWindow(false) or destruction) a late message finds no component and is dropped.
class TNlkComPort::HiddenWindow final : public TriggerWindow,
                                        public std::enable_shared_from_this<HiddenWindow> {
  public:
    explicit HiddenWindow(TNlkComPort* port) : port_(port) {}
    void TriggerMessage(uint32_t msg, uint32_t w_param, int32_t l_param) override {
        if (port_ != nullptr) port_->WindowProc(msg, w_param, l_param);
    }
    // Posts a message to this window through the GUI thread's queue.
    void Post(GuiThread& gui, uint32_t msg, uint32_t w_param, int32_t l_param) {
        gui.Post([self = shared_from_this(), msg, w_param, l_param] {
            self->TriggerMessage(msg, w_param, l_param);
        });
    }
    void Detach() { port_ = nullptr; }

  private:
    TNlkComPort* port_;
};

TNlkComPort::TNlkComPort(GuiThread& gui) : gui_(gui) {}

TNlkComPort::~TNlkComPort() {
    try {
        if (state_ == PortState::Opened) CloseSequence();
    } catch (const std::exception& error) {
        gui_.ShowError(error.what());
    }
    open_pending_ = false;
    if (dispatcher_) {
        // A close that was waiting for a trigger handler to return: the dispatcher's destruction
        // waits for its threads (handling GUI work meanwhile) and releases what is left.
        if (window_) dispatcher_->RemoveTriggerWindow(window_.get());
        if (window_) window_->Detach();
        dispatcher_.reset();
    }
    if (window_) window_->Detach();
    window_.reset();
}

// ---------------------------------------------------------------- open and close

void TNlkComPort::SetOpen(bool value) {
    if (loading_) {
        open_ = value;
        if (value) force_open_ = true;
        return;
    }
    if (value) {
        if (state_ == PortState::Closed) {
            OpenSequence();
        } else if (state_ == PortState::Closing) {
            open_pending_ = true;
        }
    } else {
        if (state_ == PortState::Opened) {
            CloseSequence();
        } else if (state_ == PortState::Closing) {
            open_pending_ = false;  // a reopen asked for during the close is called off
        }
    }
}

uint64_t TNlkComPort::StopReceiving() {
    if (state_ != PortState::Opened || !dispatcher_) return 0;
    return dispatcher_->StopReading();
}

void TNlkComPort::Loaded() {
    loading_ = false;
    const bool wanted = open_ || force_open_;
    open_ = false;
    if (!wanted) return;
    force_open_ = false;
    try {
        OpenSequence();
    } catch (const std::exception& error) {
        open_ = false;
        gui_.ShowError(error.what());
    }
}

std::string TNlkComPort::DevicePath() const {
    return device_path_.empty() ? DevicePathForPort(com_number_) : device_path_;
}

void TNlkComPort::ValidatePort() {
    if (com_number_ != 0 || !device_path_.empty()) return;
    if (!prompt_for_port_ || !port_prompt_) RaiseErrorCode(ecNoPortSelected);
    const std::optional<int> chosen = port_prompt_();
    if (!chosen || *chosen <= 0 || *chosen > 0xFFFF) RaiseErrorCode(ecNoPortSelected);
    com_number_ = static_cast<uint16_t>(*chosen);
}

std::unique_ptr<TNlkBaseDispatcher> TNlkComPort::CreateDispatcher() {
    if (device_layer_ != dlWin32) RaiseErrorCode(ecNullApi);
    // With tmOn a telephony layer would hand over an open device; this system has none, so the
    // open sequence refuses that mode after creating the ordinary dispatcher.
    return std::make_unique<TNlkPosixDispatcher>(gui_, this);
}

int32_t TNlkComPort::InitPort() {
    uint32_t line_flags = 0;
    if (dtr_) line_flags |= lfDtrOn;
    if (rts_) line_flags |= lfRtsOn;
    if (hw_flow_.Contains(hwfUseDTR)) line_flags |= lfDtrFlow;
    if (hw_flow_.Contains(hwfUseRTS)) line_flags |= lfRtsFlow;
    // A number the port map has no device for is not looked up as a file name.
    if (DevicePath().empty()) return -kErrorFileNotFound;
    return dispatcher_->OpenDevice(dispatcher_->DeviceName(), baud_, static_cast<uint8_t>(parity_),
                                   static_cast<uint8_t>(std::min<uint16_t>(data_bits_, 255)),
                                   static_cast<uint8_t>(std::min<uint16_t>(stop_bits_, 255)), in_size_,
                                   out_size_, line_flags);
}

void TNlkComPort::OpenSequence() {
    if (tapi_mode_ != tmOn) ValidatePort();
    dispatcher_ = CreateDispatcher();
    // The dispatcher maps the port name onto the device (serial/port_device_map.h); the dispatch
    // log shows this name.
    dispatcher_->SetDeviceName(device_path_.empty() ? "\\\\.\\COM" + std::to_string(com_number_)
                                                    : device_path_);
    try {
        if (tapi_mode_ == tmOn) RaiseErrorCode(ecNotOpenedByTapi);
        const int32_t code = MapOpenResult(InitPort());
        CheckOpenResult(this, code, dispatcher_->OpenFailureText());
        if (code < 0) RaiseErrorCode(code);

        state_ = PortState::Opened;
        UpdateHandlerFlag();
        force_ = true;
        SetTracing(tracing_);
        SetLogging(logging_);
        SetHWFlowOptions(hw_flow_);
        SetSWFlowOptions(sw_flow_);
        SetXOnChar(xon_char_);
        SetXOffChar(xoff_char_);
        dispatcher_->SetAvailThreshold(trigger_length_);
        SetDTR(dtr_);
        SetRTS(rts_);
        SetUseEventWord(use_event_word_);
        SetRS485Mode(rs485_mode_);
        force_ = false;

        open_ = true;
        SetTriggerWindow(true);
        dispatcher_->AddTriggerWindow(window_.get());
        // The loss comes from a port thread; it reaches this component as a posted message, and
        // only while the window that would take it is still there.
        dispatcher_->SetOnDeviceLost([window = std::weak_ptr<HiddenWindow>(window_), &gui = gui_,
                                      handle = dispatcher_->Handle()] {
            if (const auto alive = window.lock())
                alive->Post(gui, MsgDeviceLost, 0, static_cast<int32_t>(static_cast<uint32_t>(handle) << 16));
        });
        if (restore_triggers_) {
            restore_triggers_ = false;
            dispatcher_->RestoreTriggers(saved_triggers_);
        }
        if (on_port_open_) on_port_open_(*this);
    } catch (...) {
        force_ = false;
        open_ = false;
        ReleasePort();
        throw;
    }
}

void TNlkComPort::ReleasePort() {
    // The dispatcher goes first: freeing it stops its threads and lets deliveries already handed to
    // the GUI thread run out, and those still name the window. Detached, the window drops them.
    const std::shared_ptr<HiddenWindow> window = window_;
    if (window && dispatcher_) dispatcher_->RemoveTriggerWindow(window.get());
    if (window) window->Detach();
    dispatcher_.reset();
    SetTriggerWindow(false);
    state_ = PortState::Closed;
    open_ = false;
}

void TNlkComPort::DeviceLost() {
    const std::string reason = dispatcher_->DeviceLostReason();
    // The closing sequence of a port whose device is gone: the dispatcher has stopped its threads
    // already, so this only lets go of it.
    CloseSequence();
    if (on_port_lost_) on_port_lost_(*this, reason);
}

void TNlkComPort::CloseSequence() {
    // A trace or log that cannot be written must not keep the port open: the close goes on and
    // the file error is raised once the port is closed.
    std::exception_ptr dump_error;
    for (bool trace : {true, false}) {
        try {
            SetTraceLogState(trace, tlDump);
        } catch (...) {
            if (!dump_error) dump_error = std::current_exception();
        }
    }
    state_ = PortState::Closing;
    dispatcher_->SaveTriggers(saved_triggers_);
    restore_triggers_ = true;
    dispatcher_->ShutdownDevice();
    if (dispatcher_->ClosePending() || dispatcher_->InDispatch()) {
        // Called from inside a trigger delivery: the dispatcher thread still waits for the handler
        // that runs now. The close completes when the hidden window gets MsgDeferredClose.
        window_->Post(gui_, MsgDeferredClose, 0,
                      static_cast<int32_t>(static_cast<uint32_t>(dispatcher_->Handle()) << 16));
    } else {
        ReleasePort();
    }
    if (on_port_close_) on_port_close_(*this);
    if (dump_error) std::rethrow_exception(dump_error);
}

void TNlkComPort::CompleteDeferredClose() {
    if (dispatcher_->RunningThreadCount() > 0) {
        window_->Post(gui_, MsgDeferredClose, 0,
                      static_cast<int32_t>(static_cast<uint32_t>(dispatcher_->Handle()) << 16));
        return;
    }
    ReleasePort();
    if (open_pending_) {
        open_pending_ = false;
        OpenSequence();
    }
}

void TNlkComPort::SetTriggerWindow(bool create) {
    if (create) {
        // Not make_shared: the object's memory is to go with the object, not with the last weak
        // reference (the loss callback holds one), so a use after the end is a use after free
        // that the sanitizer sees.
        if (!window_) window_ = std::shared_ptr<HiddenWindow>(new HiddenWindow(this));
    } else if (window_) {
        window_->Detach();
        window_.reset();
    }
}

void TNlkComPort::ProcessCommunications() {
    std::this_thread::yield();
}

// ---------------------------------------------------------------- GetChar and events

uint8_t TNlkComPort::GetChar() {
    if (state_ == PortState::Closing) return 0;
    if (!dispatcher_ && auto_open_ && !loading_) SetOpen(true);
    if (!dispatcher_) {
        CheckError(this, ecCommNotOpen);
        return 0;
    }
    uint8_t byte = 0;
    CheckError(this, dispatcher_->GetChar(byte));
    return byte;
}

bool TNlkComPort::AnyTriggerHandler() const {
    return on_trigger_ || on_trigger_avail_ || on_trigger_data_ || on_trigger_status_ || on_trigger_timer_ ||
           on_trigger_line_error_ || on_trigger_modem_status_ || on_trigger_outbuff_free_ ||
           on_trigger_outbuff_used_ || on_trigger_out_sent_;
}

void TNlkComPort::UpdateHandlerFlag() {
    if (!IsOpenState() || !dispatcher_) return;
    dispatcher_->SetPortHandler(AnyTriggerHandler() ? PortHandlerKind::Installed : PortHandlerKind::Removed);
}

void TNlkComPort::SetOnTriggerAvail(TTriggerAvailEvent handler) {
    on_trigger_avail_ = std::move(handler);
    UpdateHandlerFlag();
}
void TNlkComPort::SetOnTrigger(TTriggerEvent handler) {
    on_trigger_ = std::move(handler);
    UpdateHandlerFlag();
}
void TNlkComPort::SetOnTriggerData(TTriggerDataEvent handler) {
    on_trigger_data_ = std::move(handler);
    UpdateHandlerFlag();
}
void TNlkComPort::SetOnTriggerStatus(TTriggerStatusEvent handler) {
    on_trigger_status_ = std::move(handler);
    UpdateHandlerFlag();
}
void TNlkComPort::SetOnTriggerTimer(TTriggerTimerEvent handler) {
    on_trigger_timer_ = std::move(handler);
    UpdateHandlerFlag();
}
void TNlkComPort::SetOnTriggerLineError(TTriggerLineErrorEvent handler) {
    on_trigger_line_error_ = std::move(handler);
    UpdateHandlerFlag();
}
void TNlkComPort::SetOnTriggerModemStatus(TNotifyEvent handler) {
    on_trigger_modem_status_ = std::move(handler);
    UpdateHandlerFlag();
}
void TNlkComPort::SetOnTriggerOutbuffFree(TNotifyEvent handler) {
    on_trigger_outbuff_free_ = std::move(handler);
    UpdateHandlerFlag();
}
void TNlkComPort::SetOnTriggerOutbuffUsed(TNotifyEvent handler) {
    on_trigger_outbuff_used_ = std::move(handler);
    UpdateHandlerFlag();
}
void TNlkComPort::SetOnTriggerOutSent(TNotifyEvent handler) {
    on_trigger_out_sent_ = std::move(handler);
    UpdateHandlerFlag();
}

void TNlkComPort::WindowProc(uint32_t msg, uint32_t w_param, int32_t l_param) {
    if ((msg < MsgTriggerAvail || msg > MsgTriggerStatus) && msg != MsgDeferredClose && msg != MsgDeviceLost)
        return;
    auto& table = DispatcherTable::Instance();
    // Held for the whole handling: the dispatcher cannot leave the table under a handler.
    std::lock_guard lock(table.Lock());
    const uint32_t l = static_cast<uint32_t>(l_param);
    TNlkBaseDispatcher* dispatcher = table.At(static_cast<int>(l >> 16));
    if (dispatcher == nullptr || dispatcher->Owner() == nullptr) return;
    try {
        if (msg == MsgDeviceLost) {
            // Only this component's own dispatcher, and only once: a loss reported while a close
            // was under way has nothing left to close.
            if (dispatcher == dispatcher_.get() && state_ == PortState::Opened) DeviceLost();
            return;
        }
        const uint16_t w = static_cast<uint16_t>(w_param);
        if (on_trigger_) {
            if (msg == MsgTriggerAvail) {
                on_trigger_(*this, static_cast<uint16_t>(msg), w, w);
            } else {
                on_trigger_(*this, static_cast<uint16_t>(msg), w, static_cast<uint16_t>(l & 0xFFFF));
            }
        }
        switch (msg) {
            case MsgTriggerAvail:
                if (on_trigger_avail_) on_trigger_avail_(*this, w);
                break;
            case MsgTriggerData:
                if (on_trigger_data_) on_trigger_data_(*this, w);
                break;
            case MsgTriggerTimer:
                if (on_trigger_timer_) on_trigger_timer_(*this, w);
                break;
            case MsgTriggerStatus:
                if (on_trigger_status_) on_trigger_status_(*this, w);
                switch (w & 7) {
                    case 1:
                        if (on_trigger_modem_status_) on_trigger_modem_status_(*this);
                        break;
                    case 2:
                        if (on_trigger_line_error_) {
                            const auto error = static_cast<uint16_t>(dispatcher->LineErrorQuery());
                            on_trigger_line_error_(*this, error, dispatcher->BreakQuery());
                        }
                        break;
                    case 3:
                        if (on_trigger_outbuff_free_) on_trigger_outbuff_free_(*this);
                        break;
                    case 4:
                        if (on_trigger_outbuff_used_) on_trigger_outbuff_used_(*this);
                        break;
                    case 5:
                        if (on_trigger_out_sent_) on_trigger_out_sent_(*this);
                        break;
                    default:
                        break;
                }
                break;
            case MsgDeferredClose:
                // Only for this component's own dispatcher: a message left over from an earlier one
                // whose table slot has been reused means nothing any more.
                if (dispatcher == dispatcher_.get() && state_ == PortState::Closing) CompleteDeferredClose();
                break;
            default:
                break;
        }
    } catch (const std::exception& error) {
        gui_.ShowError(error.what());
    }
}

// ---------------------------------------------------------------- properties

void TNlkComPort::SetDeviceLayer(TDeviceLayer layer) {
    if (state_ != PortState::Closed) return;
    if (layer == dlWin32) device_layer_ = layer;  // the only layer this component supports
}

void TNlkComPort::SetComNumber(uint16_t number) {
    if (number == com_number_) return;
    if (IsOpenState()) {
        ChangeComNumberWhileOpen(number);
    } else {
        com_number_ = number;
    }
}

void TNlkComPort::ChangeComNumberWhileOpen(uint16_t number) {
    dispatcher_->SaveTriggers(saved_triggers_);
    const TTraceLogState tracing = tracing_;
    const TTraceLogState logging = logging_;
    // A trace or log file that could not be written does not stop the move to the new port; its
    // error comes once the port is open there.
    std::exception_ptr dump_error;
    try {
        CloseSequence();
    } catch (...) {
        dump_error = std::current_exception();
    }
    com_number_ = number;
    SetTracing(tracing);
    SetLogging(logging);
    SetOpen(true);
    if (IsOpenState()) dispatcher_->RestoreTriggers(saved_triggers_);
    if (dump_error) std::rethrow_exception(dump_error);
}

void TNlkComPort::ApplyLineSettingsNow() {
    if (!IsOpenState()) return;
    CheckError(this,
               dispatcher_->ApplyLineSettings(baud_, static_cast<uint8_t>(parity_),
                                              static_cast<uint8_t>(std::min<uint16_t>(data_bits_, 255)),
                                              static_cast<uint8_t>(std::min<uint16_t>(stop_bits_, 255))));
}

void TNlkComPort::SetBaud(int32_t baud) {
    if (baud == baud_) return;
    baud_ = baud;
    ApplyLineSettingsNow();
}

void TNlkComPort::SetParity(TParity parity) {
    if (parity == parity_) return;
    parity_ = parity;
    ApplyLineSettingsNow();
}

void TNlkComPort::SetDataBits(uint16_t bits) {
    if (bits == data_bits_) return;
    data_bits_ = bits;
    ApplyLineSettingsNow();
}

void TNlkComPort::SetStopBits(uint16_t bits) {
    if (bits == stop_bits_) return;
    stop_bits_ = bits;
    ApplyLineSettingsNow();
}

void TNlkComPort::SetInSize(uint16_t size) {
    if (size == in_size_) return;
    in_size_ = size;
    if (IsOpenState()) dispatcher_->SetQueueSizes(in_size_, out_size_);
}

void TNlkComPort::SetOutSize(uint16_t size) {
    if (size == out_size_) return;
    out_size_ = size;
    if (IsOpenState()) dispatcher_->SetQueueSizes(in_size_, out_size_);
}

void TNlkComPort::SetDTR(bool on) {
    if (on == dtr_ && !force_) return;
    if (!IsOpenState()) {
        dtr_ = on;
        return;
    }
    const int32_t code = dispatcher_->SetDtrLine(on);
    if (code == 1) return;  // DTR is under hardware flow control: the line is left alone
    CheckError(this, code);
    dtr_ = on;
}

void TNlkComPort::SetRTS(bool on) {
    if (on == rts_ && !force_) return;
    if (!IsOpenState()) {
        rts_ = on;
        return;
    }
    const int32_t code = dispatcher_->SetRtsLine(on);
    if (code == 1) return;
    CheckError(this, code);
    rts_ = on;
}

void TNlkComPort::CompleteFlowThresholds(double full_share, double resume_share) {
    if (buffer_full_ == 0 || buffer_full_ > in_size_) buffer_full_ = RoundShare(in_size_, full_share);
    if (buffer_resume_ == 0 || buffer_resume_ > buffer_full_)
        buffer_resume_ = RoundShare(in_size_, resume_share);
}

void TNlkComPort::SetHWFlowOptions(THWFlowOptions options) {
    if (options == hw_flow_ && !force_) return;
    const uint8_t mask = options.Mask();
    if (mask != 0) CompleteFlowThresholds(0.9, 0.1);
    if (IsOpenState()) CheckError(this, dispatcher_->SetHardwareFlow(buffer_full_, buffer_resume_, mask));
    hw_flow_ = options;
    if (options.Contains(hwfUseRTS) || options.Contains(hwfRequireCTS)) SetRS485Mode(false);
}

void TNlkComPort::SetSWFlowOptions(TSWFlowOptions options) {
    if (options == sw_flow_ && !force_) return;
    static constexpr uint32_t kDirections[] = {0, 2, 1, 3};
    const uint32_t directions = options <= swfBoth ? kDirections[options] : 0;
    if (directions != 0) CompleteFlowThresholds(0.75, 0.25);
    if (IsOpenState()) {
        CheckError(this, directions != 0
                             ? dispatcher_->SetSoftwareFlow(buffer_full_, buffer_resume_, directions)
                             : dispatcher_->ClearSoftwareFlow());
    }
    sw_flow_ = options;
}

void TNlkComPort::SetXOnChar(uint8_t c) {
    if (c == xon_char_ && !force_) return;
    xon_char_ = c;
    if (IsOpenState()) CheckError(this, dispatcher_->SetFlowChars(xon_char_, xoff_char_));
}

void TNlkComPort::SetXOffChar(uint8_t c) {
    if (c == xoff_char_ && !force_) return;
    xoff_char_ = c;
    if (IsOpenState()) CheckError(this, dispatcher_->SetFlowChars(xon_char_, xoff_char_));
}

void TNlkComPort::SetBufferFull(uint16_t n) {
    if (n == buffer_full_ && !force_) return;
    buffer_full_ = n > in_size_ ? RoundShare(in_size_, 0.9) : n;
    const bool force = force_;
    force_ = true;
    struct Restore {
        bool& flag;
        bool value;
        ~Restore() { flag = value; }
    } restore{force_, force};
    SetHWFlowOptions(hw_flow_);
    SetSWFlowOptions(sw_flow_);
}

void TNlkComPort::SetBufferResume(uint16_t n) {
    if (n == buffer_resume_ && !force_) return;
    buffer_resume_ = n > buffer_full_ ? RoundShare(buffer_full_, 0.1) : n;
    const bool force = force_;
    force_ = true;
    struct Restore {
        bool& flag;
        bool value;
        ~Restore() { flag = value; }
    } restore{force_, force};
    SetHWFlowOptions(hw_flow_);
    SetSWFlowOptions(sw_flow_);
}

void TNlkComPort::SetTracing(TTraceLogState state) {
    SetTraceLogState(true, state);
}
void TNlkComPort::SetLogging(TTraceLogState state) {
    SetTraceLogState(false, state);
}

void TNlkComPort::SetTraceLogState(bool trace, TTraceLogState state) {
    TTraceLogState& current = trace ? tracing_ : logging_;
    if (state == current && !force_) return;
    if (!IsOpenState()) {
        current = state == tlOn ? tlOn : tlOff;
        return;
    }
    TNlkBaseDispatcher& d = *dispatcher_;
    auto write = [&](bool append) {
        trace ? d.ResumeTrace() : d.ResumeLog();
        const int32_t code = trace ? d.WriteTrace(trace_name_, trace_hex_, trace_all_hex_, append)
                                   : d.WriteLog(log_name_, log_hex_, log_all_hex_, append);
        CheckError(this, code);
    };
    switch (state) {
        case tlOff:
            if (Recording(current)) trace ? d.StopTrace() : d.StopLog();
            current = tlOff;
            break;
        case tlOn:
            if (current == tlPause) {
                trace ? d.ResumeTrace() : d.ResumeLog();
            } else if (trace) {
                CheckError(this, d.StartTrace(trace_size_));
            } else {
                d.StartLog(log_size_);
            }
            current = tlOn;
            break;
        case tlDump:
        case tlAppend:
            if (!Recording(current)) break;
            write(state == tlAppend);
            // The property now reads tlOff, and so does the dispatcher: nothing keeps recording
            // into a buffer that no state of the property would ever write.
            trace ? d.StopTrace() : d.StopLog();
            current = tlOff;
            break;
        case tlClear:
            if (Recording(current)) trace ? d.ClearTrace() : d.ClearLog();
            break;
        case tlPause:
            if (current != tlOn) break;
            trace ? d.PauseTrace() : d.PauseLog();
            current = tlPause;
            break;
        case tlAppendAndContinue:
            if (!Recording(current)) break;
            write(true);
            current = tlOn;
            break;
    }
}

void TNlkComPort::SetTraceSize(uint32_t size) {
    size = std::min(size, kMaxTraceSize);
    if (size == trace_size_) return;
    trace_size_ = size;
    if (!IsOpenState() || !Recording(tracing_)) return;
    const TTraceLogState state = tracing_;
    dispatcher_->StopTrace();
    CheckError(this, dispatcher_->StartTrace(trace_size_));
    if (state == tlPause) dispatcher_->PauseTrace();
}

void TNlkComPort::SetLogSize(uint32_t size) {
    size = std::min(size, kMaxLogSize);
    if (size == log_size_) return;
    log_size_ = size;
    if (!IsOpenState() || !Recording(logging_)) return;
    const TTraceLogState state = logging_;
    dispatcher_->StopLog();
    dispatcher_->StartLog(log_size_);
    if (state == tlPause) dispatcher_->PauseLog();
}

void TNlkComPort::SetTraceName(std::string name) {
    if (name.size() > 255) name.resize(255);
    trace_name_ = std::move(name);
}

void TNlkComPort::SetLogName(std::string name) {
    if (name.size() > 255) name.resize(255);
    log_name_ = std::move(name);
}

void TNlkComPort::SetUseEventWord(bool on) {
    if (on == use_event_word_ && !force_) return;
    use_event_word_ = on;
}

void TNlkComPort::SetCommNotificationLevel(uint16_t level) {
    if (level == comm_notification_level_ && !force_) return;
    comm_notification_level_ = level;
}

void TNlkComPort::SetRS485Mode(bool on) {
    if (on == rs485_mode_ && !force_) return;
    if (IsOpenState()) dispatcher_->SetRs485(on);
    rs485_mode_ = on;
    if (on) {
        SetHWFlowOptions(hw_flow_.Without({hwfUseRTS, hwfRequireCTS}));
        SetRTS(false);
    }
}

void TNlkComPort::Assign(const TNlkComPort& other) {
    if (&other == this) return;
    SetDeviceLayer(other.device_layer_);
    SetComNumber(other.com_number_);
    SetBaud(other.baud_);
    SetPromptForPort(other.prompt_for_port_);
    SetParity(other.parity_);
    SetDataBits(other.data_bits_);
    SetStopBits(other.stop_bits_);
    SetInSize(other.in_size_);
    SetOutSize(other.out_size_);
    SetAutoOpen(other.auto_open_);
    SetDTR(other.dtr_);
    SetRTS(other.rts_);
    SetBufferFull(other.buffer_full_);
    SetBufferResume(other.buffer_resume_);
    SetHWFlowOptions(other.hw_flow_);
    SetSWFlowOptions(other.sw_flow_);
    SetXOnChar(other.xon_char_);
    SetXOffChar(other.xoff_char_);
    SetTraceSize(other.trace_size_);
    SetTraceName(other.trace_name_);
    SetTraceHex(other.trace_hex_);
    SetTraceAllHex(other.trace_all_hex_);
    SetLogSize(other.log_size_);
    SetLogName(other.log_name_);
    SetLogHex(other.log_hex_);
    SetLogAllHex(other.log_all_hex_);
    SetUseEventWord(other.use_event_word_);
    SetCommNotificationLevel(other.comm_notification_level_);
    SetTapiMode(other.tapi_mode_);
    SetRS485Mode(other.rs485_mode_);
    SetTag(other.tag_);
}

void LoadNlkComPort1(TNlkComPort& port) {
    port.BeginLoading();
    port.SetName("NlkComPort1");
    port.SetComNumber(7);
    port.SetBaud(9600);
    port.SetAutoOpen(false);
    port.SetDTR(false);
    port.SetRTS(false);
    port.SetTraceName("NELK.TRC");
    port.SetTraceHex(false);
    port.SetLogName("NELK.LOG");
    port.SetLogHex(false);
    port.Loaded();
}

}  // namespace linograf::serial
