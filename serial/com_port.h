#pragma once
// TNlkComPort: the component through which the program uses one serial port.
//
// It holds the port's configuration as properties (getter `X()`, setter `SetX()`), opens and
// closes the port, applies every setting to the open device, and turns the dispatcher's trigger
// messages into event handler calls on the GUI thread. Received bytes are taken one at a time
// with GetChar, normally inside OnTriggerAvail. The system only receives: there is no operation
// for sending.
//
// Typical use (the capture command line and the main window do exactly this):
//
//     linograf::serial::QtGuiThread gui;            // or PlainGuiThread without an event loop
//     linograf::serial::TNlkComPort port(gui);
//     linograf::serial::LoadNlkComPort1(port);      // the main window's stored values (COM7, 9600 8N1...)
//     port.SetOnTriggerAvail([&](TNlkComPort& cp, uint16_t count) {
//         for (uint16_t i = 0; i < count; ++i) Take(cp.GetChar());
//     });
//     port.SetOpen(true);                           // raises ENLKException & co. on failure
//     ... run the event loop (QtGuiThread) or gui.PumpUntil(...) (PlainGuiThread) ...
//     port.SetOpen(false);
//
// Threads: every operation and every event runs on the GUI thread, the thread that created the
// GuiThread object. The port's own threads hand triggers over through that object and wait for
// them (at most 3000 ms each), so the GUI thread must keep handling what is posted to it.
//
// Errors are raised as the exception classes of serial/port_errors.h (message = the error text,
// for example "ie_BadId - Specified comport doesn't exist"); an exception thrown by an event
// handler is caught at the component's message handling and shown through GuiThread::ShowError.
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>

#include "serial/base_dispatcher.h"
#include "serial/gui_thread.h"
#include "serial/port_errors.h"

namespace linograf::serial {

inline constexpr const char* kNlkVersion = "v4.07";

enum TDeviceLayer : uint8_t { dlWin32, dlWinsock };
enum TParity : uint8_t { pNone, pOdd, pEven, pMark, pSpace };
enum TSWFlowOptions : uint8_t { swfNone, swfReceive, swfTransmit, swfBoth };
enum TTraceLogState : uint8_t { tlOff, tlOn, tlDump, tlAppend, tlClear, tlPause, tlAppendAndContinue };
enum TTapiMode : uint8_t { tmNone, tmAuto, tmOn, tmOff };

// Hardware flow options; each value is also its bit in the option mask of SetHardwareFlow.
enum THWFlowOption : uint8_t { hwfUseDTR = 1, hwfUseRTS = 2, hwfRequireDSR = 4, hwfRequireCTS = 8 };

// A set of THWFlowOption values.
class THWFlowOptions {
  public:
    constexpr THWFlowOptions() = default;
    constexpr THWFlowOptions(std::initializer_list<THWFlowOption> options) {
        for (THWFlowOption o : options) bits_ |= o;
    }
    static constexpr THWFlowOptions FromMask(uint8_t mask) {
        THWFlowOptions s;
        s.bits_ = mask & 15;
        return s;
    }
    constexpr uint8_t Mask() const { return bits_; }
    constexpr bool Contains(THWFlowOption o) const { return (bits_ & o) != 0; }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr THWFlowOptions Without(THWFlowOptions other) const { return FromMask(bits_ & ~other.bits_); }
    constexpr bool operator==(const THWFlowOptions&) const = default;

  private:
    uint8_t bits_ = 0;
};

class TNlkComPort;

// Event types (Sender / CP is the component that fires the event).
using TNotifyEvent = std::function<void(TNlkComPort& sender)>;
using TTriggerEvent =
    std::function<void(TNlkComPort& cp, uint16_t msg, uint16_t trigger_handle, uint16_t data)>;
using TTriggerAvailEvent = std::function<void(TNlkComPort& cp, uint16_t count)>;
using TTriggerDataEvent = std::function<void(TNlkComPort& cp, uint16_t trigger_handle)>;
using TTriggerStatusEvent = std::function<void(TNlkComPort& cp, uint16_t trigger_handle)>;
using TTriggerTimerEvent = std::function<void(TNlkComPort& cp, uint16_t trigger_handle)>;
using TTriggerLineErrorEvent = std::function<void(TNlkComPort& cp, uint16_t error, bool line_break)>;
// The device vanished under the open port; `reason` is the platform's word for it.
using TPortLostEvent = std::function<void(TNlkComPort& sender, const std::string& reason)>;

// Asks the operator for a port when one is opened without a number: the chosen number after OK,
// nothing after Cancel or closing the dialog. The program plugs the "Select Port" dialog in here
// (its list comes from SelectablePortEntries, serial/port_selection.h).
using TPortPrompt = std::function<std::optional<int>()>;

class TNlkComPort : public ErrorOwner {
  public:
    // `gui` is the hand-off to the GUI thread; it must outlive the component.
    explicit TNlkComPort(GuiThread& gui);
    // An open port is closed first (errors of that close go to GuiThread::ShowError).
    virtual ~TNlkComPort();
    TNlkComPort(const TNlkComPort&) = delete;
    TNlkComPort& operator=(const TNlkComPort&) = delete;

