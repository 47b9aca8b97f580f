#include "handoff/HandoffMessages.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <array>
#include <cfloat>
#include <cmath>
#include <utility>

namespace zivra::handoff {

namespace {

using Action = HandoffCommand::Action;

enum class ValueType { none, boolean, number, string };

struct ActionName {
    const char* name;
    Action action;
    ValueType value;
};

// In the order the names are compared.
constexpr std::array<ActionName, 13> actionNames{{
    {"playPause", Action::playPause, ValueType::none},
    {"nextTrack", Action::nextTrack, ValueType::none},
    {"previousTrack", Action::previousTrack, ValueType::none},
    {"rewind", Action::rewind, ValueType::none},
    {"fastForward", Action::fastForward, ValueType::none},
    {"mute", Action::mute, ValueType::none},
    {"getNowPlaying", Action::getNowPlaying, ValueType::none},
    {"getState", Action::getState, ValueType::none},
    {"setPitchEnabled", Action::setPitchEnabled, ValueType::boolean},
    {"setRemoveVocalsEnabled", Action::setRemoveVocalsEnabled, ValueType::boolean},
    {"setPitchCents", Action::setPitchCents, ValueType::number},
    {"setVocalMode", Action::setVocalMode, ValueType::string},
    {"seek", Action::seek, ValueType::number},
}};

const ActionName* actionNamed(const QString& name) {
    for (const ActionName& entry : actionNames) {
        if (name == QLatin1String(entry.name)) {
            return &entry;
        }
    }
    return nullptr;
}

// Whether cents, kept in single precision, give a whole number of semitones
// that a signed 64-bit integer holds (the engine refuses anything else).
bool isUsablePitch(double cents) {
    if (!(std::fabs(cents) <= FLT_MAX)) {
        return false;
    }
    const float semitones = std::round(static_cast<float>(cents) / 100.0f);
    constexpr float limit = 9223372036854775808.0f; // 2^63
    return semitones >= -limit && semitones < limit;
}

bool isFinite(std::initializer_list<double> numbers) {
    for (double number : numbers) {
        if (!std::isfinite(number)) {
            return false;
        }
    }
    return true;
}

std::string compact(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

} // namespace

std::optional<HandoffCommand> parseHandoffCommand(std::string_view text) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(
        QByteArray(text.data(), static_cast<qsizetype>(text.size())), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    const QJsonValue actionValue = object.value(QLatin1String("action"));
    if (!actionValue.isString()) {
        return std::nullopt;
    }
    const ActionName* entry = actionNamed(actionValue.toString());
    if (!entry) {
        return std::nullopt;
    }
    HandoffCommand command;
    command.action = entry->action;
    const QJsonValue value = object.value(QLatin1String("value"));
    switch (entry->value) {
    case ValueType::none:
        break;
    case ValueType::boolean:
        if (!value.isBool()) {
            return std::nullopt;
        }
        command.enabled = value.toBool();
        break;
    case ValueType::number:
        if (!value.isDouble()) {
            return std::nullopt;
        }
        command.number = value.toDouble();
        if (command.action == Action::setPitchCents && !isUsablePitch(command.number)) {
            return std::nullopt;
        }
        break;
    case ValueType::string: {
        if (!value.isString()) {
            return std::nullopt;
        }
        const auto mode = audio::vocalRemovalModeFromRaw(value.toString());
        if (!mode) {
            return std::nullopt;
        }
        command.mode = *mode;
        break;
    }
    }
    return command;
}

std::optional<std::string> stateMessage(const HandoffState& state) {
    if (!isFinite({state.pitchCents})) {
        return std::nullopt;
    }
    return compact({{"type", "state"},
                    {"pitchEnabled", state.pitchEnabled},
                    {"pitchCents", static_cast<double>(state.pitchCents)},
                    {"removeVocalsEnabled", state.removeVocalsEnabled},
                    {"vocalRemovalMode", audio::rawValue(state.vocalRemovalMode)}});
}

std::optional<std::string> nowPlayingMessage(const NowPlayingProvider::Track& track) {
    if (!isFinite({track.position, track.duration})) {
        return std::nullopt;
    }
    return compact({{"type", "nowPlaying"},
                    {"artist", track.artist},
                    {"title", track.title},
                    {"isPlaying", track.isPlaying},
                    {"position", track.position},
                    {"duration", track.duration}});
}

std::optional<std::string> configMessage(double sampleRate) {
    const double rate = announcedSampleRate(sampleRate);
    if (!std::isfinite(rate)) {
        return std::nullopt;
    }
    return compact({{"type", "config"},
                    {"sampleRate", rate},
                    {"channels", 1},
                    {"format", "pcm-s16le"},
                    {"packetFrames", static_cast<qint64>(packetFrames(rate))}});
}

double announcedSampleRate(double sampleRate) {
    return sampleRate > 0 ? sampleRate : 48000;
}

std::uint32_t packetFrames(double sampleRate) {
    const double frames = std::trunc(announcedSampleRate(sampleRate) * 0.05);
    // Far beyond any sound server's rate; the cast would not be defined.
    constexpr double limit = 1 << 24;
    return frames <= limit ? static_cast<std::uint32_t>(frames) : 0;
}

} // namespace zivra::handoff
