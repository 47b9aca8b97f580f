#pragma once

#include <exception>
#include <optional>
#include <string>
#include <string_view>

namespace vuzozar {

// Base of the module's error types. Each error is one case of a small
// enumeration, most carrying a text; the description names the case and
// quotes the text, as in: recvFailed("Connection reset by peer"). Thrown on
// the thread that failed; the accessors return references into the error,
// valid while it lives, and throw nothing. Building one throws only
// std::bad_alloc.
class CaseError : public std::exception {
public:
    const char* what() const noexcept override { return description_.c_str(); }
    const std::string& description() const { return description_; }
    const std::string& message() const { return message_; }

protected:
    CaseError(std::string_view caseName, std::optional<std::string> message);

private:
    std::string message_;
    std::string description_;
};

} // namespace vuzozar
