// Clicks under load: the engine shifting a steady two-tone signal by +300
// cents while twice as many busy programs as the machine has cores compete
// for the CPU, against the sound server alone passing the same signal under
// the same load. Run inside the private test sound server:
//   tests/support/session.sh --sound -- <build>/bench/sound/sound_click_bench [RUNS [SECONDS
//   [BUSY]]]
// Each run records the speakers' monitor for SECONDS (30 by default) once
// with the engine processing and once with the server alone; a click is a
// 5 ms block whose level is under half the recording's median. The busy
// programs (BUSY of them, twice the cores by default) live only while a run
// records and are killed when it ends.
#include "bench/sound/EngineBench.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <thread>
#include <vector>

namespace zivra::audio {

namespace {

constexpr float shiftCents = 300;
constexpr std::size_t blockFrames = benchRate / 200; // 5 ms
// Left out of the count: the engine and the recorder settling in.
constexpr int settleMilliseconds = 1000;

// Two tones far apart and of unequal level: a 5 ms block of their sum never
// falls far below the median, so only a gap in the sound counts.
void writeTwoTones(const std::string& path, int seconds) {
    writeWave(path, static_cast<std::size_t>(benchRate) * static_cast<std::size_t>(seconds),
              [](std::size_t frame) {
                  const double t = static_cast<double>(frame) / benchRate;
                  const auto value =
                      static_cast<float>(0.3 * std::sin(2 * std::numbers::pi * 300 * t) +
                                         0.15 * std::sin(2 * std::numbers::pi * 1100 * t));
                  return std::pair(value, value);
              });
}

// Programs that keep a core busy each, for at most `seconds`; killed when the
// object goes, or with the benchmark should it die first.
class BusyPrograms {
public:
    BusyPrograms(unsigned count, int seconds) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        for (unsigned i = 0; i < count; ++i) {
            const pid_t pid = fork();
            if (pid == 0) {
                prctl(PR_SET_PDEATHSIG, SIGKILL);
                while (std::chrono::steady_clock::now() < end) {
                }
                _exit(0);
            }
            if (pid > 0) {
                pids_.push_back(pid);
            }
        }
    }
    ~BusyPrograms() {
        for (const pid_t pid : pids_) {
            kill(pid, SIGKILL);
        }
        for (const pid_t pid : pids_) {
            waitpid(pid, nullptr, 0);
        }
    }
    BusyPrograms(const BusyPrograms&) = delete;
    BusyPrograms& operator=(const BusyPrograms&) = delete;

private:
    std::vector<pid_t> pids_;
};

// Records the speakers' monitor into path for the given time (parec writes
// the file itself, so a starved benchmark loses nothing) and returns the left
// channel.
std::vector<float> recordSpeakers(const QString& path, int milliseconds) {
    QProcess recorder;
    recorder.start("parec", {"--device=speakers.monitor", "--format=float32le", "--rate=48000",
                             "--channels=2", "--raw", path});
    spin(milliseconds);
    recorder.terminate();
    recorder.waitForFinished();
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    const QByteArray bytes = file.readAll();
    std::vector<float> left(static_cast<std::size_t>(bytes.size()) / 8);
    for (std::size_t i = 0; i < left.size(); ++i) {
        std::memcpy(&left[i], bytes.constData() + 8 * i, sizeof(float));
    }
    return left;
}

// 5 ms blocks after the settling time under half the median block level.
int clicks(const std::vector<float>& samples) {
    std::vector<double> levels;
    for (std::size_t start = benchRate * settleMilliseconds / 1000;
         start + blockFrames <= samples.size(); start += blockFrames) {
        double sum = 0;
        for (std::size_t i = start; i < start + blockFrames; ++i) {
            sum += double{samples[i]} * samples[i];
        }
        levels.push_back(std::sqrt(sum / blockFrames));
    }
    if (levels.empty()) {
        return -1;
    }
    std::vector<double> sorted = levels;
    std::nth_element(sorted.begin(),
                     sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2), sorted.end());
    const double half = sorted[sorted.size() / 2] / 2;
    return static_cast<int>(
        std::count_if(levels.begin(), levels.end(), [half](double level) { return level < half; }));
}

struct Run {
    int processing = 0;
    int serverAlone = 0;
    RenderCounts counts;
};

Run measure(const QString& dir, const QString& tones, unsigned busy, int seconds) {
    Run run;
    const int recordMilliseconds = settleMilliseconds + seconds * 1000;
    {
        QProcess player;
        player.start("paplay", {tones});
        BusyPrograms load(busy, seconds + 10);
        auto engine = startEngine(shiftCents);
        if (!engine) {
            return {-1, -1, {}};
        }
        const RenderCounts started = countsOf(*engine);
        run.processing = clicks(recordSpeakers(dir + "/processing.raw", recordMilliseconds));
        const RenderCounts now = countsOf(*engine);
        run.counts = {now.trims - started.trims, now.underruns - started.underruns};
        engine->cleanup();
        player.kill();
        player.waitForFinished();
    }
    QProcess player;
    player.start("paplay", {"--device=speakers", tones});
    BusyPrograms load(busy, seconds + 5);
    spin(500);
    run.serverAlone = clicks(recordSpeakers(dir + "/alone.raw", recordMilliseconds));
    player.kill();
    player.waitForFinished();
    return run;
}

void report(const char* what, std::vector<int> counts) {
    std::sort(counts.begin(), counts.end());
    std::printf("%s: %d-%d clicks (", what, counts.front(), counts.back());
    for (std::size_t i = 0; i < counts.size(); ++i) {
        std::printf(i ? ", %d" : "%d", counts[i]);
    }
    std::printf(")\n");
}

} // namespace

} // namespace zivra::audio

int main(int argc, char** argv) {
    using namespace zivra::audio;
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const int seconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 30;
    const unsigned busy = argc > 3 ? static_cast<unsigned>(std::max(0, std::atoi(argv[3])))
                                   : 2 * std::max(1u, std::thread::hardware_concurrency());
    QTemporaryDir dir;
    const QString tones = dir.filePath("tones.wav");
    writeTwoTones(tones.toStdString(), seconds + 30);

    std::vector<int> processing, alone;
    for (int i = 0; i < runs; ++i) {
        const Run run = measure(dir.path(), tones, busy, seconds);
        std::printf("run %d: processing %d clicks (%llu underruns, %llu backlogs dropped), "
                    "server alone %d clicks\n",
                    i + 1, run.processing, static_cast<unsigned long long>(run.counts.underruns),
                    static_cast<unsigned long long>(run.counts.trims), run.serverAlone);
        std::fflush(stdout);
        processing.push_back(run.processing);
        alone.push_back(run.serverAlone);
    }
    std::printf("%u busy programs, %d s per recording, %d runs\n", busy, seconds, runs);
    report("processing (pitch +300 cents)", processing);
    report("sound server alone", alone);
    return 0;
}
