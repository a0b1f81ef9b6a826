#include "serial/port_errors.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "serial/platform_error.h"

namespace linograf::serial {
namespace {

struct MessageEntry {
    int32_t code;  // absolute value; the table is sorted by it
    const char* text;
};

// The texts this system shows or writes. Codes 0..162 are the runtime's I/O error texts (also used
// for the trace and log files); 15001..15021 and 15101..15119 are the names the dispatch log prints
// for entry types and subtypes. Mapped codes this system never produces have no text here.
constexpr MessageEntry kMessages[] = {
    {0, "OK"},
    {2, "File not found"},
    {3, "Path not found"},
    {4, "Too many open files"},
    {5, "File access denied"},
    {6, "Invalid file handle"},
    {8, "Insufficient memory"},
    {15, "Invalid drive"},
    {18, "No more files"},
    {100, "Attempt to read beyond end of file"},
    {101, "Disk is full"},
    {102, "File/device not assigned"},
    {103, "File/device not open"},
    {104, "File/device not open for input"},
    {105, "File/device not open for output"},
    {150, "Disk is write-protected"},
    {151, "Unknown disk unit"},
    {152, "Drive is not ready"},
    {153, "Unknown command"},
    {154, "Data error"},
    {155, "Bad request structure length"},
    {156, "Seek error"},
    {157, "Unknown media type"},
    {158, "Disk sector not found"},
    {159, "Printer is out of paper"},
    {160, "Device write error"},
    {161, "Device read error"},
    {162, "General failure"},
    {1002, "Bad argument passed to function"},
    {2001, "ie_BadId - Specified comport doesn't exist"},
    // Settings the terminal cannot carry out (serial/termios_control_block.h); each names the setting.
    {2002, "ie_Baudrate - Unsupported baud rate"},
    {2003, "ie_ByteSize - Unsupported number of data bits (5 to 8 are possible)"},
    {2004,
     "ie_Default - Unsupported parity or stop bits (1.5 stop bits only with 5 data bits, 2 only with 6 to "
     "8)"},
    {2005, "ie_Hardware - Unsupported handshake (no DTR/DSR flow control or RTS toggling on this device)"},
    {2007, "ie_NOpen - device not open"},
    {2008, "ie_Open - device already open"},
    {2011, "The ComNumber property of the TNlkComPort has not been set"},
    {2012, "Comport was not opened by Tapi"},
    {3001, "No device layer specified"},
    {3007, "Buffer is empty"},
    {13868, "No memory"},
    {15001, "No event"},
    {15002, "Dispatch"},
    {15003, "Trigger"},
    {15004, "Error"},
    {15005, "Thread"},
    {15006, "TrigAllc"},
    {15007, "TrigDisp"},
    {15008, "TrgHdAlc"},
    {15009, "TrgHdDsp"},
    {15010, "TrDatChg"},
    {15011, "Telnet"},
    {15012, "Fax"},
    {15013, "XModem"},
    {15014, "YModem"},
    {15015, "ZModem"},
    {15016, "Kermit"},
    {15017, "Ascii"},
    {15018, "BPlus"},
    {15019, "Packet"},
    {15020, "User"},
    {15021, "Script"},
    {15101, "ReadCom"},
    {15102, "WriteCom"},
    {15103, "Line status"},
    {15104, "Modem status"},
    {15105, "Avail"},
    {15106, "Timer"},
    {15107, "Data"},
    {15108, "Status"},
    {15109, "Start"},
    {15110, "Exit"},
    {15111, "Sleep"},
    {15112, "Wake"},
    {15113, "Data"},
    {15114, "Timer"},
    {15115, "Status"},
    {15116, "Avail"},
    {15117, "Window"},
    {15118, "Procedure"},
    {15119, "Method"},
};

constexpr bool TableIsSorted() {
    for (size_t i = 1; i < std::size(kMessages); ++i)
        if (kMessages[i - 1].code >= kMessages[i].code) return false;
    return true;
}
static_assert(TableIsSorted(), "the message table is searched by halving: keep it sorted and unique");

template <class T>
[[noreturn]] void Raise(int32_t code) {
    throw T(code);
}

struct MappedCode {
    int32_t code;
    void (*raise)(int32_t);
};

constexpr MappedCode kMapped[] = {
    {-1002, Raise<EBadArgument>},
    {-1003, Raise<EGotQuitMsg>},
    {-1004, Raise<EBufferTooBig>},
    {-1005, Raise<EPortNotAssigned>},
    {-1006, Raise<EInternal>},
    {-1007, Raise<EModemNotAssigned>},
    {-1008, Raise<EPhonebookNotAssigned>},
    {-1009, Raise<ECannotUseWithWinSock>},
    {-7003, Raise<EInternal>},
    {-7006, Raise<EInternal>},
    {-7012, Raise<EInternal>},
    {-2001, Raise<EBadId>},
    {-2002, Raise<EBaudRate>},
    {-2003, Raise<EByteSize>},
    {-2004, Raise<EDefault>},
    {-2005, Raise<EHardware>},
    {-2006, Raise<EMemory>},
    {-2007, Raise<ECommNotOpen>},
    {-2008, Raise<EAlreadyOpen>},
    {-2009, Raise<ENoHandles>},
    {-2010, Raise<ENoTimers>},
    {-2011, Raise<ENoPortSelected>},
    {-2012, Raise<ENotOpenedByTapi>},
    {-3001, Raise<ENullApi>},
    {-3003, Raise<ERegisterHandlerFailed>},
    {-3004, Raise<EPutBlockFail>},
    {-3005, Raise<EGetBlockFail>},
    {-3006, Raise<EOutputBufferTooSmall>},
    {-3007, Raise<EBufferIsEmpty>},
    {-3008, Raise<ETracingNotEnabled>},
    {-3009, Raise<ELoggingNotEnabled>},
    {-3010, Raise<EBaseAddressNotSet>},
    {-4001, Raise<EModemNotStarted>},
    {-4002, Raise<EModemBusy>},
    {-4003, Raise<EModemNotDialing>},
    {-4004, Raise<ENotDialing>},
    {-4005, Raise<EAlreadyDialing>},
    {-4006, Raise<EModemNotResponding>},
    {-4007, Raise<EModemRejectedCommand>},
    {-4008, Raise<EModemStatusMismatch>},
    {-5001, Raise<ENoMoreTriggers>},
    {-5002, Raise<ETriggerTooLong>},
    {-5003, Raise<EBadTriggerHandle>},
    {-6006, Raise<EProtocol>},
    {-6008, Raise<EProtocol>},
    {-6009, Raise<EProtocol>},
    {-7001, Raise<EKeyTooLong>},
    {-7002, Raise<EDataTooLarge>},
    {-7004, Raise<EIniWrite>},
    {-7005, Raise<EIniRead>},
    {-7007, Raise<ERecordExists>},
    {-7008, Raise<ERecordNotFound>},
    {-7010, Raise<EDatabaseFull>},
    {-7011, Raise<EDatabaseEmpty>},
    {-7013, Raise<EBadFieldList>},
    {-7014, Raise<EBadFieldForIndex>},
    {-8001, Raise<EFaxBadFormat>},
    {-8002, Raise<EBadGraphicsFormat>},
    {-8003, Raise<EConvertAbort>},
    {-8004, Raise<EUnpackAbort>},
    {-8005, Raise<ECantMakeBitmap>},
    {-8053, Raise<EInvalidPageNumber>},
    {-8060, Raise<EFaxBadMachine>},
    {-8061, Raise<EFaxBadModemResult>},
    {-8062, Raise<EFaxTrainError>},
    {-8063, Raise<EFaxInitError>},
    {-8064, Raise<EFaxBusy>},
    {-8065, Raise<EFaxVoiceCall>},
    {-8066, Raise<EFaxDataCall>},
    {-8067, Raise<EFaxNoDialTone>},
    {-8068, Raise<EFaxNoCarrier>},
    {-8069, Raise<EFaxSessionError>},
    {-8070, Raise<EFaxPageError>},
    {-13801, Raise<ETapiAllocated>},
    {-13802, Raise<ETapiBadDeviceID>},
    {-13803, Raise<ETapiBearerModeUnavail>},
    {-13805, Raise<ETapiCallUnavail>},
    {-13806, Raise<ETapiCompletionOverrun>},
    {-13807, Raise<ETapiConferenceFull>},
    {-13808, Raise<ETapiDialBilling>},
    {-13809, Raise<ETapiDialDialtone>},
    {-13810, Raise<ETapiDialPrompt>},
    {-13811, Raise<ETapiDialQuiet>},
    {-13812, Raise<ETapiIncompatibleApiVersion>},
    {-13813, Raise<ETapiIncompatibleExtVersion>},
    {-13814, Raise<ETapiIniFileCorrupt>},
    {-13815, Raise<ETapiInUse>},
    {-13816, Raise<ETapiInvalAddress>},
    {-13817, Raise<ETapiInvalAddressID>},
    {-13818, Raise<ETapiInvalAddressMode>},
    {-13819, Raise<ETapiInvalAddressState>},
    {-13820, Raise<ETapiInvalAppHandle>},
    {-13821, Raise<ETapiInvalAppName>},
    {-13822, Raise<ETapiInvalBearerMode>},
    {-13823, Raise<ETapiInvalCallComplMode>},
    {-13824, Raise<ETapiInvalCallHandle>},
    {-13825, Raise<ETapiInvalCallParams>},
    {-13826, Raise<ETapiInvalCallPrivilege>},
    {-13827, Raise<ETapiInvalCallSelect>},
    {-13828, Raise<ETapiInvalCallState>},
    {-13829, Raise<ETapiInvalCallStatelist>},
    {-13830, Raise<ETapiInvalCard>},
    {-13831, Raise<ETapiInvalCompletionID>},
    {-13832, Raise<ETapiInvalConfCallHandle>},
    {-13833, Raise<ETapiInvalConsultCallHandle>},
    {-13834, Raise<ETapiInvalCountryCode>},
    {-13835, Raise<ETapiInvalDeviceClass>},
    {-13836, Raise<ETapiInvalDeviceHandle>},
    {-13837, Raise<ETapiInvalDialParams>},
    {-13838, Raise<ETapiInvalDigitList>},
    {-13839, Raise<ETapiInvalDigitMode>},
    {-13840, Raise<ETapiInvalDigits>},
    {-13841, Raise<ETapiInvalExtVersion>},
    {-13842, Raise<ETapiInvalGroupID>},
    {-13843, Raise<ETapiInvalLineHandle>},
    {-13844, Raise<ETapiInvalLineState>},
    {-13845, Raise<ETapiInvalLocation>},
    {-13846, Raise<ETapiInvalMediaList>},
    {-13847, Raise<ETapiInvalMediaMode>},
    {-13848, Raise<ETapiInvalMessageID>},
    {-13850, Raise<ETapiInvalParam>},
    {-13851, Raise<ETapiInvalParkID>},
    {-13852, Raise<ETapiInvalParkMode>},
    {-13853, Raise<ETapiInvalPointer>},
    {-13854, Raise<ETapiInvalPrivSelect>},
    {-13855, Raise<ETapiInvalRate>},
    {-13856, Raise<ETapiInvalRequestMode>},
    {-13857, Raise<ETapiInvalTerminalID>},
    {-13858, Raise<ETapiInvalTerminalMode>},
    {-13859, Raise<ETapiInvalTimeout>},
    {-13860, Raise<ETapiInvalTone>},
    {-13861, Raise<ETapiInvalToneList>},
    {-13862, Raise<ETapiInvalToneMode>},
    {-13863, Raise<ETapiInvalTransferMode>},
    {-13864, Raise<ETapiLineMapperFailed>},
    {-13865, Raise<ETapiNoConference>},
    {-13866, Raise<ETapiNoDevice>},
    {-13867, Raise<ETapiNoDriver>},
    {-13868, Raise<ETapiNoMem>},
    {-13869, Raise<ETapiNoRequest>},
    {-13870, Raise<ETapiNotOwner>},
    {-13871, Raise<ETapiNotRegistered>},
    {-13872, Raise<ETapiOperationFailed>},
    {-13873, Raise<ETapiOperationUnavail>},
    {-13874, Raise<ETapiRateUnavail>},
    {-13875, Raise<ETapiResourceUnavail>},
    {-13876, Raise<ETapiRequestOverrun>},
    {-13877, Raise<ETapiStructureTooSmall>},
    {-13878, Raise<ETapiTargetNotFound>},
    {-13879, Raise<ETapiTargetSelf>},
    {-13880, Raise<ETapiUninitialized>},
    {-13881, Raise<ETapiUserUserInfoTooBig>},
    {-13882, Raise<ETapiReinit>},
    {-13883, Raise<ETapiAddressBlocked>},
    {-13884, Raise<ETapiBillingRejected>},
    {-13885, Raise<ETapiInvalFeature>},
    {-13886, Raise<ETapiNoMultipleInstance>},
    {-13928, Raise<ETapiBusy>},
    {-13929, Raise<ETapiNotSet>},
    {-13930, Raise<ETapiNoSelect>},
    {-13931, Raise<ETapiLoadFail>},
    {-13932, Raise<ETapiGetAddrFail>},
    {-13935, Raise<ETapiVoiceNotSupported>},
    {-13936, Raise<ETapiWaveFail>},
    {-13942, Raise<ETapiTranslateFail>},
    {-13980, Raise<ERasLoadFail>},
};
static_assert(std::size(kMapped) == 166, "every code with a class of its own is listed once");

const MappedCode* FindMapped(int32_t code) {
    for (const auto& m : kMapped)
        if (m.code == code) return &m;
    return nullptr;
}

// The errno a platform error number stands for. The serial layer keeps Windows-style numbers
// for the logic that tests them (serial/platform_error.h); those it made up from an errno have to
// go back to that errno for their text, or 87 (EINVAL) would read as errno 87, "Too many users".
// Every other number in that range is the errno itself, passed through.
int ErrnoForPlatformError(int32_t number) {
    switch (number) {
        case kErrorInvalidParameter:
            return EINVAL;
        case kErrorPermissionDenied:
            return EACCES;
        case kErrorOperationAborted:
            return ECANCELED;
        case kErrorIoPending:
            return EINPROGRESS;
        default:
            return number;
    }
}

// The platform's own text for a number, or "" when it has none.
std::string PlatformMessage(int32_t platform_number) {
    const int number = ErrnoForPlatformError(platform_number);
    char buffer[256];
    const char* text = strerror_r(number, buffer, sizeof buffer);  // GNU variant
    std::string_view view(text);
    if (view.empty() || view.starts_with("Unknown error")) return {};
    return CleanSystemMessage(std::string(view.substr(0, 255)));
}

}  // namespace

std::string CleanSystemMessage(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 32) c = ' ';
    for (size_t at = text.find("  "); at != std::string::npos; at = text.find("  ", at)) text.erase(at, 1);
    return text;
}

