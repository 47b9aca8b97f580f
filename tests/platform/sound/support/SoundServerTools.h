#pragma once

#include <QJsonArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

// The private test sound server as a user's tools see it: pactl, paplay and
// parec, plus test tones written as WAVE files.
namespace zivra::platform::sound {

// From now on the tools below talk to that server ("unix:PATH"), whatever
// PULSE_SERVER names for the code under test; empty: PULSE_SERVER's.
void useServerForTools(const QString& server);

// The processes serving this session's sound, as its sockets name them: the
// pulse side and, on PipeWire, the daemon behind it.
std::vector<pid_t> soundServerProcesses();
// The kernel ids of this process's threads that are named `name` (a
// thread's name keeps its first 15 characters).
std::vector<pid_t> threadsNamed(const QString& name);
// Whether the process is stopped (SIGSTOP).
bool stopped(pid_t process);
// Stops the servers for `time`, as a hung or debugged server stops. A
// program of its own continues them, also should the test end meanwhile.
void stopFor(const std::vector<pid_t>& servers, std::chrono::seconds time);

// Stops this session's servers for as long as it lives, and makes sure they
// go on again also when a check fails.
class StoppedServer {
public:
    StoppedServer();
    ~StoppedServer();
    StoppedServer(const StoppedServer&) = delete;
    StoppedServer& operator=(const StoppedServer&) = delete;

    bool any() const { return !servers_.empty(); }
    void goOn();

private:
    std::vector<pid_t> servers_;
};

// Connects to the stopped server's socket without a handshake and closes at
// once, as a handshake that libpulse gave up on does, until the server's
// listen queue refuses more; returns how many it took.
int fillListenQueue();

// Starts the tests' delaying proxy (support/delaying-proxy.py) on
// the socket `listen`, in front of the server PULSE_SERVER names, holding
// its replies as `holds` says (the proxy's HOLD and FIRST); false when it
// does not listen. The proxy ends with `proxy`.
bool startDelayingProxy(QProcess& proxy, const QString& listen, const QStringList& holds);

// Runs pactl with the arguments; returns its standard output (empty on failure).
QString pactl(const QStringList& arguments);
// Runs "pactl -f json" with the arguments and parses the answer.
QJsonArray pactlJson(const QStringList& arguments);

struct SinkInputState {
    std::uint32_t index = 0;
    std::uint32_t sink = 0;
    long processId = 0;
    std::optional<std::uint32_t> ownerModule; // the module that plays it, when one does
};
std::vector<SinkInputState> sinkInputs();
std::optional<std::uint32_t> sinkIndex(const QString& name);
QString defaultSinkName();
// A device plugged in (a 48 kHz stereo null sink, as the session's own sinks
// are made) and unplugged again.
void plugIn(const QString& sink);
void unplug(const QString& sink);
// Indexes of loaded modules whose argument contains text.
std::vector<std::uint32_t> modulesWith(const QString& text);

// Polls the server (processing Qt events) until condition holds or the
// deadline passes; returns the condition's last value.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds deadline = std::chrono::seconds(10));

// Writes a 32-bit float stereo WAVE file of the given length whose frame i
// is generator(i) = (left, right).
void writeWave(const QString& path, double rate, double seconds,
               const std::function<std::pair<float, float>(std::size_t)>& generator);
// A sine of frequency and amplitude, the same on both channels (centre).
void writeCentreTone(const QString& path, double frequency, double amplitude = 0.3,
                     double seconds = 60);

// The program a Player plays with: paplay, through the server's pulse side,
// which names a sink by its name or index; or PipeWire's own pw-play, which
// names it by its node name or object.serial.
enum class PlayTool { paplay, pwPlay };

// A player playing a file on `sink` (or where the server puts it) until the
// object goes away.
class Player {
public:
    explicit Player(const QString& file, const QString& sink = {},
                    PlayTool tool = PlayTool::paplay);
    ~Player();
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;
    long processId() const;
    // The player's sink input, once the server lists it.
    std::optional<SinkInputState> sinkInput() const;

private:
    QProcess process_;
};

// How a run of Zivra is ended in a test: killed (SIGKILL) or crashed (abort).
enum class Ending { kill, crash };
const char* describe(Ending ending);

// A program that captures the way Zivra does (a tap holder, an engine runner):
// it prints `ready` once it captures, is killed by end(Ending::kill) and
// calls abort() at the first byte on its standard input (end(Ending::crash)).
class CapturingRun {
public:
    // Starts program and waits for its line; false when it does not come.
    // Its standard error, and that of the guard it starts, goes to
    // `errorFile` when one is named.
    bool start(const QString& program, const QByteArray& ready, const QString& errorFile = {});
    void end(Ending ending);
    // Waits for the end; true when the program did not end normally.
    bool crashed();
    long processId() const;

private:
    QProcess process_;
};

// The tap guards that process started (zombies included).
std::vector<long> tapGuardsOf(long parent);

// Records interleaved float stereo at 48 kHz from a source (for example
// "speakers.monitor") for the given time, with parec. Qt events are processed
// meanwhile.
std::vector<float> record(const QString& source, std::chrono::milliseconds duration);

constexpr double testRate = 48000;

} // namespace zivra::platform::sound
