#include "audio/TapBlock.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace zivra::audio {

MeterReading measureTapBuffer(const AudioPCMBuffer& buffer) {
    const float* samples = buffer.channels[0];
    const std::uint32_t n = buffer.frameLength;
    const std::uint32_t step =
        n < MeterReading::waveformPoints ? 1 : n / MeterReading::waveformPoints;
    MeterReading reading;
    for (std::uint32_t k = 0; k < MeterReading::waveformPoints; ++k) {
        reading.waveform[k] = std::fabs(samples[std::min(k * step, n - 1)]);
    }
    float sumOfSquares = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
        sumOfSquares += samples[i] * samples[i];
    }
    reading.level = std::sqrt(sumOfSquares / float(std::max<std::uint32_t>(n, 1)));
    return reading;
}

platform::sound::TapBlock makeTapBlock(std::weak_ptr<const void> engine,
                                       std::function<void(const AudioPCMBuffer&)> append,
                                       std::function<void(const MeterReading&)> publish) {
    return [engine = std::move(engine), append = std::move(append),
            publish = std::move(publish)](const AudioPCMBuffer& buffer) {
        if (append) {
            append(buffer);
        }
        if (engine.expired()) {
            return;
        }
        if (!buffer.channels || buffer.channelCount == 0 || !buffer.channels[0] ||
            buffer.frameLength == 0) {
            return;
        }
        publish(measureTapBuffer(buffer));
    };
}

} // namespace zivra::audio
