#pragma once

#include <QHash>
#include <QString>

#include <cstdint>

namespace zivra::audio {

// An output device as the output menu lists it, identified by audioID and
// compared and hashed on all three fields. A value type: any thread, copies
// own their strings, nothing throws.
struct OutputDevice {
    std::uint32_t audioID = 0;
    QString uid;
    QString name;

    friend bool operator==(const OutputDevice&, const OutputDevice&) = default;
};

inline size_t qHash(const OutputDevice& device, size_t seed = 0) {
    return qHashMulti(seed, device.audioID, device.uid, device.name);
}

} // namespace zivra::audio
