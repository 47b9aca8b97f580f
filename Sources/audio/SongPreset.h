#pragma once

#include "audio/PitchControlMode.h"
#include "audio/VocalRemovalMode.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QUuid>

#include <cstdint>
#include <optional>

namespace zivra::audio {

// A named snapshot of the ten sound controls. Two snapshots of the same
// settings are different presets: equality includes the id. A value type; it
// and the functions below run on any thread, return values, and throw nothing
// but std::bad_alloc.
struct SongPreset {
    QUuid id;
    QString name;
    bool pitchEnabled = false;
    std::int64_t pitchSemitones = 0;
    float pitchCents = 0;
    PitchControlMode pitchControlMode = PitchControlMode::semitones;
    bool removeVocalsEnabled = false;
    float volume = 1.0f;
    VocalRemovalMode vocalRemovalMode = VocalRemovalMode::off;
    float vocalMono = 0;
    float vocalKaraoke = 0;
    bool dualMonoOutput = false;

    friend bool operator==(const SongPreset&, const SongPreset&) = default;
};

size_t qHash(const SongPreset& preset, size_t seed = 0);

// The stored form: a compact JSON array of objects keyed by the field names.
// Nothing when a number is not finite: JSON cannot hold it.
std::optional<QByteArray> encodePresets(const QList<SongPreset>& presets);
// All or nothing: any malformed record makes the whole array unreadable.
std::optional<QList<SongPreset>> decodePresets(const QByteArray& json);

} // namespace zivra::audio
