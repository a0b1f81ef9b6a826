#pragma once
// Result codes and the exceptions they turn into at the component's surface.
//
// Inside the serial subsystem a failure is a negative 32-bit result code; worker threads never
// throw across threads. `CheckError` is the one place where a code becomes an exception: each of
// the 166 mapped codes has its own class (grouped under ten family classes), codes -2..-162 are
// the runtime's I/O errors, and anything else is the generic "Nelk exception".
#include <cstdint>
#include <stdexcept>
#include <string>

namespace linograf::serial {

// Text for a code: the message table first, else the platform's own text for the number
// (strerror, control characters turned into spaces and runs of spaces collapsed), else "".
std::string ErrorMessage(int32_t code);

// A system message made fit for one line: every character below 32 (line breaks, tabs) becomes a
// space, and each run of spaces shrinks to one.
std::string CleanSystemMessage(std::string text);

// Whatever owns the port: while it is being loaded from its stored description, errors are
// returned instead of raised.
class ErrorOwner {
  public:
    virtual bool IsLoading() const = 0;

  protected:
    ~ErrorOwner() = default;
};

// Returns a code that is not negative; raises the code's exception otherwise (unless the owner
// is loading, then the code comes back unchanged). `owner` may be null.
int32_t CheckError(const ErrorOwner* owner, int32_t code);
inline int32_t CheckError(int32_t code) {
    return CheckError(nullptr, code);
}

// Throws the exception CheckError would raise for a negative code, whatever the owner state.
[[noreturn]] void RaiseErrorCode(int32_t code);

class ENLKException : public std::runtime_error {
  public:
    // The message is ErrorMessage(code); when the table and the platform have none, the class's
    // own name, so that no exception ever carries an empty text.
    ENLKException(int32_t code, const char* class_name);
    explicit ENLKException(const std::string& text);  // error code 0
    int32_t ErrorCode() const noexcept { return code_; }

  private:
    int32_t code_;
};

// The runtime's I/O error (codes -2..-162 except -8): the message is the table's text and the
// error code is the positive number.
class EInOutError : public std::runtime_error {
  public:
    EInOutError(const std::string& message, int error_code)
        : std::runtime_error(message), error_code_(error_code) {}
    int ErrorCode() const noexcept { return error_code_; }

