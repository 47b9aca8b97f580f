#pragma once

#include <cstdint>
#include <memory>
#include <span>

namespace zivra::platform::sound {

// Plays a sound held in memory over and over on the default output until it is stopped or
// destroyed; the end of the sound runs straight into its start, so a sound of whole periods
// loops without a seam. Every sample is scaled by the player's volume, a linear gain (1 = as
// recorded). The stream belongs to Zivra's process and is therefore never taken
// onto Zivra's own system-audio tap. Main thread only; play() and stop() throw nothing.
class TonePlayer {
public:
    virtual ~TonePlayer() = default;

    // Starts playing. Nothing happens once the player has been stopped.
    virtual void play() = 0;

    // Ends the sound at once and for good.
    virtual void stop() = 0;
};

// A player for a WAVE file in memory (16-bit integer PCM, any rate and channel count) at the
// volume given, ready to play on a connection of its own. The volume is fixed before the stream
// asks for its first samples, so not even those sound louder. Main thread; the caller owns the
// player, which keeps its own copy of the sound. Throws SoundError when the bytes
// are no such WAVE file (PA_ERR_INVALID) or the server cannot be reached or refuses the stream.
std::unique_ptr<TonePlayer> createTonePlayer(std::span<const std::uint8_t> wave, float volume);

} // namespace zivra::platform::sound
