// The tap against the private test server: which streams it captures, that it
// gives them back, also when its maker is killed or crashes, and that a tap
// left behind by an earlier run does not trap them, while the tap of a Zivra
// that still runs stays, also while the server lists its module but not yet
// its sink; two Zivras started together make one tap; odd files in place of
// the lock or the routes never hang a start.
#include "platform/sound/PulseLoop.h"
#include "platform/sound/RuntimeFolder.h"
#include "platform/sound/SoundError.h"
#include "platform/sound/SoundServer.h"
#include "platform/sound/TapGuard.h"
#include "platform/sound/TapModules.h"
#include "platform/sound/TapOwner.h"
#include "platform/sound/TapRoutesFile.h"
#include "tests/platform/sound/support/SaidLines.h"
#include "tests/platform/sound/support/SoundServerTools.h"
#include "tests/platform/sound/support/TestApplication.h"
#include "tests/platform/sound/support/ToneAnalysis.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>

#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace zivra::platform::sound {

using namespace std::chrono_literals;

namespace {

// A process id that was given and has ended (reaped).
pid_t endedProcess() {
    const pid_t ended = ::fork();
    if (ended == 0) {
        ::_exit(0);
    }
    ::waitpid(ended, nullptr, 0);
    return ended;
}

// PipeWire's object.serial of a sink, by which its own tools name it.
QString serialOf(const QString& sink) {
    for (const auto& value : pactlJson({"list", "sinks"})) {
        const QJsonObject object = value.toObject();
        if (object["name"].toString() == sink) {
            return object["properties"].toObject()["object.serial"].toString();
        }
    }
    return {};
}

using MakeFile = std::function<void(const std::filesystem::path&)>;

// What a user's folder may hold in place of a file of Zivra's.
const std::vector<std::pair<const char*, MakeFile>> notRegularFiles = {
    {"FIFO", [](const auto& path) { ::mkfifo(path.c_str(), 0600); }},
    {"directory", [](const auto& path) { std::filesystem::create_directory(path); }},
    {"link to /dev/zero",
     [](const auto& path) { std::filesystem::create_symlink("/dev/zero", path); }},
};

class TapTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureApplication(); }
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        tone = dir.filePath("tone.wav");
        writeCentreTone(tone, 440);
        otherTone = dir.filePath("other.wav");
        writeCentreTone(otherTone, 660);
    }

    std::optional<std::uint32_t> tapSink() const { return sinkIndex("zivra_tap"); }

    bool playsOn(const Player& player, std::optional<std::uint32_t> sink) const {
        const auto input = player.sinkInput();
        return input && sink && input->sink == *sink;
    }

    // What a run whose guard was killed with it leaves: the tap sink, with the properties given,
    // and the stream moved onto it.
    bool leaveATapWith(const Player& player, const std::string& properties) const {
        pactl({"load-module", "module-null-sink", "sink_name=zivra_tap",
               QString::fromStdString("sink_properties='" + properties + "'")});
        // The session manager may link the stream back after a move: moved until it stays.
        return waitUntil([&] {
            pactl({"move-sink-input", QString::number(player.sinkInput()->index), "zivra_tap"});
            return playsOn(player, tapSink());
        });
    }

    // The routes files this process's taps left in the runtime folder.
    static int ownRoutesFiles() {
        const std::string own = "zivra-tap-routes-" + std::to_string(getpid()) + '-';
        return static_cast<int>(std::ranges::count_if(
            std::filesystem::directory_iterator(runtimeFolder()),
            [&](const auto& entry) { return entry.path().filename().string().starts_with(own); }));
    }

    QTemporaryDir dir;
    QString tone, otherTone; // two frequencies: equal ones could cancel out
    std::shared_ptr<SoundServer> server = createSoundServer();
};

