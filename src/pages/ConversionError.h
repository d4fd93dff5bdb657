#pragma once

#include <stdexcept>

namespace torvaline {

// A number or time text in a page that does not read as one. Caught by the page capture.
class ConversionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace torvaline
