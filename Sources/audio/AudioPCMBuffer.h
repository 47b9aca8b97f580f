#pragma once

#include "platform/sound/AudioBuffers.h"

namespace zivra::audio {

// One buffer of the stream mixer's tap: non-interleaved 32-bit float channels,
// valid only while the call that hands it over runs. Borrowed: the tap owns the
// samples; copy what must outlive the call.
using AudioPCMBuffer = platform::sound::PcmBufferView;

} // namespace zivra::audio
