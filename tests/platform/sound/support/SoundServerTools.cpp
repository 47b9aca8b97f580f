#include "tests/platform/sound/support/SoundServerTools.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>
#include <string>

namespace zivra::platform::sound {
namespace {

QString toolsServer; // empty: the session's own, as PULSE_SERVER names it

// A tool of the test (pactl, paplay, parec) talks to the server the test
// watches, also while Zivra is pointed elsewhere.
void forTools(QProcess& process) {
    if (!toolsServer.isEmpty()) {
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert("PULSE_SERVER", toolsServer);
        process.setProcessEnvironment(environment);
    }
}

QByteArray run(const QString& program, const QStringList& arguments) {
    QProcess process;
    forTools(process);
    process.start(program, arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0) {
        return {};
    }
    return process.readAllStandardOutput();
}

template <typename T> void put(QByteArray& out, T value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

} // namespace

void useServerForTools(const QString& server) {
    toolsServer = server;
}

std::vector<pid_t> threadsNamed(const QString& name) {
    std::vector<pid_t> ids;
    for (const QString& task :
         QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm("/proc/self/task/" + task + "/comm");
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == name.left(15)) {
            ids.push_back(task.toInt());
        }
    }
    return ids;
}

std::vector<pid_t> soundServerProcesses() {
    std::vector<pid_t> servers;
    for (const QString& path : {qEnvironmentVariable("PULSE_SERVER").remove("unix:"),
                                qEnvironmentVariable("XDG_RUNTIME_DIR") + "/pipewire-0"}) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.toLocal8Bit().constData(), sizeof address.sun_path - 1);
        const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ucred peer{};
        socklen_t size = sizeof peer;
        if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
            getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0) {
            servers.push_back(peer.pid);
        }
        close(socket);
    }
    return servers;
}

bool stopped(pid_t process) {
    QFile stat(QString("/proc/%1/stat").arg(process));
    return stat.open(QIODevice::ReadOnly) && stat.readAll().split(')').value(1).startsWith(" T");
}

void stopFor(const std::vector<pid_t>& servers, std::chrono::seconds time) {
    QStringList ids;
    for (const pid_t server : servers) {
        ids << QString::number(server);
    }
    QProcess::startDetached(
        "sh", {"-c", QString("sleep %1; kill -CONT %2").arg(time.count()).arg(ids.join(' '))});
    for (const pid_t server : servers) {
        ::kill(server, SIGSTOP);
    }
}

StoppedServer::StoppedServer() : servers_(soundServerProcesses()) {
    for (const pid_t server : servers_) {
        ::kill(server, SIGSTOP);
    }
}

StoppedServer::~StoppedServer() {
    goOn();
}

void StoppedServer::goOn() {
    for (const pid_t server : servers_) {
        ::kill(server, SIGCONT);
    }
}

int fillListenQueue() {
    const QString path = qEnvironmentVariable("PULSE_SERVER").remove("unix:");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.toLocal8Bit().constData(), sizeof address.sun_path - 1);
    int taken = 0;
    for (; taken < 4096; ++taken) {
        const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const int status =
            ::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        ::close(socket);
        if (status != 0) {
            break;
        }
    }
    return taken;
}

bool startDelayingProxy(QProcess& proxy, const QString& listen, const QStringList& holds) {
    proxy.start("python3", QStringList{DELAYING_PROXY, listen,
                                       qEnvironmentVariable("PULSE_SERVER").remove("unix:")} +
                               holds);
    return proxy.waitForReadyRead(10000) && proxy.readLine().trimmed() == "listening";
}

QString pactl(const QStringList& arguments) {
    return QString::fromUtf8(run("pactl", arguments)).trimmed();
}

QJsonArray pactlJson(const QStringList& arguments) {
    return QJsonDocument::fromJson(run("pactl", QStringList{"-f", "json"} + arguments)).array();
}

