// A desktop task beside the render thread when the sound server goes on after
// a long stop. The engine shifts a tone by +300 cents with vocal removal on
// (karaoke); its render thread is pinned to the last core, where a task of
// normal priority wakes every millisecond (StarvedTask, at the highest nice
// level, so that what delays it is real-time threads rather than the other
// programs of a busy machine). The whole server is stopped (SIGSTOP) and
// continued STOPS times in a row; each run starts a new engine. Run inside the
// private test sound server, as root or within a real-time limit, so that
// Zivra's threads run in real time (the report says which do):
//   tests/support/session.sh --sound -- <build>/bench/sound/sound_resume_bench [STOPS
//   [SECONDS [RUNS]]]
//   tests/integration/pulseaudio-session.sh -- <build>/bench/sound/sound_resume_bench ...
// (4 stops of 60 s and 2 runs by default). Reported: the task's longest wait
// for its core while the engine plays, during each stop and in the 10 s after
// each resume, with the threads of Zivra and of the server that ran most in
// those 10 s; at the end, per resume, the least and the most of the longest
// waits over the runs. Which thread held the core in a wait is for a
// scheduler trace (sched_switch) of that core to tell.
#include "bench/sound/EngineBench.h"
#include "bench/sound/StarvedTask.h"
#include "bench/sound/ThreadTimes.h"
#include "tests/platform/sound/support/SoundServerTools.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

namespace zivra::audio {

namespace {

using namespace std::chrono_literals;

constexpr float shiftCents = 300;
constexpr auto afterResume = 10s;
constexpr auto playing = 5s;
constexpr std::size_t threadsShown = 5;

int lastCore() {
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency())) - 1;
}

// Puts the render thread on the core; a new output brings a new one.
void pinRenderThread(int core) {
    cpu_set_t cores;
    CPU_ZERO(&cores);
    CPU_SET(core, &cores);
    for (const auto& [thread, time] : threadTimes({getpid()})) {
        cpu_set_t now;
        if (time.name == "zivra.render" && sched_getaffinity(thread, sizeof now, &now) == 0 &&
            !CPU_EQUAL(&now, &cores)) {
            sched_setaffinity(thread, sizeof cores, &cores);
        }
    }
}

// paplay playing the tone, again whenever it ends.
class Tone {
public:
    explicit Tone(QString file) : file_(std::move(file)) { keepPlaying(); }
    ~Tone() {
        player_.kill();
        player_.waitForFinished();
    }
    Tone(const Tone&) = delete;
    Tone& operator=(const Tone&) = delete;
    void keepPlaying() {
        if (player_.state() == QProcess::NotRunning) {
            player_.start("paplay", {file_});
        }
    }

private:
    QString file_;
    QProcess player_;
};

// Processes Qt events while the condition holds or for the given time, with
// the render thread kept on its core. The main thread sleeps between events:
// a busy one would compete with the task for its core.
void play(
    Tone& tone, int core, std::chrono::milliseconds time,
    const std::function<bool()>& condition = [] { return true; }) {
    QDeadlineTimer deadline(time);
    QEventLoop loop;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        pinRenderThread(core);
        tone.keepPlaying();
        if (deadline.hasExpired() || !condition()) {
            loop.quit();
        }
    });
    tick.start(10);
    loop.exec();
}

double milliseconds(std::chrono::microseconds time) {
    return static_cast<double>(time.count()) / 1000;
}

void printRanMost(const ThreadTimes& before, const ThreadTimes& after) {
    for (const ThreadTime& time : ranMost(before, after, threadsShown)) {
        std::printf("    %-18s %s %s %6.1f ms\n", time.name.c_str(),
                    time.process == getpid() ? "zivra " : "server",
                    time.realtime ? ("fifo " + std::to_string(time.priority)).c_str() : "normal",
                    static_cast<double>(time.ranNanoseconds) / 1e6);
    }
}

// One engine through the stops: the longest wait after each resume.
std::vector<double> measure(Tone& tone, int stops, std::chrono::seconds stop) {
    const int core = lastCore();
    auto engine = startEngine(shiftCents, VocalRemovalMode::karaoke);
    if (!engine) {
        return {};
    }
    StarvedTask task(core);
    play(tone, core, playing);
    const auto servers = platform::sound::soundServerProcesses();
    std::vector<pid_t> watched = servers;
    watched.push_back(getpid());
    std::printf("  playing: longest wait %.1f ms\n", milliseconds(task.takeLongestWait()));
    for (const ThreadTime& time : ranMost({}, threadTimes({getpid()}), 64)) {
        if (time.realtime) {
            std::printf("    %s runs in real time (fifo %d)\n", time.name.c_str(), time.priority);
        }
    }
    std::vector<double> waits;
    for (int n = 1; n <= stops; ++n) {
        platform::sound::stopFor(servers, stop);
        play(tone, core, stop + 5s,
             [&] { return std::ranges::any_of(servers, platform::sound::stopped); });
        const double stopped = milliseconds(task.takeLongestWait());
        const ThreadTimes before = threadTimes(watched);
        play(tone, core, afterResume);
        waits.push_back(milliseconds(task.takeLongestWait()));
        std::printf("  stop %d: longest wait during the stop %.1f ms, after the resume %.1f ms; "
                    "ran most after it:\n",
                    n, stopped, waits.back());
        printRanMost(before, threadTimes(watched));
        std::fflush(stdout);
    }
    engine->cleanup();
    return waits;
}

} // namespace

} // namespace zivra::audio

int main(int argc, char** argv) {
    using namespace zivra::audio;
    QCoreApplication app(argc, argv);
    const int stops = argc > 1 ? std::max(1, std::atoi(argv[1])) : 4;
    const std::chrono::seconds stop(argc > 2 ? std::max(1, std::atoi(argv[2])) : 60);
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 2;
    QTemporaryDir dir;
    const QString file = dir.filePath("tone.wav");
    writeWave(file.toStdString(), benchRate * 30, [](std::size_t frame) {
        const auto value = static_cast<float>(
            0.3 * std::sin(2 * std::numbers::pi * 440 * static_cast<double>(frame) / benchRate));
        return std::pair(value, 0.5f * value);
    });
    Tone tone(file);
    std::vector<std::vector<double>> waits(static_cast<std::size_t>(stops));
    for (int run = 1; run <= runs; ++run) {
        std::printf("run %d:\n", run);
        const std::vector<double> measured = measure(tone, stops, stop);
        for (std::size_t n = 0; n < measured.size(); ++n) {
            waits[n].push_back(measured[n]);
        }
    }
    std::printf("%d stops of %lld s, %d runs, the task and the render thread on core %d\n", stops,
                static_cast<long long>(stop.count()), runs, lastCore());
    for (std::size_t n = 0; n < waits.size() && !waits[n].empty(); ++n) {
        const auto [least, most] = std::ranges::minmax(waits[n]);
        std::printf("resume %zu: longest wait %.1f-%.1f ms\n", n + 1, least, most);
    }
    return 0;
}
