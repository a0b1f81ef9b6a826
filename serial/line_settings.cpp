// Keeping the device's control block in step with the component's settings: line settings, flow
// control, the DTR and RTS lines, modem status and line errors. Everything reads the device's
// block before changing it and writes it whole.
#include <chrono>
#include <thread>

#include "serial/base_dispatcher.h"

namespace linograf::serial {

namespace {

// Legacy rate codes some drivers report instead of the rate.
uint32_t PlainBaud(uint32_t baud) {
    switch (baud) {
        case 65296:
            return 110;
        case 65297:
            return 300;
        case 65298:
            return 600;
        case 65299:
            return 1200;
        case 65300:
            return 2400;
        case 65301:
            return 4800;
        case 65302:
            return 9600;
        case 65303:
            return 14400;
        case 65304:
            return 19200;
        case 65307:
            return 38400;
        case 65311:
            return 56000;
        case 65315:
            return 128000;
        case 65319:
            return 256000;
        case 65279:
            return 115200;
        default:
            return baud;
    }
}

constexpr uint32_t kForcedOn = dcbBinary | dcbTxContinueOnXoff;
constexpr uint32_t kForcedOff = dcbParityCheck | dcbDsrSensitivity | dcbNull;

}  // namespace

uint32_t TNlkBaseDispatcher::CharacterWaitMs(const TDcb& dcb, uint32_t last_baud) {
    const uint32_t baud = PlainBaud(last_baud);
    if (baud == 0) return 0;
    const uint32_t bits =
        dcb.byte_size + 2u + (dcb.parity != kNoParity ? 1u : 0u) + (dcb.stop_bits != kOneStopBit ? 1u : 0u);
    // One bit time in units of 100 ns, times 18 characters.
    uint32_t t = (10000000u / baud) * bits * 18u;
    if (t < 10000) t *= 2;
    return t / 10000 + (t % 10000 != 0 ? 1 : 0);
}

int32_t TNlkBaseDispatcher::ApplyLineSettings(int32_t baud, uint8_t parity, uint8_t data_bits,
                                              uint8_t stop_bits) {
    TDcb current;
    TDcb wanted;
    {
        std::lock_guard state(state_lock_);
        ReadControlBlock();
        current = dcb_;
        wanted = dcb_;
        if (baud != 0) wanted.baud_rate = static_cast<uint32_t>(baud);
        if (parity != 5) wanted.parity = parity;
        if (data_bits != 9) wanted.byte_size = data_bits;
        if (stop_bits != 3) {
            const uint8_t stops = stop_bits == 0 ? 1 : (stop_bits > 2 ? 2 : stop_bits);
            wanted.stop_bits = stops == 1 ? kOneStopBit : kTwoStopBits;
        }
        if (wanted.byte_size == 5) wanted.stop_bits = kOne5StopBits;
        wanted.flags = (wanted.flags | kForcedOn) & ~kForcedOff;
        if (wanted.baud_rate == current.baud_rate && wanted.parity == current.parity &&
            wanted.byte_size == current.byte_size && wanted.stop_bits == current.stop_bits &&
            wanted.flags == current.flags)
            return 0;
    }
    // Let what was sent leave the wire before the line changes under it.
    for (int i = 0; i < 5000; ++i) {
        ReadStatus();
        {
            std::lock_guard state(state_lock_);
            if (status_.out_queue == 0) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(CharacterWaitMs(current, last_baud_)));

    std::lock_guard state(state_lock_);
    ReadControlBlock();
    dcb_.baud_rate = wanted.baud_rate;
    dcb_.parity = wanted.parity;
    dcb_.byte_size = wanted.byte_size;
    dcb_.stop_bits = wanted.stop_bits;
    dcb_.flags = (dcb_.flags | kForcedOn) & ~kForcedOff;
    return WriteControlBlockAndLines();
}

int32_t TNlkBaseDispatcher::WriteControlBlockAndLines() {
    std::lock_guard state(state_lock_);
    if (!dtr_flow_) dcb_.flags = (dcb_.flags & ~dcbDtrControlMask) | (dtr_state_ ? dcbDtrControlEnable : 0);
    if (!rts_flow_) dcb_.flags = (dcb_.flags & ~dcbRtsControlMask) | (rts_state_ ? dcbRtsControlEnable : 0);
    const int32_t code = WriteControlBlock();
    last_baud_ = dcb_.baud_rate;
    SetDtrLine(dtr_state_);
    if (!rs485_) SetRtsLine(rts_state_);
    return code;
}

int32_t TNlkBaseDispatcher::SetHardwareFlow(uint32_t full, uint32_t resume, uint32_t options) {
    if (full < resume || full > in_size_) return ecBadArgument;
    std::lock_guard state(state_lock_);
    ReadControlBlock();
    // The DTR and RTS control states live only in this copy, not in the terminal: a refused
    // handshake must not stay behind in it and fail every later write.
    const TDcb before = dcb_;
    const bool dtr_flow_before = dtr_flow_, rts_flow_before = rts_flow_;
    dcb_.flags &= ~(dcbOutxCtsFlow | dcbOutxDsrFlow | dcbDtrControlMask | dcbRtsControlMask);
    dtr_flow_ = rts_flow_ = false;
    if (options & 1) {
        dcb_.flags |= dcbDtrControlHandshake;
        dtr_flow_ = true;
    } else if (dtr_state_) {
        dcb_.flags |= dcbDtrControlEnable;
    }
    if (options & 2) {
        dcb_.flags |= dcbRtsControlHandshake;
        rts_flow_ = true;
    } else if (rts_state_) {
        dcb_.flags |= dcbRtsControlEnable;
    }
    if (rs485_) {
        dcb_.flags = (dcb_.flags & ~dcbRtsControlMask) | dcbRtsControlToggle;
        rts_flow_ = true;
    }
    dcb_.xoff_lim = static_cast<uint16_t>(in_size_ - full);
    dcb_.xon_lim = static_cast<uint16_t>(resume);
    if (options & 4) dcb_.flags |= dcbOutxDsrFlow;
    if (options & 8) dcb_.flags |= dcbOutxCtsFlow;
    const int32_t code = WriteControlBlockAndLines();
    if (code < 0) {
        dcb_ = before;
        dtr_flow_ = dtr_flow_before;
        rts_flow_ = rts_flow_before;
    }
    return code;
}

int32_t TNlkBaseDispatcher::SetSoftwareFlow(uint32_t full, uint32_t resume, uint32_t directions) {
    if (full < resume || full > in_size_) return ecBadArgument;
    std::lock_guard state(state_lock_);
    ReadControlBlock();
    if (directions & 2) {
        dcb_.flags |= dcbInX;
        dcb_.xoff_lim = static_cast<uint16_t>(in_size_ - full);
        dcb_.xon_lim = static_cast<uint16_t>(resume);
    } else {
        dcb_.flags &= ~dcbInX;
    }
    if (directions & 1) {
        dcb_.flags |= dcbOutX;
    } else {
        dcb_.flags &= ~dcbOutX;
    }
    dcb_.xon_char = 17;
    dcb_.xoff_char = 19;
    return WriteControlBlockAndLines();
}

int32_t TNlkBaseDispatcher::ClearSoftwareFlow() {
    std::lock_guard state(state_lock_);
    ReadControlBlock();
    dcb_.flags &= ~(dcbInX | dcbOutX);
    return WriteControlBlockAndLines();
}

int32_t TNlkBaseDispatcher::SetFlowChars(uint8_t xon, uint8_t xoff) {
    std::lock_guard state(state_lock_);
    ReadControlBlock();
    dcb_.xon_char = xon;
    dcb_.xoff_char = xoff;
    return WriteControlBlockAndLines();
}

int32_t TNlkBaseDispatcher::SetDtrLine(bool on) {
    std::lock_guard state(state_lock_);
    if (dtr_flow_) return 1;
    const int32_t code = EscapeLine(on ? 5 : 6);
    dtr_state_ = on;
    return code < 0 ? ecBadArgument : 0;
}

int32_t TNlkBaseDispatcher::SetRtsLine(bool on) {
    std::lock_guard state(state_lock_);
    if (rts_flow_) return 1;
    const int32_t code = EscapeLine(on ? 3 : 4);
    rts_state_ = on;
    return code < 0 ? ecBadArgument : 0;
}

uint8_t TNlkBaseDispatcher::RefreshModemStatus(uint8_t mask) {
    const uint8_t lines = ReadModemStatus();  // outside the lock: it may block on the device
    std::lock_guard state(state_lock_);
    modem_status_ = static_cast<uint8_t>((modem_status_ & 0x0F) | (lines & 0xF0));
    if (ring_indicator_) {
        ring_indicator_ = false;
        modem_status_ |= 4;
    }
    const uint8_t result = modem_status_;
    modem_status_ &= mask;
    return result;
}

void TNlkBaseDispatcher::UpdateModemStatusWithChanges() {
    const uint8_t lines = ReadModemStatus() & 0xF0;
    std::lock_guard state(state_lock_);
    const uint8_t changed = static_cast<uint8_t>(((modem_status_ ^ lines) & 0xF0) >> 4);
    modem_status_ = static_cast<uint8_t>((modem_status_ & 0x0F) | changed | lines);
    if (ring_indicator_) {
        ring_indicator_ = false;
        modem_status_ |= 4;
    }
}

void TNlkBaseDispatcher::ReadLineErrors() {
    const uint32_t bits = ReadStatus();
    std::lock_guard state(state_lock_);
    line_errors_ |= static_cast<int32_t>(bits & (ceRxOver | ceOverrun | ceRxParity | ceFrame | ceBreak));
}

int32_t TNlkBaseDispatcher::LineErrorQuery() {
    std::lock_guard state(state_lock_);
    if (line_errors_ == -1) {
        line_errors_ = 0;
        return 10;
    }
    int32_t code = 0;
    if (line_errors_ & ceRxOver)
        code = 1;
    else if (line_errors_ & ceOverrun)
        code = 2;
    else if (line_errors_ & ceRxParity)
        code = 3;
    else if (line_errors_ & ceFrame)
        code = 4;
    else if (line_errors_ & ceBreak)
        code = 9;
    line_errors_ &= ~static_cast<int32_t>(ceRxOver | ceOverrun | ceRxParity | ceFrame);
    return code;
}

bool TNlkBaseDispatcher::BreakQuery() {
    std::lock_guard state(state_lock_);
    const bool hit = (line_errors_ & ceBreak) != 0;
    line_errors_ &= ~static_cast<int32_t>(ceBreak);
    return hit;
}

}  // namespace linograf::serial