TEST_F(TapTest, CapturesForeignStreamsAndGivesThemBack) {
    Player before(tone);
    ASSERT_TRUE(waitUntil([&] { return playsOn(before, sinkIndex("speakers")); }));

    auto tap = server->createTap({"Zivra Tap", getpid()});
    ASSERT_TRUE(tapSink().has_value());
    EXPECT_TRUE(waitUntil([&] { return playsOn(before, tapSink()); }));
    EXPECT_EQ(tapGuardsOf(getpid()).size(), 1u);

    // A stream that starts while the tap exists is captured too, even one that
    // asked for another sink.
    Player later(otherTone, "headphones");
    EXPECT_TRUE(waitUntil([&] { return playsOn(later, tapSink()); }));

    // Streams on the tap are silent on the speakers.
    EXPECT_LT(rmsDb(record("speakers.monitor", 500ms)), -90);

    const auto format = tap->format();
    ASSERT_TRUE(format.has_value());
    EXPECT_EQ(format->sampleRate, 48000);
    EXPECT_EQ(format->channels, 2u);
    EXPECT_EQ(tap->sourceName(), "zivra_tap.monitor");

    tap.reset();
    EXPECT_TRUE(tapGuardsOf(getpid()).empty())
        << "the guard ends with the tap and is not left a zombie";
    EXPECT_FALSE(tapSink().has_value());
    EXPECT_TRUE(modulesWith("zivra_tap").empty());
    // Each stream goes back to the sink it played on, not all to the default.
    EXPECT_TRUE(waitUntil([&] { return playsOn(before, sinkIndex("speakers")); }));
    EXPECT_TRUE(waitUntil([&] { return playsOn(later, sinkIndex("headphones")); }));
    // Taken again while the server settles the moves on a busy machine: once
    // only the first player's tone may be on the speakers.
    double first = 0, second = 0;
    EXPECT_TRUE(waitUntil([&] {
        const auto speakers = mid(tail(record("speakers.monitor", 1500ms), 24000));
        first = levelDb(speakers, testRate, 440);
        second = levelDb(speakers, testRate, 660);
        return first > -20 && second < -60;
    })) << first
        << " dB of the first tone, " << second << " dB of the second";
    EXPECT_GT(levelDb(mid(tail(record("headphones.monitor", 1500ms), 24000)), testRate, 660), -20);
}

// Programs that start while the tap exists on a sink whose name it does not
// know yet: PipeWire lists a stream before it has placed it, and may list it
// before the new sink it plays on. Each is captured once the server has
// placed it, and goes back to the sink it played on.
TEST_F(TapTest, ProgramsOnASinkTheTapDoesNotKnowYetAreCapturedAndGivenBack) {
    const bool pipeWire = pactl({"info"}).contains("PipeWire");
    const auto headphones = sinkIndex("headphones");
    ASSERT_TRUE(headphones.has_value());
    auto tap = server->createTap({"Zivra Tap", getpid()});
    // A sink loaded as the program starts; PulseAudio refuses a program a sink
    // that is not there yet, so there it starts just after.
    auto plugging = std::async(std::launch::async, [] { plugIn("plugged"); });
    if (!pipeWire) {
        plugging.wait();
    }
    Player onNewSink(tone, "plugged");
    plugging.wait();
    Player byIndex(otherTone, QString::number(*headphones));
    std::vector<std::pair<const char*, const Player*>> players{{"on the new sink", &onNewSink},
                                                               {"by index", &byIndex}};
    // PulseAudio refuses a device that is not there; PipeWire plays it on the default.
    std::optional<Player> missing, bySerial;
    if (pipeWire) {
        missing.emplace(tone, "missing-usb-headset");
        bySerial.emplace(otherTone, serialOf("headphones"), PlayTool::pwPlay);
        players.insert(players.end(), {{"missing", &*missing}, {"by serial", &*bySerial}});
    }
    for (const auto& named : players) {
        const Player& player = *named.second;
        ASSERT_TRUE(waitUntil([&] { return player.sinkInput().has_value(); })) << named.first;
        EXPECT_TRUE(waitUntil([&] { return playsOn(player, tapSink()); }, 2s))
            << named.first << ": on sink " << player.sinkInput().value_or(SinkInputState{}).sink;
    }
    // One the user moves off the tap stays there: a program started after the
    // move is captured only once the tap has heard of it. PipeWire's session
    // manager may link a moved stream back (see leaveATapWith), which
    // PulseAudio never does: there it is checked.
    if (!pipeWire) {
        pactl({"move-sink-input", QString::number(byIndex.sinkInput()->index), "headphones"});
        Player afterTheMove(tone);
        EXPECT_TRUE(waitUntil([&] { return playsOn(afterTheMove, tapSink()); }));
        EXPECT_TRUE(playsOn(byIndex, headphones));
    }

    tap.reset();
    const auto backOn = [&](const Player& player, const QString& sink) {
        return waitUntil([&] { return playsOn(player, sinkIndex(sink)); });
    };
    EXPECT_TRUE(backOn(byIndex, "headphones"));
    // Placed on the default while the new sink was not there yet, it follows the default.
    EXPECT_TRUE(waitUntil([&] {
        return playsOn(onNewSink, sinkIndex("plugged")) ||
               playsOn(onNewSink, sinkIndex("speakers"));
    }));
    if (pipeWire) {
        EXPECT_TRUE(backOn(*missing, "speakers"));
        EXPECT_TRUE(backOn(*bySerial, "headphones"));
    }
    unplug("plugged");
}

