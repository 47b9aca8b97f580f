#include "audio/PitchControlMode.h"

#include "audio/RawValue.h"

namespace zivra::audio {

QString rawValue(PitchControlMode mode) {
    switch (mode) {
    case PitchControlMode::semitones:
        return QStringLiteral("Semitones");
    case PitchControlMode::cents:
        return QStringLiteral("Cents");
    }
    return {};
}

std::optional<PitchControlMode> pitchControlModeFromRaw(const QString& raw) {
    return modeFromRaw(allPitchControlModes, raw);
}

} // namespace zivra::audio
