#pragma once

#include "MirrorBuffer/C/MirrorBuffer.h"
#include "audio/AudioParameters.h"
#include "audio/RingBuffer.h"
#include "platform/sound/OutputGraph.h"

#include <cstdint>
#include <memory>
#include <span>

namespace zivra::audio {

// Renders frameCount frames from the ring into the two output channels
// (buffer 0 left, buffer 1 right), applying vocal removal, dual mono and
// volume. With fewer than frameCount frames stored, or without two usable
// output buffers, it outputs silence, flags it and consumes nothing.
void renderFromRing(MirrorBuffer& ring, const AudioParameters& parameters, bool& isSilence,
                    std::uint32_t frameCount, std::span<platform::sound::AudioBuffer> output);

// The graph's source callback: renders from the given ring, which it keeps.
platform::sound::RenderBlock makeRenderBlock(std::shared_ptr<RingBuffer> ring,
                                             std::shared_ptr<const AudioParameters> parameters);

} // namespace zivra::audio