TEST_F(TapTest, TheTapIsTheDefaultOnlyWhileNoOtherSinkExists) {
    auto tap = server->createTap({"Zivra Tap", getpid()});
    const QStringList devices{"speakers", "headphones", "micfeed"};
    for (const QString& device : devices) {
        unplug(device);
    }
    // Both servers make their last sink the default, whatever its priority.
    EXPECT_TRUE(waitUntil([&] { return defaultSinkName() == "zivra_tap"; }));
    // A device that never was the chosen default outranks the tap.
    plugIn("headset");
    EXPECT_TRUE(waitUntil([&] { return defaultSinkName() == "headset"; }))
        << defaultSinkName().toStdString();

    unplug("headset");
    for (const QString& device : devices) {
        plugIn(device);
    }
    pactl({"set-default-sink", "speakers"});
}

TEST_F(TapTest, LeavesTheExcludedProcessAlone) {
    Player excluded(tone);
    Player other(tone);
    ASSERT_TRUE(waitUntil([&] { return excluded.sinkInput() && other.sinkInput(); }));

    auto tap = server->createTap({"Zivra Tap", excluded.processId()});
    EXPECT_TRUE(waitUntil([&] { return playsOn(other, tapSink()); }));
    EXPECT_TRUE(playsOn(excluded, sinkIndex("speakers")));
}

TEST_F(TapTest, LeavesTheStreamsOfTheServersOwnModulesWhereTheServerPutThem) {
    const QString loopback =
        pactl({"load-module", "module-loopback", "source=micfeed.monitor", "sink=headphones"})
            .trimmed();
    auto tap = server->createTap({"Zivra Tap", getpid()});
    const QString remap =
        pactl({"load-module", "module-remap-sink", "sink_name=remapped", "master=speakers"})
            .trimmed();
    ASSERT_FALSE(loopback.isEmpty() || remap.isEmpty());
    const auto playsFor = [](const QString& module, std::optional<std::uint32_t> sink) {
        return std::ranges::any_of(sinkInputs(), [&](const SinkInputState& input) {
            return input.ownerModule == module.toUInt() && sink && input.sink == *sink;
        });
    };

    // A program playing on the remap sink is captured like any other.
    Player player(tone, "remapped");
    EXPECT_TRUE(waitUntil([&] { return playsOn(player, tapSink()); }));
    EXPECT_TRUE(waitUntil([&] { return playsFor(remap, sinkIndex("speakers")); }));
    EXPECT_TRUE(waitUntil([&] { return playsFor(loopback, sinkIndex("headphones")); }));
    tap.reset();
    pactl({"unload-module", remap});
    pactl({"unload-module", loopback});
}

TEST_F(TapTest, AKilledOrCrashedRunGivesTheStreamsBackWithinASecond) {
    Player player(tone);
    ASSERT_TRUE(waitUntil([&] { return player.sinkInput().has_value(); }));
    for (const Ending ending : {Ending::kill, Ending::crash}) {
        SCOPED_TRACE(describe(ending));
        CapturingRun holder;
        ASSERT_TRUE(holder.start(TAP_HOLDER, "ready"));
        ASSERT_TRUE(waitUntil([&] { return playsOn(player, tapSink()); }));

        QElapsedTimer sinceEnd;
        sinceEnd.start();
        holder.end(ending);
        // Nothing is started again: the guard alone gives the stream back.
        const bool givenBack = waitUntil(
            [&] {
                return modulesWith("zivra_tap").empty() && playsOn(player, sinkIndex("speakers"));
            },
            1000ms);
        const qint64 elapsed = sinceEnd.elapsed();
        ASSERT_TRUE(givenBack) << "still trapped " << elapsed << " ms after the end";
        std::printf("%s: stream given back after %lld ms\n", describe(ending),
                    static_cast<long long>(elapsed));
        EXPECT_TRUE(holder.crashed());
    }
}

