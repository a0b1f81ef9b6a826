#pragma once
// Dispatch-log entry types and subtypes; the log prints them by the message table's names
// (type t: code 15001 + t, subtype s: code 15100 + s).
#include <cstdint>

namespace linograf::serial {

inline constexpr uint8_t ltNoEvent = 0, ltDispatch = 1, ltTrigger = 2, ltError = 3, ltThread = 4,
                         ltTrigAllc = 5, ltTrigDisp = 6, ltTrgHdAlc = 7, ltTrgHdDsp = 8, ltTrDatChg = 9,
                         ltTelnet = 10, ltUser = 19;

inline constexpr uint16_t lsReadCom = 1, lsWriteCom = 2, lsLineStatus = 3, lsModemStatus = 4, lsAvail = 5,
                          lsTimer = 6, lsData = 7, lsStatus = 8, lsStatusTrigger = 15, lsAvailChange = 16,
                          lsWindow = 17;

inline constexpr uint32_t kMaxTraceCapacity = 4000000;
inline constexpr uint32_t kMaxLogLimit = 16000000;

}  // namespace linograf::serial
