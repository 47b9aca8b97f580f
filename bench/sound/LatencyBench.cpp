// Capture-to-output latency of Zivra's engine, measured with clicks through
// the private test sound server (run it inside one):
//   tests/support/session.sh --sound -- <build>/bench/sound/sound_latency_bench
// paplay plays a click every half second; the engine takes it from the tap
// and plays it on the default sink. One recording holds the tap's monitor
// (where each click enters) and the speakers' monitor (where it leaves) side
// by side, so both sides are on one clock. Needs PipeWire (pw-link) for that
// recording.
//
// Reported, each over several starts of the engine: the delay with the pitch
// stage bypassed and shifting (min / median / max of the per-start medians),
// the platform's floor (a loopback module from a null sink's monitor to the
// speakers, measured the same way), what the render path counted (backlogs
// dropped, underruns), and the drift test: the engine's process is stopped
// for half a second while the server goes on recording for it, and the delay
// two seconds later is compared with the delay before.
//
// With an argument, `sound_latency_bench SECONDS` instead runs the engine that
// long with the clicks playing and reports what the render path counted; it
// needs no PipeWire tools, so it measures on PulseAudio too.
#include "audio/RenderBlock.h"
#include "audio/ZivraAudio.h"
#include "bench/sound/EngineBench.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