// A long stop fills the stopped server's listen queue with the handshakes
// libpulse gave up on, and the next connection is refused though the server
// still listens: the guard waits on, and the player gets its output back once
// the server goes on.
TEST_F(TapTest, AGuardRefusedByAStoppedServersFullQueueRemovesTheTapOnceItGoesOn) {
    Player player(tone, "headphones");
    ASSERT_TRUE(waitUntil([&] { return playsOn(player, sinkIndex("headphones")); }));
    const QString errors = QDir(qEnvironmentVariable("XDG_RUNTIME_DIR")).filePath("holder.err");
    CapturingRun holder;
    ASSERT_TRUE(holder.start(TAP_HOLDER, "ready", errors));
    ASSERT_TRUE(waitUntil([&] { return playsOn(player, tapSink()); }));
    {
        StoppedServer server;
        ASSERT_TRUE(server.any());
        EXPECT_GT(fillListenQueue(), 0);
        holder.end(Ending::kill);
        // Refused at once, the guard either gives up or says that it waits.
        ASSERT_TRUE(waitUntil([&] {
            QFile said(errors);
            return said.open(QIODevice::ReadOnly) && said.readAll().contains("zivra-tapguard:");
        }));
    }
    EXPECT_TRUE(waitUntil(
        [&] {
            return modulesWith("zivra_tap").empty() && playsOn(player, sinkIndex("headphones"));
        },
        15s));
    QFile::remove(errors);
}

TEST_F(TapTest, AGuardAskedToStopRemovesTheTapFirst) {
    Player player(tone);
    ASSERT_TRUE(waitUntil([&] { return player.sinkInput().has_value(); }));
    auto tap = server->createTap({"Zivra Tap", getpid()});
    ASSERT_TRUE(waitUntil([&] { return playsOn(player, tapSink()); }));
    const auto guards = tapGuardsOf(getpid());
    ASSERT_EQ(guards.size(), 1u);

    // A session that ends sends every process SIGTERM: the guard does not go before the tap.
    ASSERT_EQ(::kill(static_cast<pid_t>(guards.front()), SIGTERM), 0);
    EXPECT_TRUE(waitUntil([&] {
        return modulesWith("zivra_tap").empty() && playsOn(player, sinkIndex("speakers")) &&
               !pulse::TapOwner::ofProcess(guards.front());
    }));
    // The owner's own removal afterwards finds the tap and its guard gone, and copes.
    tap.reset();
    EXPECT_TRUE(tapGuardsOf(getpid()).empty());

    // Asked to stop while another process holds the tap lock, the guard waits
    // for it with the tap in hand: the owner's removal meanwhile leaves it the
    // tap and says so, once the guard has closed its end of the orders.
    tap = server->createTap({"Zivra Tap", getpid()});
    ASSERT_TRUE(waitUntil([&] { return playsOn(player, tapSink()); }));
    const auto guard = tapGuardsOf(getpid());
    ASSERT_EQ(guard.size(), 1u);
    QProcess holder;
    holder.start("flock", {QString::fromStdString(runtimeFolder() / "zivra-tap.lock"), "sh", "-c",
                           "echo held; read -r line"});
    ASSERT_TRUE(holder.waitForReadyRead(10000));
    ASSERT_EQ(::kill(static_cast<pid_t>(guard.front()), SIGTERM), 0);
    const auto orders = "/proc/" + std::to_string(guard.front()) + "/fd/0";
    ASSERT_TRUE(waitUntil([&] {
        std::error_code error;
        return std::filesystem::read_symlink(orders, error) == "/dev/null";
    }));
    SaidLines said("The tap guard, asked to stop, gives the streams back");
    tap.reset();
    EXPECT_EQ(said.count(), 1);
    holder.closeWriteChannel();
    EXPECT_TRUE(waitUntil([&] {
        return modulesWith("zivra_tap").empty() && playsOn(player, sinkIndex("speakers")) &&
               tapGuardsOf(getpid()).empty();
    }));
}

