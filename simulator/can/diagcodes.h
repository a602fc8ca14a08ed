#pragma once
// Service identifiers and negative response codes of the diagnostic services the sensor offers.

#include <cstdint>

namespace trvsim {

namespace sid {
constexpr uint8_t kSessionControl = 0x10, kEcuReset = 0x11, kClearDtc = 0x14, kReadDtc = 0x19;
constexpr uint8_t kReadDataById = 0x22, kReadMemory = 0x23, kSecurityAccess = 0x27;
constexpr uint8_t kCommunicationControl = 0x28, kWriteDataById = 0x2E, kRoutineControl = 0x31;
constexpr uint8_t kRequestDownload = 0x34, kTransferData = 0x36, kTransferExit = 0x37;
constexpr uint8_t kTesterPresent = 0x3E, kControlDtcSetting = 0x85;
constexpr uint8_t kNegativeResponse = 0x7F;
} // namespace sid

namespace nrc {
constexpr uint8_t kServiceNotSupported = 0x11, kSubFunctionNotSupported = 0x12;
constexpr uint8_t kIncorrectLength = 0x13, kResponseTooLong = 0x14, kConditionsNotCorrect = 0x22,
                  kRequestSequenceError = 0x24;
constexpr uint8_t kRequestOutOfRange = 0x31, kSecurityAccessDenied = 0x33, kInvalidKey = 0x35;
constexpr uint8_t kExceededAttempts = 0x36, kTimeDelayNotExpired = 0x37;
constexpr uint8_t kUploadDownloadNotAccepted = 0x70, kTransferDataSuspended = 0x71;
constexpr uint8_t kGeneralProgrammingFailure = 0x72, kWrongBlockSequenceCounter = 0x73;
constexpr uint8_t kResponsePending = 0x78, kServiceNotSupportedInSession = 0x7F;
} // namespace nrc

} // namespace trvsim
