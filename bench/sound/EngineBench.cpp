#include "bench/sound/EngineBench.h"

#include "audio/ZivraAudioEnvironment.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <cstdio>
#include <fstream>
#include <vector>

namespace zivra::audio {

void writeWave(const std::string& path, std::size_t frames,
               const std::function<std::pair<float, float>(std::size_t)>& generator) {
    std::vector<float> data(frames * 2);
    for (std::size_t i = 0; i < frames; ++i) {
        std::tie(data[2 * i], data[2 * i + 1]) = generator(i);
    }
    std::ofstream out(path, std::ios::binary);
    auto put32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto put16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    const auto bytes = static_cast<std::uint32_t>(data.size() * 4);
    out.write("RIFF", 4);
    put32(36 + bytes);
    out.write("WAVEfmt ", 8);
    put32(16);
    put16(3);
    put16(2);
    put32(benchRate);
    put32(benchRate * 8);
    put16(8);
    put16(32);
    out.write("data", 4);
    put32(bytes);
    out.write(reinterpret_cast<const char*>(data.data()), bytes);
}

void spin(int milliseconds) {
    QDeadlineTimer timer(milliseconds);
    while (!timer.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

std::unique_ptr<ZivraAudio> startEngine(float cents, VocalRemovalMode vocals) {
    auto engine = std::make_unique<ZivraAudio>(ZivraAudioEnvironment::system());
    // Vocal removal "Off" keeps the engine running with the sound unchanged.
    engine->setRemoveVocalsEnabled(true);
    engine->setVocalRemovalMode(vocals);
    engine->setPitchCents(cents);
    engine->setPitchEnabled(cents != 0);
    spin(1500);
    if (!engine->isEngineRunning()) {
        std::printf("engine did not start: %s\n", engine->statusText().toUtf8().constData());
        return nullptr;
    }
    return engine;
}

RenderCounts countsOf(const ZivraAudio& engine) {
    const auto counters = engine.renderCounters();
    return counters ? RenderCounts{counters->trims.load(), counters->underruns.load()}
                    : RenderCounts{};
}

} // namespace zivra::audio
