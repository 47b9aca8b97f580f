#include "audio/TapBlock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <vector>

namespace zivra::audio {

namespace {

struct Recorder {
    int appended = 0;
    std::optional<MeterReading> published;
    zivra::platform::sound::TapBlock block(std::weak_ptr<const void> engine) {
        return makeTapBlock(
            std::move(engine), [this](const AudioPCMBuffer&) { ++appended; },
            [this](const MeterReading& reading) { published = reading; });
    }
};

AudioPCMBuffer view(const float* const* channels, std::uint32_t frames) {
    return AudioPCMBuffer{channels, 2, frames, 48000};
}

TEST(TapBlock, ShortBufferRepeatsItsLastSample) {
    std::vector<float> samples(10);
    for (int i = 0; i < 10; ++i) {
        samples[i] = -0.1f * static_cast<float>(i + 1);
    }
    const float* channels[] = {samples.data(), samples.data()};
    const MeterReading reading = measureTapBuffer(view(channels, 10));
    for (int k = 0; k < 28; ++k) {
        EXPECT_EQ(reading.waveform[k], std::fabs(samples[std::min(k, 9)])) << k;
    }
}

TEST(TapBlock, FullBufferIsSampledEvery36Frames) {
    std::vector<float> samples(1024);
    for (int i = 0; i < 1024; ++i) {
        samples[i] = static_cast<float>(i) / -1024.0f;
    }
    const float* channels[] = {samples.data(), samples.data()};
    const MeterReading reading = measureTapBuffer(view(channels, 1024));
    for (int k = 0; k < 28; ++k) {
        EXPECT_EQ(reading.waveform[k], static_cast<float>(36 * k) / 1024.0f) << k;
    }
}

TEST(TapBlock, LevelIsTheRmsOfChannelZero) {
    std::vector<float> half(1024, 0.5f);
    std::vector<float> loud(1024, 1.0f);
    const float* channels[] = {half.data(), loud.data()};
    EXPECT_FLOAT_EQ(measureTapBuffer(view(channels, 1024)).level, 0.5f);
    std::vector<float> square(1000);
    for (int i = 0; i < 1000; ++i) {
        square[i] = i % 2 ? 0.3f : -0.3f;
    }
    const float* squareChannels[] = {square.data(), loud.data()};
    EXPECT_NEAR(measureTapBuffer(view(squareChannels, 1000)).level, 0.3f, 1e-5f);
}

TEST(TapBlock, StreamerGetsEveryBufferAndMetersNeedAnEngine) {
    std::vector<float> samples(1024, 0.5f);
    const float* channels[] = {samples.data(), samples.data()};
    auto engine = std::make_shared<int>(0);
    Recorder recorder;
    auto block = recorder.block(engine);

    block(view(channels, 1024));
    EXPECT_EQ(recorder.appended, 1);
    ASSERT_TRUE(recorder.published);
    EXPECT_FLOAT_EQ(recorder.published->level, 0.5f);

    recorder.published.reset();
    block(view(channels, 0));
    block(AudioPCMBuffer{nullptr, 0, 1024, 48000});
    EXPECT_EQ(recorder.appended, 3);
    EXPECT_FALSE(recorder.published);

    engine.reset();
    block(view(channels, 1024));
    EXPECT_EQ(recorder.appended, 4);
    EXPECT_FALSE(recorder.published);
}

} // namespace

} // namespace zivra::audio
