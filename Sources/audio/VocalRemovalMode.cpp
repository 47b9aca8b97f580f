#include "audio/VocalRemovalMode.h"

#include "audio/RawValue.h"

namespace zivra::audio {

QString rawValue(VocalRemovalMode mode) {
    switch (mode) {
    case VocalRemovalMode::off:
        return QStringLiteral("Off");
    case VocalRemovalMode::mono:
        return QStringLiteral("Mono");
    case VocalRemovalMode::wide:
        return QStringLiteral("Wide");
    case VocalRemovalMode::karaoke:
        return QStringLiteral("Karaoke");
    case VocalRemovalMode::aggressive:
        return QStringLiteral("Aggressive");
    case VocalRemovalMode::custom:
        return QStringLiteral("Custom");
    }
    return {};
}

std::optional<VocalRemovalMode> vocalRemovalModeFromRaw(const QString& raw) {
    return modeFromRaw(allVocalRemovalModes, raw);
}

} // namespace zivra::audio
