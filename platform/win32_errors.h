// The Win32 error numbers this system reports or reads, in one place. Every
// backend answers with these values, so that the logic and the messages it
// prints are the same on every platform.
#pragma once

#include <cstdint>

namespace zw {

inline constexpr std::int32_t kErrorSuccess = 0;
inline constexpr std::int32_t kErrorFileNotFound = 2;
inline constexpr std::int32_t kErrorPathNotFound = 3;
inline constexpr std::int32_t kErrorTooManyOpenFiles = 4;
inline constexpr std::int32_t kErrorAccessDenied = 5;
inline constexpr std::int32_t kErrorInvalidHandle = 6;
inline constexpr std::int32_t kErrorNotEnoughMemory = 8;
inline constexpr std::int32_t kErrorGenFailure = 31;
inline constexpr std::int32_t kErrorSharingViolation = 32;
inline constexpr std::int32_t kErrorInvalidParameter = 87;
inline constexpr std::int32_t kErrorInsufficientBuffer = 122;
inline constexpr std::int32_t kErrorBadExeFormat = 193;
inline constexpr std::int32_t kErrorFilenameExcedRange = 206;
inline constexpr std::int32_t kErrorMoreData = 234;
inline constexpr std::int32_t kErrorNoUnicodeTranslation = 1113;
inline constexpr std::int32_t kErrorNotAllAssigned = 1300;
inline constexpr std::int32_t kErrorNoSuchPrivilege = 1313;
inline constexpr std::int32_t kErrorInvalidWindowHandle = 1400;
inline constexpr std::int32_t kErrorRpcServerUnavailable = 1722;

}  // namespace zw