std::string ErrorMessage(int32_t code) {
    const int64_t key = code < 0 ? -static_cast<int64_t>(code) : code;
    const auto* end = std::end(kMessages);
    const auto* it = std::lower_bound(std::begin(kMessages), end, key,
                                      [](const MessageEntry& e, int64_t k) { return e.code < k; });
    if (it != end && it->code == key) return it->text;
    if (key > INT32_MAX) return {};
    return PlatformMessage(static_cast<int32_t>(key));
}

ENLKException::ENLKException(int32_t code, const char* class_name)
    : std::runtime_error([&] {
          std::string text = ErrorMessage(code);
          return text.empty() ? std::string(class_name) : text;
      }()),
      code_(code) {}

ENLKException::ENLKException(const std::string& text) : std::runtime_error(text), code_(0) {}

int MappedCodeCount() {
    return static_cast<int>(std::size(kMapped));
}

bool IsMappedCode(int32_t code) {
    return FindMapped(code) != nullptr;
}

void RaiseErrorCode(int32_t code) {
    if (const MappedCode* m = FindMapped(code)) m->raise(code);
    if (code == ecOutOfMemory) throw EOutOfMemory();
    if (code >= -162 && code <= -2) throw EInOutError(ErrorMessage(code), -code);
    throw ENLKException(std::string("Nelk exception"));
}

int32_t CheckError(const ErrorOwner* owner, int32_t code) {
    if (code >= 0) return code;
    if (owner != nullptr && owner->IsLoading()) return code;
    RaiseErrorCode(code);
}

}  // namespace linograf::serial