  private:
    int error_code_;
};

// The runtime's out-of-memory error (code -8).
class EOutOfMemory : public std::runtime_error {
  public:
    EOutOfMemory() : std::runtime_error("Out of memory") {}
};

// clang-format off
#define LINOGRAF_NLK_FAMILY(Name)                                                            \
    class Name : public ENLKException {                                                      \
    public:                                                                                  \
        explicit Name(int32_t code, const char* class_name = #Name)                          \
            : ENLKException(code, class_name) {}                                             \
        explicit Name(const std::string& text) : ENLKException(text) {}                      \
    };
LINOGRAF_NLK_FAMILY(EGeneral)
LINOGRAF_NLK_FAMILY(EOpenComm)
LINOGRAF_NLK_FAMILY(ESerialIO)
LINOGRAF_NLK_FAMILY(EModem)
LINOGRAF_NLK_FAMILY(ETrigger)
LINOGRAF_NLK_FAMILY(EProtocol)
LINOGRAF_NLK_FAMILY(EINI)
LINOGRAF_NLK_FAMILY(EFax)
LINOGRAF_NLK_FAMILY(ETapi)
LINOGRAF_NLK_FAMILY(ERas)
#undef LINOGRAF_NLK_FAMILY

// Leaf classes: (class, family). The code of each is in the mapping table of port_errors.cpp.
#define LINOGRAF_NLK_LEAF_CLASSES(X)                                                          \
    X(EBadArgument, EGeneral) X(EGotQuitMsg, EGeneral) X(EBufferTooBig, EGeneral)             \
    X(EPortNotAssigned, EGeneral) X(EInternal, EGeneral) X(EModemNotAssigned, EGeneral)       \
    X(EPhonebookNotAssigned, EGeneral) X(ECannotUseWithWinSock, EGeneral)                     \
    X(EBadId, EOpenComm) X(EBaudRate, EOpenComm) X(EByteSize, EOpenComm)                      \
    X(EDefault, EOpenComm) X(EHardware, EOpenComm) X(EMemory, EOpenComm)                      \
    X(ECommNotOpen, EOpenComm) X(EAlreadyOpen, EOpenComm) X(ENoHandles, EOpenComm)            \
    X(ENoTimers, EOpenComm) X(ENoPortSelected, EOpenComm) X(ENotOpenedByTapi, EOpenComm)      \
    X(ENullApi, ESerialIO) X(ERegisterHandlerFailed, ESerialIO) X(EPutBlockFail, ESerialIO)   \
    X(EGetBlockFail, ESerialIO) X(EOutputBufferTooSmall, ESerialIO)                           \
    X(EBufferIsEmpty, ESerialIO) X(ETracingNotEnabled, ESerialIO)                             \
    X(ELoggingNotEnabled, ESerialIO) X(EBaseAddressNotSet, ESerialIO)                         \
    X(EModemNotStarted, EModem) X(EModemBusy, EModem) X(EModemNotDialing, EModem)             \
    X(ENotDialing, EModem) X(EAlreadyDialing, EModem) X(EModemNotResponding, EModem)          \
    X(EModemRejectedCommand, EModem) X(EModemStatusMismatch, EModem)                          \
    X(ENoMoreTriggers, ETrigger) X(ETriggerTooLong, ETrigger) X(EBadTriggerHandle, ETrigger)  \
    X(EKeyTooLong, EINI) X(EDataTooLarge, EINI) X(EIniWrite, EINI) X(EIniRead, EINI)          \
    X(ERecordExists, EINI) X(ERecordNotFound, EINI) X(EDatabaseFull, EINI)                    \
    X(EDatabaseEmpty, EINI) X(EBadFieldList, EINI) X(EBadFieldForIndex, EINI)                 \
    X(EFaxBadFormat, EFax) X(EBadGraphicsFormat, EFax) X(EConvertAbort, EFax)                 \
    X(EUnpackAbort, EFax) X(ECantMakeBitmap, EFax) X(EInvalidPageNumber, EFax)                \
    X(EFaxBadMachine, EFax) X(EFaxBadModemResult, EFax) X(EFaxTrainError, EFax)               \
    X(EFaxInitError, EFax) X(EFaxBusy, EFax) X(EFaxVoiceCall, EFax) X(EFaxDataCall, EFax)     \
    X(EFaxNoDialTone, EFax) X(EFaxNoCarrier, EFax) X(EFaxSessionError, EFax)                  \
    X(EFaxPageError, EFax)                                                                    \
    X(ETapiAllocated, ETapi) X(ETapiBadDeviceID, ETapi) X(ETapiBearerModeUnavail, ETapi)      \
    X(ETapiCallUnavail, ETapi) X(ETapiCompletionOverrun, ETapi) X(ETapiConferenceFull, ETapi) \
    X(ETapiDialBilling, ETapi) X(ETapiDialDialtone, ETapi) X(ETapiDialPrompt, ETapi)          \
    X(ETapiDialQuiet, ETapi) X(ETapiIncompatibleApiVersion, ETapi)                            \
    X(ETapiIncompatibleExtVersion, ETapi) X(ETapiIniFileCorrupt, ETapi) X(ETapiInUse, ETapi)  \
    X(ETapiInvalAddress, ETapi) X(ETapiInvalAddressID, ETapi) X(ETapiInvalAddressMode, ETapi) \
    X(ETapiInvalAddressState, ETapi) X(ETapiInvalAppHandle, ETapi)                            \
    X(ETapiInvalAppName, ETapi) X(ETapiInvalBearerMode, ETapi)                                \
    X(ETapiInvalCallComplMode, ETapi) X(ETapiInvalCallHandle, ETapi)                          \
    X(ETapiInvalCallParams, ETapi) X(ETapiInvalCallPrivilege, ETapi)                          \
    X(ETapiInvalCallSelect, ETapi) X(ETapiInvalCallState, ETapi)                              \
    X(ETapiInvalCallStatelist, ETapi) X(ETapiInvalCard, ETapi)                                \
    X(ETapiInvalCompletionID, ETapi) X(ETapiInvalConfCallHandle, ETapi)                       \
    X(ETapiInvalConsultCallHandle, ETapi) X(ETapiInvalCountryCode, ETapi)                     \
    X(ETapiInvalDeviceClass, ETapi) X(ETapiInvalDeviceHandle, ETapi)                          \
    X(ETapiInvalDialParams, ETapi) X(ETapiInvalDigitList, ETapi) X(ETapiInvalDigitMode, ETapi) \
    X(ETapiInvalDigits, ETapi) X(ETapiInvalExtVersion, ETapi) X(ETapiInvalGroupID, ETapi)     \
    X(ETapiInvalLineHandle, ETapi) X(ETapiInvalLineState, ETapi) X(ETapiInvalLocation, ETapi) \
    X(ETapiInvalMediaList, ETapi) X(ETapiInvalMediaMode, ETapi)                               \
    X(ETapiInvalMessageID, ETapi) X(ETapiInvalParam, ETapi) X(ETapiInvalParkID, ETapi)        \
    X(ETapiInvalParkMode, ETapi) X(ETapiInvalPointer, ETapi) X(ETapiInvalPrivSelect, ETapi)   \
    X(ETapiInvalRate, ETapi) X(ETapiInvalRequestMode, ETapi) X(ETapiInvalTerminalID, ETapi)   \
    X(ETapiInvalTerminalMode, ETapi) X(ETapiInvalTimeout, ETapi) X(ETapiInvalTone, ETapi)     \
    X(ETapiInvalToneList, ETapi) X(ETapiInvalToneMode, ETapi)                                 \
    X(ETapiInvalTransferMode, ETapi) X(ETapiLineMapperFailed, ETapi)                          \
    X(ETapiNoConference, ETapi) X(ETapiNoDevice, ETapi) X(ETapiNoDriver, ETapi)               \
    X(ETapiNoMem, ETapi) X(ETapiNoRequest, ETapi) X(ETapiNotOwner, ETapi)                     \
    X(ETapiNotRegistered, ETapi) X(ETapiOperationFailed, ETapi)                               \
    X(ETapiOperationUnavail, ETapi) X(ETapiRateUnavail, ETapi)                                \
    X(ETapiResourceUnavail, ETapi) X(ETapiRequestOverrun, ETapi)                              \
    X(ETapiStructureTooSmall, ETapi) X(ETapiTargetNotFound, ETapi) X(ETapiTargetSelf, ETapi)  \
    X(ETapiUninitialized, ETapi) X(ETapiUserUserInfoTooBig, ETapi) X(ETapiReinit, ETapi)      \
    X(ETapiAddressBlocked, ETapi) X(ETapiBillingRejected, ETapi)                              \
    X(ETapiInvalFeature, ETapi) X(ETapiNoMultipleInstance, ETapi) X(ETapiBusy, ETapi)         \
    X(ETapiNotSet, ETapi) X(ETapiNoSelect, ETapi) X(ETapiLoadFail, ETapi)                     \
    X(ETapiGetAddrFail, ETapi) X(ETapiVoiceNotSupported, ETapi) X(ETapiWaveFail, ETapi)       \
    X(ETapiTranslateFail, ETapi) X(ERasLoadFail, ERas)

#define LINOGRAF_NLK_LEAF(Name, Family)                                                       \
    class Name : public Family {                                                             \
    public:                                                                                  \
        explicit Name(int32_t code) : Family(code, #Name) {}                                 \
    };
LINOGRAF_NLK_LEAF_CLASSES(LINOGRAF_NLK_LEAF)
#undef LINOGRAF_NLK_LEAF
// clang-format on

// The result codes this system produces itself.
inline constexpr int32_t ecBadArgument = -1002;
inline constexpr int32_t ecBadId = -2001;
inline constexpr int32_t ecCommNotOpen = -2007;
inline constexpr int32_t ecAlreadyOpen = -2008;
inline constexpr int32_t ecNoPortSelected = -2011;
inline constexpr int32_t ecNotOpenedByTapi = -2012;
inline constexpr int32_t ecNullApi = -3001;
inline constexpr int32_t ecBufferIsEmpty = -3007;
inline constexpr int32_t ecTapiNoMem = -13868;
inline constexpr int32_t ecOutOfMemory = -8;

// Number of codes with a class of their own (the mapping of CheckError step 3).
int MappedCodeCount();
// True when `code` has a class of its own.
bool IsMappedCode(int32_t code);

}  // namespace linograf::serial