    // ---- the application's surface ----

    // True from the end of a successful open until the close has let go of the dispatcher; during
    // a close started inside a trigger handler it stays True until that close completes.
    bool Open() const { return open_; }
    // True: opens a closed port (errors raised here; the port then stays closed), or records a
    // reopen while a close completes. False: closes an open port.
    void SetOpen(bool value);
    // Before a close that must keep everything received: stops reading from the device and hands
    // every byte already read to OnTriggerAvail before it returns (GUI thread; the port stays
    // open). Bytes the device sends afterwards stay in the kernel's buffer, and a close discards
    // them. Returns the bytes read and left undelivered because a handler stopped taking them.
    uint64_t StopReceiving();
    // One received byte. Inside OnTriggerAvail the n-th call returns the n-th announced byte (the
    // bytes count as taken when the handler returns); outside a handler the oldest unread byte.
    // No byte: raises EBufferIsEmpty ("Buffer is empty"). Closed port: opens it when AutoOpen is
    // set, else raises ECommNotOpen. While the port is closing: 0.
    uint8_t GetChar();

    void SetOnPortOpen(TNotifyEvent handler) { on_port_open_ = std::move(handler); }
    void SetOnPortClose(TNotifyEvent handler) { on_port_close_ = std::move(handler); }
    // Fired on the GUI thread when the device went away (hang-up, EIO, ENXIO): every byte read
    // before has been handed to OnTriggerAvail, the port is closed (Open() is False, OnPortClose
    // has fired) and may be opened again once the device is back.
    void SetOnPortLost(TPortLostEvent handler) { on_port_lost_ = std::move(handler); }
    void SetOnTriggerAvail(TTriggerAvailEvent handler);
    void SetOnTrigger(TTriggerEvent handler);
    void SetOnTriggerData(TTriggerDataEvent handler);
    void SetOnTriggerStatus(TTriggerStatusEvent handler);
    void SetOnTriggerTimer(TTriggerTimerEvent handler);
    void SetOnTriggerLineError(TTriggerLineErrorEvent handler);
    void SetOnTriggerModemStatus(TNotifyEvent handler);
    void SetOnTriggerOutbuffFree(TNotifyEvent handler);
    void SetOnTriggerOutbuffUsed(TNotifyEvent handler);
    void SetOnTriggerOutSent(TNotifyEvent handler);

    // The "Select Port" dialog's logic, used when ComNumber is 0 and PromptForPort is set. Without
    // one such an open fails with ENoPortSelected.
    void SetPortPrompt(TPortPrompt prompt) { port_prompt_ = std::move(prompt); }

    // Loading from a stored description: between BeginLoading and Loaded, SetOpen only records
    // its value and errors are returned instead of raised; Loaded then opens the port when True
    // was recorded (an error of that open is shown through GuiThread::ShowError).
    void BeginLoading() { loading_ = true; }
    void Loaded();
    bool IsLoading() const override { return loading_; }

    // ---- properties (defaults in brackets) ----

    std::string Version() const { return kNlkVersion; }
    void SetVersion(const std::string&) {}
    const std::string& Name() const { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }
    int32_t Tag() const { return tag_; }  // [0]
    void SetTag(int32_t tag) { tag_ = tag; }