std::vector<SinkInputState> sinkInputs() {
    std::vector<SinkInputState> result;
    // PipeWire's own players (pw-play) tell their process on their client only.
    std::optional<QJsonArray> clients;
    const auto processOfClient = [&](std::int64_t client) {
        if (!clients) {
            clients = pactlJson({"list", "clients"});
        }
        for (const auto& value : *clients) {
            const QJsonObject object = value.toObject();
            if (object["index"].toInteger() == client) {
                return object["properties"]
                    .toObject()["application.process.id"]
                    .toString()
                    .toLong();
            }
        }
        return 0L;
    };
    for (const auto& value : pactlJson({"list", "sink-inputs"})) {
        const QJsonObject input = value.toObject();
        SinkInputState state;
        state.index = static_cast<std::uint32_t>(input["index"].toInteger());
        state.sink = static_cast<std::uint32_t>(input["sink"].toInteger());
        state.processId =
            input["properties"].toObject()["application.process.id"].toString().toLong();
        bool ofAClient = false;
        const std::int64_t client = input["client"].toString().toLongLong(&ofAClient);
        if (state.processId == 0 && ofAClient) {
            state.processId = processOfClient(client);
        }
        bool owned = false;
        const std::uint32_t module = input["owner_module"].toString().toUInt(&owned);
        if (owned) {
            state.ownerModule = module;
        }
        result.push_back(state);
    }
    return result;
}

std::optional<std::uint32_t> sinkIndex(const QString& name) {
    for (const auto& value : pactlJson({"list", "short", "sinks"})) {
        if (value.toObject()["name"].toString() == name) {
            return static_cast<std::uint32_t>(value.toObject()["index"].toInteger());
        }
    }
    return std::nullopt;
}

QString defaultSinkName() {
    return pactl({"get-default-sink"});
}

std::vector<std::uint32_t> modulesWith(const QString& text) {
    // pactl's JSON module list has no indexes; the short list is "index<TAB>name<TAB>argument".
    std::vector<std::uint32_t> result;
    for (const QString& line : pactl({"list", "short", "modules"}).split('\n')) {
        bool number = false;
        const std::uint32_t index = line.section('\t', 0, 0).toUInt(&number);
        if (number && line.section('\t', 2).contains(text)) {
            result.push_back(index);
        }
    }
    return result;
}

void plugIn(const QString& sink) {
    pactl({"load-module", "module-null-sink", "sink_name=" + sink, "rate=48000", "channels=2",
           "sink_properties=device.description=" + sink});
}

void unplug(const QString& sink) {
    for (const std::uint32_t module : modulesWith("sink_name=" + sink + " ")) {
        pactl({"unload-module", QString::number(module)});
    }
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
    QDeadlineTimer timer(deadline);
    for (;;) {
        if (condition()) {
            return true;
        }
        if (timer.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(20);
    }
}

void writeWave(const QString& path, double rate, double seconds,
               const std::function<std::pair<float, float>(std::size_t)>& generator) {
    const auto frames = static_cast<std::uint32_t>(rate * seconds);
    const std::uint32_t dataBytes = frames * 8;
    QByteArray out;
    out.reserve(static_cast<qsizetype>(dataBytes) + 64);
    out.append("RIFF");
    put<std::uint32_t>(out, 4 + 26 + 12 + 8 + dataBytes);
    out.append("WAVE");
    out.append("fmt ");
    put<std::uint32_t>(out, 18);
    put<std::uint16_t>(out, 3); // IEEE float
    put<std::uint16_t>(out, 2);
    put<std::uint32_t>(out, static_cast<std::uint32_t>(rate));
    put<std::uint32_t>(out, static_cast<std::uint32_t>(rate) * 8);
    put<std::uint16_t>(out, 8);
    put<std::uint16_t>(out, 32);
    put<std::uint16_t>(out, 0);
    out.append("fact");
    put<std::uint32_t>(out, 4);
    put<std::uint32_t>(out, frames);
    out.append("data");
    put<std::uint32_t>(out, dataBytes);
    for (std::uint32_t i = 0; i < frames; ++i) {
        const auto [left, right] = generator(i);
        put(out, left);
        put(out, right);
    }
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(out);
    }
}

void writeCentreTone(const QString& path, double frequency, double amplitude, double seconds) {
    writeWave(path, testRate, seconds, [=](std::size_t i) {
        const auto s = static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * frequency *
                                                               static_cast<double>(i) / testRate));
        return std::pair{s, s};
    });
}

