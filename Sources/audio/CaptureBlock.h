#pragma once

#include "MirrorBuffer/C/MirrorBuffer.h"
#include "audio/RingBuffer.h"
#include "platform/sound/CaptureDevice.h"

#include <memory>
#include <span>

namespace zivra::audio {

// Writes one captured block into the ring as interleaved stereo float frames
// (8 bytes each), whatever layout the device delivered: mono is duplicated
// into both channels, interleaved multichannel keeps channels 0 and 1, planar
// buffers take left from buffer 0 and right from buffer 1. A block is written
// whole or, when the ring lacks room for it, dropped. Capture thread; borrows
// the ring and the buffers for the call; never allocates, throws nothing.
void captureIntoRing(MirrorBuffer& ring, std::span<const platform::sound::AudioBuffer> input);

// The device callback of a graph: captures into the given ring, which it keeps
// alive (it must not be null). Built on the main thread; throws only
// std::bad_alloc.
platform::sound::CaptureBlock makeCaptureBlock(std::shared_ptr<RingBuffer> ring);

} // namespace zivra::audio
