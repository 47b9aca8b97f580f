#include "audio/SongPreset.h"

#include "audio/PitchControlMode.h"
#include "audio/VocalRemovalMode.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <cmath>
#include <limits>

namespace zivra::audio {

size_t qHash(const SongPreset& p, size_t seed) {
    return qHashMulti(seed, p.id, p.name, p.pitchEnabled, p.pitchSemitones, p.pitchCents,
                      int(p.pitchControlMode), p.removeVocalsEnabled, p.volume,
                      int(p.vocalRemovalMode), p.vocalMono, p.vocalKaraoke, p.dualMonoOutput);
}

namespace {

QJsonObject encodePreset(const SongPreset& p) {
    return QJsonObject{
        {"id", p.id.toString(QUuid::WithoutBraces).toUpper()},
        {"name", p.name},
        {"pitchEnabled", p.pitchEnabled},
        {"pitchSemitones", qint64(p.pitchSemitones)},
        {"pitchCents", double(p.pitchCents)},
        {"pitchControlMode", rawValue(p.pitchControlMode)},
        {"removeVocalsEnabled", p.removeVocalsEnabled},
        {"volume", double(p.volume)},
        {"vocalRemovalMode", rawValue(p.vocalRemovalMode)},
        {"vocalMono", double(p.vocalMono)},
        {"vocalKaraoke", double(p.vocalKaraoke)},
        {"dualMonoOutput", p.dualMonoOutput},
    };
}

// Each reader fails (nothing) on a missing key or a value of the wrong kind.
std::optional<QString> readString(const QJsonObject& o, const char* key) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isString()) {
        return std::nullopt;
    }
    return v.toString();
}

std::optional<bool> readBool(const QJsonObject& o, const char* key) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isBool()) {
        return std::nullopt;
    }
    return v.toBool();
}

std::optional<std::int64_t> readInteger(const QJsonObject& o, const char* key) {
    const QJsonValue v = o.value(QLatin1String(key));
    // toInteger() falls back to its default when the number is not an exact
    // 64-bit integer; two different defaults tell that case apart.
    if (!v.isDouble() || v.toInteger(0) != v.toInteger(1)) {
        return std::nullopt;
    }
    return v.toInteger();
}

std::optional<float> readFloat(const QJsonObject& o, const char* key) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isDouble()) {
        return std::nullopt;
    }
    const double d = v.toDouble();
    if (!std::isfinite(d) || std::fabs(d) > std::numeric_limits<float>::max()) {
        return std::nullopt;
    }
    return float(d);
}

std::optional<QUuid> readUuid(const QJsonObject& o, const char* key) {
    const std::optional<QString> text = readString(o, key);
    if (!text || text->size() != 36) {
        return std::nullopt;
    }
    const QUuid id = QUuid::fromString(*text);
    if (id.toString(QUuid::WithoutBraces).compare(*text, Qt::CaseInsensitive) != 0) {
        return std::nullopt;
    }
    return id;
}

std::optional<SongPreset> decodePreset(const QJsonValue& value) {
    if (!value.isObject()) {
        return std::nullopt;
    }
    const QJsonObject o = value.toObject();
    const auto id = readUuid(o, "id");
    const auto name = readString(o, "name");
    const auto pitchEnabled = readBool(o, "pitchEnabled");
    const auto pitchSemitones = readInteger(o, "pitchSemitones");
    const auto pitchCents = readFloat(o, "pitchCents");
    const auto pitchModeText = readString(o, "pitchControlMode");
    const auto removeVocalsEnabled = readBool(o, "removeVocalsEnabled");
    const auto volume = readFloat(o, "volume");
    const auto vocalModeText = readString(o, "vocalRemovalMode");
    const auto vocalMono = readFloat(o, "vocalMono");
    const auto vocalKaraoke = readFloat(o, "vocalKaraoke");
    const auto dualMonoOutput = readBool(o, "dualMonoOutput");
    if (!id || !name || !pitchEnabled || !pitchSemitones || !pitchCents || !pitchModeText ||
        !removeVocalsEnabled || !volume || !vocalModeText || !vocalMono || !vocalKaraoke ||
        !dualMonoOutput) {
        return std::nullopt;
    }
    const auto pitchMode = pitchControlModeFromRaw(*pitchModeText);
    const auto vocalMode = vocalRemovalModeFromRaw(*vocalModeText);
    if (!pitchMode || !vocalMode) {
        return std::nullopt;
    }
    return SongPreset{*id,         *name,      *pitchEnabled,        *pitchSemitones,
                      *pitchCents, *pitchMode, *removeVocalsEnabled, *volume,
                      *vocalMode,  *vocalMono, *vocalKaraoke,        *dualMonoOutput};
}

} // namespace

std::optional<QByteArray> encodePresets(const QList<SongPreset>& presets) {
    QJsonArray array;
    for (const SongPreset& preset : presets) {
        for (float number :
             {preset.pitchCents, preset.volume, preset.vocalMono, preset.vocalKaraoke}) {
            if (!std::isfinite(number)) {
                return std::nullopt;
            }
        }
        array.append(encodePreset(preset));
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

std::optional<QList<SongPreset>> decodePresets(const QByteArray& json) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray()) {
        return std::nullopt;
    }
    QList<SongPreset> presets;
    for (const QJsonValue& value : document.array()) {
        std::optional<SongPreset> preset = decodePreset(value);
        if (!preset) {
            return std::nullopt;
        }
        presets.append(*preset);
    }
    return presets;
}

} // namespace zivra::audio
