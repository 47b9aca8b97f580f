#pragma once

#include "platform/sound/AudioBuffers.h"

#include <optional>
#include <string>

namespace zivra::platform::sound {

// What the tap captures: every playback stream of every process except
// excludedProcessId (none excluded when empty). name is what the user sees for
// the tap's sink ("Zivra Tap").
struct TapDescription {
    std::string name;
    std::optional<long> excludedProcessId;
};

// The system-audio tap: a private sink that every foreign playback stream is
// moved onto while the tap exists, also streams that start later. Streams on
// the tap are silent on the speakers; what they play is readable from the
// tap's source. Destroying the tap gives each stream back to the sink it
// played on, or to the server's default sink when it followed the default or
// its sink is gone, and removes the sink. Main thread only; owned by whoever
// created it (the engine). The accessors return copies and throw nothing but
// std::bad_alloc.
class Tap {
public:
    virtual ~Tap() = default;

    // Rate and channel count of what the tap delivers; empty when the server
    // cannot tell (the engine reports "Could not read tap format").
    virtual std::optional<StreamFormat> format() = 0;

    // Name of the source that carries the tapped audio (the sink's monitor).
    virtual std::string sourceName() const = 0;
};

} // namespace zivra::platform::sound
