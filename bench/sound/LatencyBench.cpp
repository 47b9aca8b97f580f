// Capture-to-output latency of Zivra's engine, measured with clicks through
// the private test sound server (run it inside one):
//   tests/support/session.sh --sound -- <build>/bench/sound/sound_latency_bench
// paplay plays a click every half second; the engine takes it from the tap
// and plays it on the default sink. One recording holds the tap's monitor
// (where each click enters) and the speakers' monitor (where it leaves) side
// by side. Reported: the median delay with the pitch stage bypassed and with
// it shifting. Needs PipeWire (pw-link) for the side-by-side recording.
#include "audio/ZivraAudio.h"
#include "audio/ZivraAudioEnvironment.h"
#include "platform/sound/SoundServer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

namespace zivra::audio {

namespace {

constexpr int rate = 48000;
constexpr double clickPeriod = 0.5;
constexpr float threshold = 0.05f;

void writeClicks(const std::string& path) {
    const int frames = rate * 120;
    std::vector<float> data(static_cast<std::size_t>(frames) * 2, 0.0f);
    for (int start = rate / 10; start + 48 < frames;
         start += static_cast<int>(clickPeriod * rate)) {
        for (int i = 0; i < 48; ++i) { // 1 ms at full scale, both channels
            data[2 * static_cast<std::size_t>(start + i)] =
                data[2 * static_cast<std::size_t>(start + i) + 1] = (i % 2) ? -0.8f : 0.8f;
        }
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
    put32(rate);
    put32(rate * 8);
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

bool link(const QStringList& arguments) {
    return QProcess::execute("pw-link", arguments) == 0;
}

// Onsets (sample indexes) of clicks in one channel of interleaved stereo.
std::vector<std::size_t> onsets(const std::vector<float>& samples, int channel) {
    std::vector<std::size_t> result;
    const auto gap = static_cast<std::size_t>(clickPeriod / 2 * rate);
    std::size_t quiet = gap;
    for (std::size_t i = 0; 2 * i + 1 < samples.size(); ++i) {
        if (std::abs(samples[2 * i + static_cast<std::size_t>(channel)]) < threshold) {
            ++quiet;
            continue;
        }
        if (quiet >= gap) {
            result.push_back(i);
        }
        quiet = 0;
    }
    return result;
}

// One recording whose left channel is the speakers' monitor and whose right
// channel is the tap's monitor: both sides of the engine on one clock. The
// probe is rewired with PipeWire's pw-link after the sound server connected it.
// Returns the median delay from each click on the right to the same click on
// the left, in seconds; a negative value when nothing could be paired.
double medianDelay() {
    QProcess probe;
    probe.start("parec",
                {"--device=speakers.monitor", "--client-name=latencyprobe", "--format=float32le",
                 "--rate=48000", "--channels=2", "--raw", "--latency-msec=5"});
    spin(500);
    link({"-d", "speakers:monitor_FR", "latencyprobe:input_FR"});
    if (!link({"zivra_tap:monitor_FR", "latencyprobe:input_FR"})) {
        return -1;
    }
    probe.readAllStandardOutput();
    QByteArray bytes;
    QDeadlineTimer timer(8000);
    while (!timer.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        probe.waitForReadyRead(10);
        bytes.append(probe.readAllStandardOutput());
    }
    probe.kill();
    probe.waitForFinished();
    std::vector<float> samples(static_cast<std::size_t>(bytes.size()) / sizeof(float));
    std::memcpy(samples.data(), bytes.constData(), samples.size() * sizeof(float));

    const auto in = onsets(samples, 1), out = onsets(samples, 0);
    std::vector<double> delays;
    for (const std::size_t start : in) {
        const auto end = std::lower_bound(out.begin(), out.end(), start);
        if (end != out.end() && *end - start < clickPeriod * 0.9 * rate) {
            delays.push_back(static_cast<double>(*end - start) / rate);
        }
    }
    if (delays.empty()) {
        return -1;
    }
    std::nth_element(delays.begin(),
                     delays.begin() + static_cast<std::ptrdiff_t>(delays.size() / 2), delays.end());
    return delays[delays.size() / 2];
}

} // namespace

} // namespace zivra::audio

int main(int argc, char** argv) {
    using namespace zivra::audio;
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const std::string clicks = dir.filePath("clicks.wav").toStdString();
    writeClicks(clicks);
    QProcess player;
    player.start("paplay", {QString::fromStdString(clicks)});
    spin(500);

    ZivraAudioEnvironment environment;
    environment.sound = zivra::platform::sound::createSoundServer();
    ZivraAudio engine(std::move(environment));
    // Vocal removal "Off" keeps the engine running with the sound unchanged.
    engine.setRemoveVocalsEnabled(true);
    engine.setVocalRemovalMode(VocalRemovalMode::off);
    spin(1000);
    if (!engine.isEngineRunning()) {
        std::printf("engine did not start: %s\n", engine.statusText().toUtf8().constData());
        return 1;
    }
    const double bypassed = medianDelay();
    engine.setPitchCents(100);
    engine.setPitchEnabled(true);
    spin(1000);
    const double shifted = medianDelay();
    engine.cleanup();
    player.kill();
    player.waitForFinished();

    std::printf("capture-to-output latency, pitch off: %.1f ms\n", bypassed * 1e3);
    std::printf("capture-to-output latency, pitch on (+100 cents): %.1f ms\n", shifted * 1e3);
    std::printf("added by the time-pitch stage: %.1f ms\n", (shifted - bypassed) * 1e3);
}
