#pragma once

#include <string>

namespace torvaline {

// Misuse of the download component, numbered from 1: 0 stays free to mean "no error".
enum class ErrorCode : int {
    ecBusy = 1,
    ecNotActive = 2,
    ecNotSpecified = 3,
    // The worker thread could not be created; the component stays idle and usable.
    ecThreadFailed = 4,
};

// The fixed message of a code, as Windows-1252 bytes.
const std::string& ErrorMessage(ErrorCode code);

// Windows-1252 bytes as UTF-8, for showing such a message in the UI.
std::string Windows1252ToUtf8(const std::string& text);

} // namespace torvaline