// A server that lists its sinks too late for the tap to know where each
// program plays: no tap is made. One was, and the programs that started while
// it existed went to the default sink when it went.
TEST_F(TapTest, ATapWhoseSinksAreNotListedInTimeIsNotMade) {
    // PulseAudio hands shared memory to a client that does not turn it off,
    // which the proxy cannot carry.
    const QString config = dir.filePath("client.conf");
    QFile file(config);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("enable-shm = no\n") > 0);
    file.close();
    const QString slow = dir.filePath("slow");
    QProcess proxy;
    ASSERT_TRUE(startDelayingProxy(proxy, slow, {"2", "sinks-after-load"}));
    const QByteArray direct = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", ("unix:" + slow).toUtf8());
    qputenv("PULSE_CLIENTCONFIG", config.toUtf8());
    server = createSoundServer();
    std::unique_ptr<Tap> tap;
    EXPECT_THROW(tap = server->createTap({"Zivra Tap", getpid()}), ServerUnanswered);
    Player later(tone, "headphones");
    if (tap) {
        EXPECT_TRUE(waitUntil([&] { return playsOn(later, tapSink()); }));
        tap.reset();
    }
    EXPECT_TRUE(waitUntil([&] {
        return modulesWith("zivra_tap").empty() && playsOn(later, sinkIndex("headphones"));
    }));
    server.reset();
    qputenv("PULSE_SERVER", direct);
    qunsetenv("PULSE_CLIENTCONFIG");
}

// Zivra removes a tap whose guard was killed, and the tap's routes with it:
// they once stayed, a file for each such tap until Zivra ended.
TEST_F(TapTest, ATapRemovedAfterItsGuardWasKilledLeavesNoRoutes) {
    Player player(tone, "headphones");
    ASSERT_TRUE(waitUntil([&] { return playsOn(player, sinkIndex("headphones")); }));
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        auto tap = server->createTap({"Zivra Tap", getpid()});
        ASSERT_TRUE(waitUntil([&] { return playsOn(player, tapSink()) && ownRoutesFiles() == 1; }));
        const auto guards = tapGuardsOf(getpid());
        ASSERT_EQ(guards.size(), 1u);
        ::kill(static_cast<pid_t>(guards.front()), SIGKILL);
        tap.reset();
        EXPECT_TRUE(waitUntil([&] { return playsOn(player, sinkIndex("headphones")); }));
        EXPECT_EQ(ownRoutesFiles(), 0);
    }
}

// A Zivra keeps the route of each stream it moves itself: killed after its
// guard (or before the guard of a loaded machine had read the routes), the
// next start still gives each program its own output.
TEST_F(TapTest, TheRoutesOfARunKilledAfterItsGuardAreKept) {
    Player onDefault(tone);
    ASSERT_TRUE(waitUntil([&] { return playsOn(onDefault, sinkIndex("speakers")); }));
    CapturingRun run;
    ASSERT_TRUE(run.start(TAP_HOLDER, "ready"));
    const auto guards = tapGuardsOf(run.processId());
    ASSERT_EQ(guards.size(), 1u);
    ::kill(static_cast<pid_t>(guards.front()), SIGKILL);
    Player onHeadphones(otherTone, "headphones");
    ASSERT_TRUE(waitUntil(
        [&] { return playsOn(onHeadphones, tapSink()) && playsOn(onDefault, tapSink()); }));
    run.end(Ending::kill);
    EXPECT_TRUE(run.crashed());
    removeLeftoverTap();
    EXPECT_TRUE(modulesWith("zivra_tap").empty());
    EXPECT_TRUE(waitUntil([&] {
        return playsOn(onHeadphones, sinkIndex("headphones")) &&
               playsOn(onDefault, sinkIndex("speakers"));
    }));
}

