#pragma once

#include "audio/RenderBlock.h"
#include "audio/VocalRemovalMode.h"
#include "audio/ZivraAudio.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

// What the sound benchmarks that drive the whole engine through the private
// test sound server share. Main thread only; nothing here throws beyond
// std::bad_alloc.
namespace zivra::audio {

inline constexpr int benchRate = 48000;

// Writes a 32-bit float stereo WAVE file at benchRate of the given length
// whose frame i is generator(i) = (left, right).
void writeWave(const std::string& path, std::size_t frames,
               const std::function<std::pair<float, float>(std::size_t)>& generator);

// Processes Qt events for the given time.
void spin(int milliseconds);

// Starts an engine on the system's services that plays what it captures on
// the default sink, shifted by cents (the pitch stage bypassed at 0), with
// vocal removal on in the given mode ("off" leaves the sound unchanged).
// Null, with the status printed, when it did not start. The caller owns it
// and ends it with cleanup().
std::unique_ptr<ZivraAudio> startEngine(float cents,
                                        VocalRemovalMode vocals = VocalRemovalMode::off);

// What the render path counted so far.
struct RenderCounts {
    std::uint64_t trims = 0;
    std::uint64_t underruns = 0;
};
RenderCounts countsOf(const ZivraAudio& engine);

} // namespace zivra::audio