Player::Player(const QString& file, const QString& sink, PlayTool tool) {
    // The session manager remembers where a program's stream was last moved
    // and starts its next streams there: each player is a program of its own,
    // so no test inherits where an earlier one left a player.
    static int players = 0;
    const QString name = QString("player-%1").arg(++players);
    QStringList arguments;
    if (tool == PlayTool::pwPlay) {
        arguments << "--properties={ application.name = " + name + " }";
        if (!sink.isEmpty()) {
            arguments << "--target=" + sink;
        }
    } else {
        arguments << "--property=application.name=" + name;
        if (!sink.isEmpty()) {
            arguments << "--device=" + sink;
        }
    }
    arguments << file;
    forTools(process_);
    process_.start(tool == PlayTool::pwPlay ? "pw-play" : "paplay", arguments);
    process_.waitForStarted();
}

Player::~Player() {
    process_.kill();
    process_.waitForFinished();
}

long Player::processId() const {
    return static_cast<long>(process_.processId());
}

std::optional<SinkInputState> Player::sinkInput() const {
    for (const auto& input : sinkInputs()) {
        if (input.processId == processId()) {
            return input;
        }
    }
    return std::nullopt;
}

const char* describe(Ending ending) {
    return ending == Ending::kill ? "SIGKILL" : "abort";
}

bool CapturingRun::start(const QString& program, const QByteArray& ready,
                         const QString& errorFile) {
    if (!errorFile.isEmpty()) {
        process_.setStandardErrorFile(errorFile);
    }
    process_.start(program, QStringList());
    return process_.waitForReadyRead(20000) && process_.readLine().trimmed() == ready;
}

void CapturingRun::end(Ending ending) {
    if (ending == Ending::kill) {
        process_.kill();
    } else {
        process_.write("x");
    }
}

bool CapturingRun::crashed() {
    process_.waitForFinished();
    return process_.state() == QProcess::NotRunning && process_.exitStatus() == QProcess::CrashExit;
}

long CapturingRun::processId() const {
    return static_cast<long>(process_.processId());
}

std::vector<long> tapGuardsOf(long parent) {
    std::vector<long> guards;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream file(entry.path() / "stat");
        std::string stat;
        std::getline(file, stat);
        // "pid (name) state parent ...": the name may hold spaces and parentheses.
        const auto close = stat.rfind(')');
        const auto open = stat.find('(');
        if (open == std::string::npos || close == std::string::npos) {
            continue;
        }
        std::istringstream rest(stat.substr(close + 1));
        std::string state;
        long parentOfEntry = 0;
        rest >> state >> parentOfEntry;
        if (stat.substr(open + 1, close - open - 1) == "zivra-tapguard" &&
            parentOfEntry == parent) {
            guards.push_back(std::stol(entry.path().filename().string()));
        }
    }
    return guards;
}

std::vector<float> record(const QString& source, std::chrono::milliseconds duration) {
    QProcess parec;
    forTools(parec);
    parec.start("parec", {"--device=" + source, "--format=float32le", "--rate=48000",
                          "--channels=2", "--raw", "--latency-msec=20"});
    if (!parec.waitForStarted()) {
        return {};
    }
    const qsizetype wanted =
        static_cast<qsizetype>(testRate * static_cast<double>(duration.count()) / 1000) * 8;
    QByteArray bytes;
    QDeadlineTimer timer(duration * 4 + std::chrono::seconds(5));
    while (bytes.size() < wanted && !timer.hasExpired()) {
        // The engine under test lives on this thread's event loop.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        parec.waitForReadyRead(10);
        bytes.append(parec.readAllStandardOutput());
    }
    parec.kill();
    parec.waitForFinished();
    bytes.truncate(std::min(bytes.size(), wanted));
    std::vector<float> samples(static_cast<std::size_t>(bytes.size()) / sizeof(float));
    std::memcpy(samples.data(), bytes.constData(), samples.size() * sizeof(float));
    return samples;
}

} // namespace zivra::platform::sound