// PipeWire hands the index of an unloaded module out again. A guard handed a
// tap whose index another tap of the same Zivra has been given since leaves
// that tap and its streams alone; the tap's own guard removes it.
TEST_F(TapTest, AGuardRemovesItsOwnTapAndNoOtherGivenItsIndex) {
    Player player(tone);
    ASSERT_TRUE(waitUntil([&] { return player.sinkInput().has_value(); }));
    const auto handedOver = pulse::TapIdentity::next();
    const auto later = pulse::TapIdentity::next();
    ASSERT_TRUE(leaveATapWith(player, later.sinkProperties()));
    const auto modules = modulesWith("zivra_tap");
    ASSERT_EQ(modules.size(), 1u);

    for (const auto& identity : {handedOver, later}) {
        TapGuard guard(identity);
        guard.hold(modules.front());
        guard.handOver();
        ASSERT_TRUE(waitUntil([] { return tapGuardsOf(getpid()).empty(); }));
        if (identity == later) {
            EXPECT_TRUE(waitUntil([&] {
                return modulesWith("zivra_tap").empty() && playsOn(player, sinkIndex("speakers"));
            }));
        } else {
            EXPECT_EQ(modulesWith("zivra_tap"), modules);
            EXPECT_TRUE(playsOn(player, tapSink()));
        }
    }
}

