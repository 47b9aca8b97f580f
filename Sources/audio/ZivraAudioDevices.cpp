#include "audio/EngineError.h"
#include "audio/EngineObjects.h"
#include "audio/Logging.h"
#include "audio/ZivraAudio.h"

#include <QLocale>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <array>

namespace zivra::audio {

using platform::sound::DeviceChange;
using platform::sound::SinkInfo;

namespace {

const QString unknown = QStringLiteral("Unknown");

QString orUnknown(const std::string& text) {
    return text.empty() ? unknown : QString::fromStdString(text);
}

} // namespace

void ZivraAudio::refreshOutputDevices() {
    const std::optional<std::vector<SinkInfo>> sinks = objects_->environment.sound->sinks();
    if (!sinks) {
        qCWarning(engineLog) << "The output devices could not be listed";
        // A server that does not answer now has told nothing new: the
        // list it gave last is kept, to choose from meanwhile.
        if (objects_->environment.sound->awaitsAnswer()) {
            return;
        }
    }
    QList<OutputDevice> devices;
    for (const SinkInfo& sink : sinks.value_or(std::vector<SinkInfo>{})) {
        if (sink.outputChannels == 0) {
            continue;
        }
        devices.append(OutputDevice{sink.index, orUnknown(sink.name), orUnknown(sink.description)});
    }
    setOutputDevices(devices);
}

QString ZivraAudio::deviceName(std::uint32_t id) {
    const std::optional<SinkInfo> sink = objects_->environment.sound->sink(id);
    return sink ? orUnknown(sink->description) : unknown;
}

// A device whose sink cannot be read is "Unknown"; a readable empty name
// stays empty (the graph refuses to build on it).
QString ZivraAudio::deviceUID(std::uint32_t id) {
    const std::optional<SinkInfo> sink = objects_->environment.sound->sink(id);
    return sink ? QString::fromStdString(sink->name) : unknown;
}

bool ZivraAudio::isVirtual(const QString& name) const {
    static const std::array<QString, 5> markers = {"zivra", "aggregate", "multi-output",
                                                   "blackhole", "loopback"};
    const QString lowered = QLocale().toLower(name);
    for (const QString& marker : markers) {
        if (lowered.contains(marker)) {
            return true;
        }
    }
    return false;
}

std::optional<std::uint32_t> ZivraAudio::selectedDevice() {
    if (!selectedOutputID_) {
        return std::nullopt;
    }
    platform::sound::SoundServer& sound = *objects_->environment.sound;
    const std::optional<SinkInfo> atIndex = sound.sink(*selectedOutputID_);
    // A choice whose uid could not be read is known by its index alone.
    if (atIndex && (selectedOutputUID_.isEmpty() ||
                    QString::fromStdString(atIndex->name) == selectedOutputUID_)) {
        return *selectedOutputID_;
    }
    if (selectedOutputUID_.isEmpty()) {
        return std::nullopt;
    }
    const std::string uid = selectedOutputUID_.toStdString();
    for (const SinkInfo& sink : sound.sinks().value_or(std::vector<SinkInfo>{})) {
        if (sink.name == uid) {
            return sink.index;
        }
    }
    return std::nullopt;
}

std::optional<std::uint32_t> ZivraAudio::findOutputDevice() {
    platform::sound::SoundServer& sound = *objects_->environment.sound;
    // A selected device that has gone is passed over like a virtual one.
    if (const std::optional<std::uint32_t> chosen = selectedDevice();
        chosen && !isVirtual(deviceName(*chosen))) {
        return *chosen;
    }
    const std::optional<std::uint32_t> fallback = sound.defaultSink();
    if (!fallback) {
        // A server names its new default a moment after a sink came or the
        // tap went; any real output it already lists is played on meanwhile.
        refreshOutputDevices();
        const auto device = std::ranges::find_if(
            outputDevices_, [this](const OutputDevice& d) { return !isVirtual(d.name); });
        if (device == outputDevices_.end()) {
            return std::nullopt;
        }
        return device->audioID;
    }
    // The server makes Zivra's own tap the default once it is the last sink;
    // it is no output, and playing there would record what Zivra plays.
    const bool defaultIsOutput = isOutputDevice(*fallback);
    if (defaultIsOutput && !isVirtual(deviceName(*fallback))) {
        return *fallback;
    }
    for (const OutputDevice& device : outputDevices_) {
        if (device.audioID != *fallback && !isVirtual(device.name)) {
            return device.audioID;
        }
    }
    if (!defaultIsOutput) {
        return std::nullopt;
    }
    return *fallback;
}

std::uint32_t ZivraAudio::physicalOutputDeviceID() {
    const std::optional<std::uint32_t> device = findOutputDevice();
    if (!device) {
        throw EngineError("No default output device");
    }
    return *device;
}

// A server that cannot list its sinks is taken at its word.
bool ZivraAudio::isOutputDevice(std::uint32_t id) {
    const auto sinks = objects_->environment.sound->sinks();
    return !sinks || std::ranges::any_of(*sinks, [id](const SinkInfo& sink) {
        return sink.index == id && sink.outputChannels > 0;
    });
}

// The list is kept current whether the engine runs or not (the output menu
// reads it). While it runs, the engine moves only when the device it would
// start on now is another one (the one it plays on went, the chosen one came
// back, another program moved the default it follows) or its tap went; a
// default moved between devices it does not play on leaves it be.
void ZivraAudio::followDevices() {
    refreshOutputDevices();
    followSelectedDevice();
    if (!isEngineRunning_ && !objects_->isBuilding) {
        if (engineWanted()) {
            retryStartIfDevicesChanged();
        }
        return;
    }
    if (objects_->waitingForOutput || outputMoved() || tapGone()) {
        restartIfRunning();
    }
}

void ZivraAudio::followSelectedDevice() {
    const std::optional<std::uint32_t> chosen = selectedDevice();
    if (chosen && chosen != selectedOutputID_) {
        publish(selectedOutputID_, chosen, &ZivraAudio::selectedOutputIDChanged);
    }
}

// Someone removed the tap's sink under the engine: the programs play on
// unshifted, or not at all, until it is made again.
bool ZivraAudio::tapGone() {
    return objects_->tap && !objects_->tap->format();
}

void ZivraAudio::setSelectedOutputID(std::optional<std::uint32_t> value) {
    const bool changed = value != selectedOutputID_;
    publish(selectedOutputID_, value, &ZivraAudio::selectedOutputIDChanged);
    if (changed) {
        const std::optional<SinkInfo> sink =
            value ? objects_->environment.sound->sink(*value) : std::nullopt;
        selectedOutputUID_ = sink ? QString::fromStdString(sink->name) : listedUID(value);
    }
    if (changed) {
        applySelectedOutput();
    }
}

// A server that does not answer now is no reason to forget which device was
// chosen: the menu it was chosen from names it.
QString ZivraAudio::listedUID(std::optional<std::uint32_t> id) const {
    const auto device = std::ranges::find_if(
        outputDevices_, [id](const OutputDevice& listed) { return listed.audioID == id; });
    return id && device != outputDevices_.end() ? device->uid : QString();
}

void ZivraAudio::applySelectedOutput() {
    if (!selectedOutputID_) {
        return;
    }
    if (const int status = makeSelectedOutputDefault()) {
        // Carried out once the server answers.
        if (!waitsForSoundServer()) {
            setStatusText(QStringLiteral("Could not set output (%1)").arg(status));
        }
        return;
    }
    restartIfRunning();
}

int ZivraAudio::makeSelectedOutputDefault() {
    // By name: the index it was chosen by may name another device by now.
    const std::uint32_t device = selectedDevice().value_or(*selectedOutputID_);
    const int status = objects_->environment.sound->setDefaultSink(device);
    objects_->outputToApply = status != 0;
    if (status != 0) {
        qCWarning(engineLog) << "Output device" << *selectedOutputID_
                             << "could not be made the default:" << status;
    }
    return status;
}

// Registered from construction to destruction; a registration that failed
// (no server yet) is made again by the next start.
void ZivraAudio::startListeningForDeviceChanges() {
    EngineObjects& o = *objects_;
    // Each notification is answered in a task of its own on the main thread,
    // and only while the engine exists.
    const auto later = [guard = QPointer(this)](void (ZivraAudio::*work)()) {
        return [guard, work] {
            if (!guard) {
                return;
            }
            QTimer::singleShot(0, guard.data(), [guard, work] {
                if (guard) {
                    (guard.data()->*work)();
                }
            });
        };
    };
    if (o.deviceListener == 0) {
        o.deviceListener = o.environment.sound->addListener(DeviceChange::sinkList,
                                                            later(&ZivraAudio::followDevices));
    }
    if (o.defaultOutputListener == 0) {
        o.defaultOutputListener = o.environment.sound->addListener(
            DeviceChange::defaultSink, later(&ZivraAudio::followDevices));
    }
}

void ZivraAudio::stopListeningForDeviceChanges() {
    EngineObjects& o = *objects_;
    for (platform::sound::ListenerId* id : {&o.deviceListener, &o.defaultOutputListener}) {
        if (*id != 0) {
            o.environment.sound->removeListener(*id);
        }
        *id = 0;
    }
}

} // namespace zivra::audio