namespace zivra::audio {

namespace {

constexpr int rate = benchRate;
constexpr double clickPeriod = 0.5;
constexpr float threshold = 0.05f;
constexpr int startsPerMode = 5;

void writeClicks(const std::string& path) {
    const auto period = static_cast<std::size_t>(clickPeriod * rate);
    const auto first = static_cast<std::size_t>(rate / 10);
    writeWave(path, static_cast<std::size_t>(rate) * 600, [&](std::size_t frame) {
        if (frame < first || (frame - first) % period >= 48) {
            return std::pair(0.0f, 0.0f);
        }
        // 1 ms at full scale, both channels
        const float value = ((frame - first) % 2) ? -0.8f : 0.8f;
        return std::pair(value, value);
    });
}

bool run(const QString& program, const QStringList& arguments) {
    return QProcess::execute(program, arguments) == 0;
}

// Onsets (frame indexes) of clicks in one channel of interleaved stereo.
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

struct Click {
    double at;    // seconds into the recording
    double delay; // seconds from the input to the output
};

// Records `seconds` with the speakers' monitor on the left and `inputPort`'s
// right channel on the right, running `during` once after `actionAfter`
// seconds. The probe is rewired with pw-link after the server connected it.
std::vector<Click> clicks(const QString& inputPort, double seconds, double actionAfter = -1,
                          const std::function<void()>& during = {}) {
    QProcess probe;
    probe.start("parec",
                {"--device=speakers.monitor", "--client-name=latencyprobe", "--format=float32le",
                 "--rate=48000", "--channels=2", "--raw", "--latency-msec=5"});
    spin(500);
    run("pw-link", {"-d", "speakers:monitor_FR", "latencyprobe:input_FR"});
    if (!run("pw-link", {inputPort, "latencyprobe:input_FR"})) {
        return {};
    }
    probe.readAllStandardOutput();
    QByteArray bytes;
    QDeadlineTimer timer(static_cast<qint64>(seconds * 1000));
    QDeadlineTimer action(static_cast<qint64>(actionAfter * 1000));
    bool acted = actionAfter < 0;
    while (!timer.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        probe.waitForReadyRead(10);
        bytes.append(probe.readAllStandardOutput());
        if (!acted && action.hasExpired()) {
            during();
            acted = true;
        }
    }
    probe.kill();
    probe.waitForFinished();
    std::vector<float> samples(static_cast<std::size_t>(bytes.size()) / sizeof(float));
    std::memcpy(samples.data(), bytes.constData(), samples.size() * sizeof(float));

    const auto in = onsets(samples, 1), out = onsets(samples, 0);
    std::vector<Click> result;
    for (const std::size_t start : in) {
        const auto end = std::lower_bound(out.begin(), out.end(), start);
        if (end != out.end() && *end - start < clickPeriod * 0.9 * rate) {
            result.push_back(
                {static_cast<double>(start) / rate, static_cast<double>(*end - start) / rate});
        }
    }
    return result;
}

double median(std::vector<double> values) {
    if (values.empty()) {
        return NAN;
    }
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double medianDelay(const std::vector<Click>& heard) {
    std::vector<double> delays;
    for (const Click& click : heard) {
        delays.push_back(click.delay);
    }
    return median(delays);
}

void report(const char* what, std::vector<double> values) {
    std::sort(values.begin(), values.end());
    if (values.empty()) {
        std::printf("%s: no clicks paired\n", what);
        return;
    }
    std::printf("%s: min %.1f ms, median %.1f ms, max %.1f ms (%zu starts)\n", what,
                values.front() * 1e3, median(values) * 1e3, values.back() * 1e3, values.size());
}

// Medians of startsPerMode fresh starts; adds what the render path counted.
std::vector<double> delaysOverStarts(float cents, RenderCounts& counts) {
    std::vector<double> result;
    for (int i = 0; i < startsPerMode; ++i) {
        auto engine = startEngine(cents);
        if (!engine) {
            continue;
        }
        // Counted while measured, not while the engine started.
        const RenderCounts started = countsOf(*engine);
        const double delay = medianDelay(clicks("zivra_tap:monitor_FR", 4));
        const RenderCounts now = countsOf(*engine);
        counts.trims += now.trims - started.trims;
        counts.underruns += now.underruns - started.underruns;
        engine->cleanup();
        if (!std::isnan(delay)) {
            result.push_back(delay);
        }
    }
    return result;
}

// The platform's own floor: a null sink looped back to the speakers by the
// server, measured like the engine.
double floorDelay() {
    QProcess load;
    load.start("pactl", {"load-module", "module-null-sink", "sink_name=floor_tap", "rate=48000",
                         "channels=2"});
    load.waitForFinished();
    const QString sinkModule = QString::fromUtf8(load.readAllStandardOutput()).trimmed();
    QProcess inputs;
    inputs.start("sh", {"-c", "pactl list short sink-inputs | awk '{print $1}'"});
    inputs.waitForFinished();
    for (const QByteArray& id : inputs.readAllStandardOutput().split('\n')) {
        if (!id.isEmpty()) {
            run("pactl", {"move-sink-input", QString::fromUtf8(id), "floor_tap"});
        }
    }
    // Loaded after the move, which would otherwise take its stream too.
    load.start("pactl", {"load-module", "module-loopback", "source=floor_tap.monitor",
                         "sink=speakers", "latency_msec=1"});
    load.waitForFinished();
    const QString loopModule = QString::fromUtf8(load.readAllStandardOutput()).trimmed();
    spin(500);
    const double delay = medianDelay(clicks("floor_tap:monitor_FR", 4));
    run("pactl", {"unload-module", loopModule});
    run("pactl", {"unload-module", sinkModule});
    return delay;
}

} // namespace

} // namespace zivra::audio

int main(int argc, char** argv) {
    using namespace zivra::audio;
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const std::string clickFile = dir.filePath("clicks.wav").toStdString();
    writeClicks(clickFile);
    QProcess player;
    player.start("paplay", {QString::fromStdString(clickFile)});
    spin(500);

    if (argc > 1) {
        const int seconds = std::atoi(argv[1]);
        for (const float cents : {0.0f, 100.0f}) {
            auto engine = startEngine(cents);
            if (!engine) {
                return 1;
            }
            const RenderCounts started = countsOf(*engine);
            spin(seconds * 1000);
            const RenderCounts now = countsOf(*engine);
            std::printf("%d s with pitch %s: %llu underruns, %llu backlogs dropped\n", seconds,
                        cents == 0 ? "off" : "on",
                        static_cast<unsigned long long>(now.underruns - started.underruns),
                        static_cast<unsigned long long>(now.trims - started.trims));
            engine->cleanup();
        }
        return 0;
    }

    RenderCounts offCounts, onCounts;
    const auto off = delaysOverStarts(0, offCounts);
    const auto on = delaysOverStarts(100, onCounts);

    // Drift: a stall of half a second leaves a backlog in the ring.
    double before = NAN, after = NAN;
    RenderCounts driftCounts;
    if (auto engine = startEngine(0)) {
        const double stallAt = 3;
        const auto heard = clicks("zivra_tap:monitor_FR", 9, stallAt, [] {
            // The whole engine stops; the server keeps recording for it and
            // hands over the backlog at once when it goes on.
            QProcess::startDetached("sh", {"-c", QString("kill -STOP %1; sleep 0.5; kill -CONT %1")
                                                     .arg(QCoreApplication::applicationPid())});
        });
        std::vector<double> early, late;
        for (const Click& click : heard) {
            if (click.at < stallAt) {
                early.push_back(click.delay);
            } else if (click.at > stallAt + 0.5 + 2) {
                late.push_back(click.delay);
            }
        }
        before = median(early);
        after = median(late);
        driftCounts = countsOf(*engine);
        engine->cleanup();
    }
    const double platform = floorDelay();
    player.kill();
    player.waitForFinished();

    report("capture-to-output latency, pitch off", off);
    report("capture-to-output latency, pitch on (+100 cents)", on);
    std::printf("platform floor (loopback module): %.1f ms\n", platform * 1e3);
    std::printf("render path, pitch off: %llu backlogs dropped, %llu underruns\n",
                static_cast<unsigned long long>(offCounts.trims),
                static_cast<unsigned long long>(offCounts.underruns));
    std::printf("render path, pitch on: %llu backlogs dropped, %llu underruns\n",
                static_cast<unsigned long long>(onCounts.trims),
                static_cast<unsigned long long>(onCounts.underruns));
    std::printf("drift: delay %.1f ms before a 500 ms stall, %.1f ms from 2 s after it "
                "(%llu backlogs dropped)\n",
                before * 1e3, after * 1e3, static_cast<unsigned long long>(driftCounts.trims));
    return 0;
}
