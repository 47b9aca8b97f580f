#pragma once

#include <rubberband/RubberBandStretcher.h>

#include <atomic>
#include <cstdint>
#include <vector>

namespace zivra::platform::sound {

// Shifts the pitch of stereo audio without changing its speed, over Rubber
// Band in real-time mode. Settings may be changed from any thread; the render
// thread takes them over in beginBlock(), never while audio is processed.
// Output comes in bursts, so it is collected in a FIFO that the render thread
// reads from. Everything is allocated by the constructor, which is the only
// member that throws (std::bad_alloc, or what Rubber Band throws); the caller
// (the render graph) owns the stage. The buffers passed in are borrowed.
class TimePitchStage {
public:
    // The options every use of the stage (and its benchmark reference) shares.
    static constexpr RubberBand::RubberBandStretcher::Options options =
        RubberBand::RubberBandStretcher::OptionProcessRealTime |
        RubberBand::RubberBandStretcher::OptionEngineFiner |
        RubberBand::RubberBandStretcher::OptionWindowShort |
        RubberBand::RubberBandStretcher::OptionPitchHighConsistency |
        RubberBand::RubberBandStretcher::OptionChannelsTogether |
        RubberBand::RubberBandStretcher::OptionThreadingNever;

    // Frames the output FIFO holds.
    static constexpr std::uint32_t fifoFrames = 3100;

    TimePitchStage(double sampleRate, std::uint32_t maxBlockFrames);

    // Pitch in cents (limited to two octaves either way, like the unit it
    // replaces); bypass passes audio through untouched.
    void setPitch(float cents);
    void setBypass(bool bypass);

    // Render thread, at the start of each block: applies changed settings.
    // Returns whether the stage is bypassed for this block.
    bool beginBlock();

    // Render thread: feeds frames (at most maxBlockFrames) of both channels.
    void process(const float* const* input, std::uint32_t frames);

    // Render thread: frames waiting in the FIFO, and taking them out. read()
    // returns how many frames it wrote (at most frames).
    std::uint32_t buffered() const { return fifoFill_; }
    std::uint32_t read(float* const* output, std::uint32_t frames);

    // Pitch ratio for cents: 2^(cents/1200), after the limits above. Any thread.
    static double ratioForCents(float cents);

private:
    void feedSilence();
    void collect();

    RubberBand::RubberBandStretcher stretcher_;
    std::vector<float> fifo_[2];
    std::uint32_t fifoStart_ = 0;
    std::uint32_t fifoFill_ = 0;
    std::vector<float> scratch_[2];
    std::vector<float> silence_;    // one block
    bool started_ = false;          // audio went in since the stage last shifted
    std::uint32_t discard_ = 0;     // frames of the stretcher's output still to drop
    std::uint32_t flushFrames_ = 0; // silence still to feed while bypassed
    std::atomic<float> pendingCents_{0.0f};
    std::atomic<bool> pendingBypass_{true};
    float cents_ = 0.0f;
    bool bypass_ = true;
};

} // namespace zivra::platform::sound