    TDeviceLayer DeviceLayer() const { return device_layer_; }  // [dlWin32]; only dlWin32 is taken
    void SetDeviceLayer(TDeviceLayer layer);
    uint16_t ComNumber() const { return com_number_; }  // [0]; changed while open: reopens
    void SetComNumber(uint16_t number);
    // A device path to open instead of the port number's (["" ]: the number's). A by-id link keeps
    // naming the same adapter whatever order adapters were plugged in. Takes effect at the next open.
    const std::string& DevicePathSetting() const { return device_path_; }
    void SetDevicePath(std::string path) { device_path_ = std::move(path); }
    int32_t Baud() const { return baud_; }  // [19200]
    void SetBaud(int32_t baud);
    bool PromptForPort() const { return prompt_for_port_; }  // [true]
    void SetPromptForPort(bool on) { prompt_for_port_ = on; }
    TParity Parity() const { return parity_; }  // [pNone]
    void SetParity(TParity parity);
    uint16_t DataBits() const { return data_bits_; }  // [8]
    void SetDataBits(uint16_t bits);
    uint16_t StopBits() const { return stop_bits_; }  // [1]
    void SetStopBits(uint16_t bits);
    uint16_t InSize() const { return in_size_; }  // [4096]
    void SetInSize(uint16_t size);
    uint16_t OutSize() const { return out_size_; }  // [4096]
    void SetOutSize(uint16_t size);
    bool AutoOpen() const { return auto_open_; }  // [true]
    void SetAutoOpen(bool on) { auto_open_ = on; }
    bool DTR() const { return dtr_; }  // [true]
    void SetDTR(bool on);
    bool RTS() const { return rts_; }  // [true]
    void SetRTS(bool on);
    THWFlowOptions HWFlowOptions() const { return hw_flow_; }  // [empty]
    void SetHWFlowOptions(THWFlowOptions options);
    TSWFlowOptions SWFlowOptions() const { return sw_flow_; }  // [swfNone]
    void SetSWFlowOptions(TSWFlowOptions options);
    uint8_t XOnChar() const { return xon_char_; }  // [17]
    void SetXOnChar(uint8_t c);
    uint8_t XOffChar() const { return xoff_char_; }  // [19]
    void SetXOffChar(uint8_t c);
    uint16_t BufferFull() const { return buffer_full_; }  // [0]
    void SetBufferFull(uint16_t n);
    uint16_t BufferResume() const { return buffer_resume_; }  // [0]
    void SetBufferResume(uint16_t n);
    TTraceLogState Tracing() const { return tracing_; }  // [tlOff]
    void SetTracing(TTraceLogState state);
    uint32_t TraceSize() const { return trace_size_; }  // [10000], at most 4000000
    void SetTraceSize(uint32_t size);
    const std::string& TraceName() const { return trace_name_; }  // ["NELK.TRC"]
    void SetTraceName(std::string name);
    bool TraceHex() const { return trace_hex_; }  // [true]
    void SetTraceHex(bool on) { trace_hex_ = on; }
    bool TraceAllHex() const { return trace_all_hex_; }  // [false]
    void SetTraceAllHex(bool on) { trace_all_hex_ = on; }
    TTraceLogState Logging() const { return logging_; }  // [tlOff]
    void SetLogging(TTraceLogState state);
    uint32_t LogSize() const { return log_size_; }  // [10000], at most 16000000
    void SetLogSize(uint32_t size);
    const std::string& LogName() const { return log_name_; }  // ["NELK.LOG"]
    void SetLogName(std::string name);
    bool LogHex() const { return log_hex_; }  // [true]
    void SetLogHex(bool on) { log_hex_ = on; }
    bool LogAllHex() const { return log_all_hex_; }  // [false]
    void SetLogAllHex(bool on) { log_all_hex_ = on; }
    bool UseMSRShadow() const { return true; }  // always true
    void SetUseMSRShadow(bool) {}
    bool UseEventWord() const { return use_event_word_; }  // [true]; no effect here
    void SetUseEventWord(bool on);
    uint16_t CommNotificationLevel() const { return comm_notification_level_; }  // [10]; no effect
    void SetCommNotificationLevel(uint16_t level);
    TTapiMode TapiMode() const { return tapi_mode_; }  // [tmAuto]
    void SetTapiMode(TTapiMode mode) { tapi_mode_ = mode; }
    bool RS485Mode() const { return rs485_mode_; }  // [false]
    void SetRS485Mode(bool on);

    // Copies another component's settings (not its state, handlers or port).
    void Assign(const TNlkComPort& other);

    // ---- for diagnosis and tests ----
    enum class PortState { Closed, Closing, Opened };
    PortState State() const { return state_; }
    bool OpenPending() const { return open_pending_; }
    // The dispatcher of the open port (null while closed).
    TNlkBaseDispatcher* Dispatcher() const { return dispatcher_.get(); }
    // The device path the port opens: the DevicePath setting, else the one the port number stands
    // for (serial/port_device_map.h).
    std::string DevicePath() const;
    GuiThread& Gui() const { return gui_; }