// After the hand-over its socket's number may be given to anything the
// process opens next; nothing told to the guard may reach that.
TEST_F(TapTest, AGuardHandedOverIsToldNothingThroughItsFormerSocketNumber) {
    TapGuard guard(pulse::TapIdentity::next());
    guard.handOver();
    int ends[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    guard.route(7, "speakers");
    guard.forget(7);
    for (const int end : ends) {
        char byte = 0;
        EXPECT_EQ(::recv(end, &byte, 1, MSG_DONTWAIT), -1);
    }
    for (const int end : ends) {
        ::close(end);
    }
    EXPECT_TRUE(waitUntil([] { return tapGuardsOf(getpid()).empty(); }));
}

TEST_F(TapTest, ATapLeftBehindIsRemovedAtStartAndBeforeTheNextTap) {
    Player player(tone);
    ASSERT_TRUE(waitUntil([&] { return player.sinkInput().has_value(); }));
    const auto leaveATap = [&] { return leaveATapWith(player, "device.description=Leftover"); };

    ASSERT_TRUE(leaveATap());
    removeLeftoverTap();
    EXPECT_TRUE(modulesWith("zivra_tap").empty());
    EXPECT_TRUE(waitUntil([&] { return playsOn(player, sinkIndex("speakers")); }));

    ASSERT_TRUE(leaveATap());
    auto tap = server->createTap({"Zivra Tap", getpid()});
    // One tap, not the stale one beside a new one (the server may give the
    // new module the old one's index).
    ASSERT_EQ(modulesWith("zivra_tap").size(), 1u);
    EXPECT_TRUE(waitUntil([&] { return playsOn(player, tapSink()); }));
    tap.reset();
    EXPECT_TRUE(modulesWith("zivra_tap").empty());
    EXPECT_TRUE(waitUntil([&] { return playsOn(player, sinkIndex("speakers")); }));
}

TEST_F(TapTest, OnlyATapWhoseOwnerHasEndedIsRemoved) {
    Player player(tone);
    ASSERT_TRUE(waitUntil([&] { return player.sinkInput().has_value(); }));
    const pid_t ended = endedProcess();
    const auto self = pulse::TapOwner::self();

    // An owner that has ended, and one whose process id another process has now.
    for (const auto& gone : {pulse::TapOwner{ended, self.startTime},
                             pulse::TapOwner{self.processId, self.startTime + 1}}) {
        ASSERT_TRUE(leaveATapWith(player, gone.sinkProperties()));
        removeLeftoverTap();
        EXPECT_TRUE(modulesWith("zivra_tap").empty());
        EXPECT_TRUE(waitUntil([&] { return playsOn(player, sinkIndex("speakers")); }));
    }

    // The tap of another Zivra that runs is in use: neither a start nor a new tap takes it.
    const pid_t other = ::fork();
    if (other == 0) {
        ::sleep(120); // ends by itself should the test fail before it ends it
        ::_exit(0);
    }
    const auto running = pulse::TapOwner::ofProcess(other);
    ASSERT_TRUE(running.has_value());
    ASSERT_TRUE(leaveATapWith(player, running->sinkProperties()));
    removeLeftoverTap();
    EXPECT_THROW(server->createTap({"Zivra Tap", getpid()}), SoundError);
    const auto taps = modulesWith("zivra_tap");
    ASSERT_EQ(taps.size(), 1u);
    EXPECT_TRUE(playsOn(player, tapSink()));
    pactl({"unload-module", QString::number(taps.front())});
    ::kill(other, SIGKILL);
    ::waitpid(other, nullptr, 0);

    // One of this process's own, which it could not remove while the server
    // did not answer, gives way to its next tap.
    ASSERT_TRUE(leaveATapWith(player, self.sinkProperties()));
    auto tap = server->createTap({"Zivra Tap", getpid()});
    EXPECT_EQ(modulesWith("zivra_tap").size(), 1u);
    EXPECT_TRUE(waitUntil([&] { return playsOn(player, tapSink()); }));
}

TEST_F(TapTest, ATapWhoseSinkIsNotListedYetIsItsModulesOwners) {
    auto tap = server->createTap({"Zivra Tap", getpid()});
    PulseLoop loop("tap-test");
    PulseLoop::Lock lock(loop);
    const auto modules = pulse::listModules(loop).value_or(std::vector<pulse::ModuleRecord>{});
    const auto module = std::find_if(modules.begin(), modules.end(), pulse::isTapModule);
    ASSERT_NE(module, modules.end());
    const auto self = pulse::TapOwner::self();
    // What another maker lists a few milliseconds after this one loaded its
    // module: the module, as the server answers it, without its sink.
    EXPECT_TRUE(pulse::isTapInUse(*module, {}));
    EXPECT_FALSE(pulse::isTapInUse(*module, {}, self));
    auto left = *module;
    const std::string owner = self.sinkProperties();
    ASSERT_NE(left.argument.find(owner), std::string::npos) << left.argument;
    left.argument.replace(left.argument.find(owner), owner.size(),
                          pulse::TapOwner{endedProcess(), self.startTime}.sinkProperties());
    EXPECT_FALSE(pulse::isTapInUse(left, {}));
}

TEST_F(TapTest, AnOwnerKilledButNotReapedHasEnded) {
    Player player(tone);
    ASSERT_TRUE(waitUntil([&] { return player.sinkInput().has_value(); }));
    // Spawned, not a QProcess, which would reap it: this test is the parent that has not yet.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    char* arguments[] = {const_cast<char*>(TAP_HOLDER), nullptr};
    pid_t holder = 0;
    ASSERT_EQ(posix_spawn(&holder, TAP_HOLDER, &actions, nullptr, arguments, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ASSERT_TRUE(
        waitUntil([&] { return playsOn(player, tapSink()) && tapGuardsOf(holder).size() == 1; }));

    // Its guard killed with it: only the next start is left to free the stream.
    ::kill(static_cast<pid_t>(tapGuardsOf(holder).front()), SIGKILL);
    ::kill(holder, SIGKILL);
    siginfo_t ended{};
    ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(holder), &ended, WEXITED | WNOWAIT), 0);
    removeLeftoverTap();
    EXPECT_TRUE(modulesWith("zivra_tap").empty());
    EXPECT_TRUE(waitUntil([&] { return playsOn(player, sinkIndex("speakers")); }));
    EXPECT_EQ(::waitpid(holder, nullptr, 0), holder);
}

TEST_F(TapTest, ARefusedSecondTapLeavesTheRoutesOfTheFirst) {
    Player player(tone, "headphones");
    ASSERT_TRUE(waitUntil([&] { return playsOn(player, sinkIndex("headphones")); }));
    CapturingRun first;
    ASSERT_TRUE(first.start(TAP_HOLDER, "ready"));
    ASSERT_TRUE(waitUntil([&] { return playsOn(player, tapSink()); }));
    const auto owner = pulse::TapOwner::ofProcess(first.processId());
    ASSERT_TRUE(owner.has_value());
    const pulse::TapIdentity tap{*owner, 1}; // the holder's first and only tap
    ASSERT_TRUE(waitUntil([&] { return !keptRoutes(tap).empty(); }));

    // Without a session bus a second Zivra starts beside the first.
    EXPECT_THROW(server->createTap({"Zivra Tap", getpid()}), SoundError);

    // The first and its guard killed together: the next start gives the player its output back.
    const auto guards = tapGuardsOf(first.processId());
    ASSERT_EQ(guards.size(), 1u);
    ::kill(static_cast<pid_t>(guards.front()), SIGKILL);
    first.end(Ending::kill);
    EXPECT_TRUE(first.crashed());
    removeLeftoverTap();
    EXPECT_TRUE(waitUntil([&] { return playsOn(player, sinkIndex("headphones")); }));
}

TEST_F(TapTest, AnOddRoutesFileIsReadAsNoRoutes) {
    Player player(tone);
    ASSERT_TRUE(waitUntil([&] { return player.sinkInput().has_value(); }));
    const pulse::TapIdentity gone{{endedProcess(), pulse::TapOwner::self().startTime}, 1};
    const auto routes = runtimeFolder() /
                        ("zivra-tap-routes-" + std::to_string(gone.owner.processId) + '-' +
                         std::to_string(gone.owner.startTime) + '-' + std::to_string(gone.serial));
    auto oddFiles = notRegularFiles;
    oddFiles.emplace_back("file far larger than routes", [](const auto& path) {
        std::ofstream{path};
        std::filesystem::resize_file(path, 64 << 20);
    });
    for (const auto& [kind, make] : oddFiles) {
        SCOPED_TRACE(kind);
        make(routes);
        EXPECT_TRUE(keptRoutes(gone).empty());
        ASSERT_TRUE(leaveATapWith(player, gone.sinkProperties()));
        removeLeftoverTap();
        EXPECT_TRUE(modulesWith("zivra_tap").empty());
        EXPECT_TRUE(waitUntil([&] { return playsOn(player, sinkIndex("speakers")); }));
        std::error_code error;
        std::filesystem::remove_all(routes, error);
    }
}

TEST_F(TapTest, ALockFileThatIsNotARegularFileIsSaidAndTheTapIsMade) {
    const auto lock = runtimeFolder() / "zivra-tap.lock";
    for (const auto& [kind, make] : notRegularFiles) {
        SCOPED_TRACE(kind);
        std::error_code error;
        std::filesystem::remove_all(lock, error);
        make(lock);
        QProcess holder;
        holder.start(TAP_HOLDER, QStringList());
        EXPECT_TRUE(holder.waitForReadyRead(20000) && holder.readLine().trimmed() == "ready");
        EXPECT_TRUE(holder.readAllStandardError().contains("zivra-tap.lock"));
        holder.kill();
        holder.waitForFinished();
        EXPECT_TRUE(waitUntil([&] { return modulesWith("zivra_tap").empty(); }));
    }
    std::error_code error;
    std::filesystem::remove_all(lock, error);
}

TEST_F(TapTest, OfTwoZivrasStartedAtOnceOneMakesTheTap) {
    Player player(tone);
    ASSERT_TRUE(waitUntil([&] { return player.sinkInput().has_value(); }));
    constexpr int trials = 16;
    int bothReady = 0, twoTaps = 0, uncaptured = 0;
    for (int trial = 0; trial < trials; ++trial) {
        std::array<QProcess, 2> holders;
        for (QProcess& holder : holders) {
            holder.start(TAP_HOLDER, QStringList());
        }
        int ready = 0;
        for (QProcess& holder : holders) {
            // The refused one ends without a line: its SoundError is not caught.
            ready += holder.waitForReadyRead(20000) && holder.readLine().trimmed() == "ready";
        }
        bothReady += ready == 2;
        twoTaps += modulesWith("zivra_tap").size() > 1;
        uncaptured += !waitUntil([&] { return playsOn(player, tapSink()); });
        for (QProcess& holder : holders) {
            holder.kill();
            holder.waitForFinished();
        }
        ASSERT_TRUE(waitUntil([&] { return modulesWith("zivra_tap").empty(); }));
    }
    std::printf("%d simultaneous starts: both ready %d, two taps %d, player uncaptured %d\n",
                trials, bothReady, twoTaps, uncaptured);
    EXPECT_EQ(bothReady, 0);
    EXPECT_EQ(twoTaps, 0);
    EXPECT_EQ(uncaptured, 0);
}

} // namespace

} // namespace zivra::platform::sound
