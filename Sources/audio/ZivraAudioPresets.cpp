#include "audio/ZivraAudio.h"

#include "audio/Logging.h"

#include <QSettings>

namespace zivra::audio {

namespace {

const QString presetsKey = QStringLiteral("velmora.zivra.presets");
// Where a stored list that could not be read is kept before the first save
// or delete replaces it, so a damaged store never costs the user its presets.
const QString unreadableKey = QStringLiteral("velmora.zivra.presets.unreadable");

QSettings userSettings() {
    return QSettings(QStringLiteral("velmora"), QStringLiteral("zivra"));
}

} // namespace

void ZivraAudio::loadPresets() {
    const QVariant stored = userSettings().value(presetsKey);
    if (!stored.isValid()) {
        setPresets({});
        return;
    }
    std::optional<QList<SongPreset>> decoded = decodePresets(stored.toByteArray());
    if (!decoded) {
        // Kept aside at the first save (storePresets), not lost.
        qCWarning(engineLog) << "The stored presets could not be read";
    }
    setPresets(decoded.value_or(QList<SongPreset>{}));
}

void ZivraAudio::storePresets() {
    const std::optional<QByteArray> encoded = encodePresets(presets_);
    if (!encoded) {
        qCWarning(engineLog) << "The presets could not be encoded; they were not stored";
        return;
    }
    QSettings settings = userSettings();
    const QVariant stored = settings.value(presetsKey);
    if (stored.isValid() && !decodePresets(stored.toByteArray()) &&
        !settings.contains(unreadableKey)) {
        settings.setValue(unreadableKey, stored);
    }
    settings.setValue(presetsKey, *encoded);
}

void ZivraAudio::savePreset(const QString& name) {
    if (name.isEmpty()) {
        return;
    }
    const SongPreset snapshot{QUuid::createUuid(),  name,          pitchEnabled_,
                              pitchSemitones_,      pitchCents_,   pitchControlMode_,
                              removeVocalsEnabled_, volume_,       vocalRemovalMode_,
                              vocalMono_,           vocalKaraoke_, dualMonoOutput_};
    QList<SongPreset> updated = presets_;
    const auto same = std::find_if(updated.begin(), updated.end(),
                                   [&](const SongPreset& preset) { return preset.name == name; });
    if (same != updated.end()) {
        *same = snapshot;
    } else {
        updated.append(snapshot);
    }
    setPresets(updated);
    storePresets();
}

void ZivraAudio::loadPreset(const SongPreset& preset) {
    setPitchEnabled(preset.pitchEnabled);
    setPitchControlMode(preset.pitchControlMode);
    setPitchCents(preset.pitchCents);
    setPitchSemitones(preset.pitchSemitones);
    setRemoveVocalsEnabled(preset.removeVocalsEnabled);
    setVolume(preset.volume);
    setVocalRemovalMode(preset.vocalRemovalMode);
    setVocalMono(preset.vocalMono);
    setVocalKaraoke(preset.vocalKaraoke);
    setDualMonoOutput(preset.dualMonoOutput);
    setSelectedPresetID(preset.id);
}

void ZivraAudio::deletePreset(const SongPreset& preset) {
    const QUuid id = preset.id;
    QList<SongPreset> remaining = presets_;
    remaining.removeIf([&](const SongPreset& entry) { return entry.id == id; });
    setPresets(remaining);
    if (selectedPresetID_ == id) {
        setSelectedPresetID(std::nullopt);
    }
    storePresets();
}

} // namespace zivra::audio