  protected:
    // The platform dispatcher for this port. Raises ENullApi for a device layer other than dlWin32.
    // Tests override it to put a dispatcher over their own system calls under the component.
    virtual std::unique_ptr<TNlkBaseDispatcher> CreateDispatcher();
    // Opens the device with the current settings: a result code.
    virtual int32_t InitPort();
    virtual void ValidatePort();
    virtual void DoClose() { CloseSequence(); }
    void ProcessCommunications();

  private:
    class HiddenWindow;
    friend class HiddenWindow;

    void OpenSequence();
    void CloseSequence();
    void ChangeComNumberWhileOpen(uint16_t number);
    void DeviceLost();
    void CompleteDeferredClose();
    // Frees the trigger window and the dispatcher and marks the port closed.
    void ReleasePort();
    void SetTriggerWindow(bool create);
    void UpdateHandlerFlag();
    bool AnyTriggerHandler() const;
    void WindowProc(uint32_t msg, uint32_t w_param, int32_t l_param);
    void ApplyLineSettingsNow();
    // The trace and log state machine; `trace` chooses which.
    void SetTraceLogState(bool trace, TTraceLogState state);
    void CompleteFlowThresholds(double full_share, double resume_share);
    bool IsOpenState() const { return state_ == PortState::Opened; }

    GuiThread& gui_;
    std::string name_;
    int32_t tag_ = 0;

    TDeviceLayer device_layer_ = dlWin32;
    uint16_t com_number_ = 0;
    std::string device_path_;
    int32_t baud_ = 19200;
    bool prompt_for_port_ = true;
    TParity parity_ = pNone;
    uint16_t data_bits_ = 8;
    uint16_t stop_bits_ = 1;
    uint16_t in_size_ = 4096;
    uint16_t out_size_ = 4096;
    bool auto_open_ = true;
    bool open_ = false;
    bool dtr_ = true;
    bool rts_ = true;
    THWFlowOptions hw_flow_;
    TSWFlowOptions sw_flow_ = swfNone;
    uint8_t xon_char_ = 17;
    uint8_t xoff_char_ = 19;
    uint16_t buffer_full_ = 0;
    uint16_t buffer_resume_ = 0;
    TTraceLogState tracing_ = tlOff;
    uint32_t trace_size_ = 10000;
    std::string trace_name_ = "NELK.TRC";
    bool trace_hex_ = true;
    bool trace_all_hex_ = false;
    TTraceLogState logging_ = tlOff;
    uint32_t log_size_ = 10000;
    std::string log_name_ = "NELK.LOG";
    bool log_hex_ = true;
    bool log_all_hex_ = false;
    bool use_event_word_ = true;
    uint16_t comm_notification_level_ = 10;
    TTapiMode tapi_mode_ = tmAuto;
    bool rs485_mode_ = false;

    TNotifyEvent on_port_open_, on_port_close_;
    TPortLostEvent on_port_lost_;
    TTriggerEvent on_trigger_;
    TTriggerAvailEvent on_trigger_avail_;
    TTriggerDataEvent on_trigger_data_;
    TTriggerStatusEvent on_trigger_status_;
    TTriggerTimerEvent on_trigger_timer_;
    TTriggerLineErrorEvent on_trigger_line_error_;
    TNotifyEvent on_trigger_modem_status_, on_trigger_outbuff_free_, on_trigger_outbuff_used_,
        on_trigger_out_sent_;
    TPortPrompt port_prompt_;

    PortState state_ = PortState::Closed;
    bool force_ = false;
    bool open_pending_ = false;
    bool force_open_ = false;
    bool loading_ = false;
    uint16_t trigger_length_ = 1;
    std::unique_ptr<TNlkBaseDispatcher> dispatcher_;
    std::shared_ptr<HiddenWindow> window_;
    TTriggerSave saved_triggers_;
    bool restore_triggers_ = false;
};

// The main window's instance NlkComPort1 as stored with the window: ComNumber 7, Baud 9600,
// AutoOpen, DTR and RTS off, TraceHex and LogHex off, every other property at its default.
// Assigns them inside BeginLoading/Loaded; the port stays closed. The handlers are the caller's.
void LoadNlkComPort1(TNlkComPort& port);

}  // namespace linograf::serial
