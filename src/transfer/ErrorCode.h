#pragma once

#include <string>

namespace torvaline {

// Misuse of the download component. Numbered from 1, so that 0 never reads as an error to a
// handler that stores the code.
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
