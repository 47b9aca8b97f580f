#pragma once

#include "audio/AudioPCMBuffer.h"
#include "platform/sound/OutputGraph.h"

#include <array>
#include <functional>
#include <memory>

namespace zivra::audio {

// What the meters show for one tap buffer: 28 absolute samples of channel 0
// spread over the buffer, and the RMS level of channel 0.
struct MeterReading {
    static constexpr int waveformPoints = 28;
    std::array<float, waveformPoints> waveform{};
    float level = 0;
};

// Measures a buffer that has channel data and at least one frame. Tap thread
// (or any); borrows the buffer; never allocates, throws nothing.
MeterReading measureTapBuffer(const AudioPCMBuffer& buffer);

// The stream mixer's tap callback: hands every buffer to the phone streamer
// first, then, while the engine (observed through `engine`) still exists and
// the buffer carries audio, measures it and hands the reading to `publish`.
// Runs on the tap thread; the block keeps the two callbacks, which must not
// throw. Built on the main thread; throws only std::bad_alloc.
platform::sound::TapBlock makeTapBlock(std::weak_ptr<const void> engine,
                                       std::function<void(const AudioPCMBuffer&)> append,
                                       std::function<void(const MeterReading&)> publish);

} // namespace zivra::audio
