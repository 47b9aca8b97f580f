#pragma once

#include <stdexcept>
#include <string>

namespace zivra::audio {

// A failure of the engine's own making while it builds its graph; its text is
// what the status line shows after "Error: ". Thrown and caught on the main
// thread inside the engine's build; it never leaves ZivraAudio.
class EngineError : public std::runtime_error {
public:
    explicit EngineError(const std::string& message) : std::runtime_error(message) {}
};

} // namespace zivra::audio
