#pragma once

#include <mutex>

namespace zivra::audio {

// The settings that the render path reads, shared between the main thread
// (writer) and the render thread (reader) under one lock. The blend pair is
// always written in one hold so the render path never sees half of it.
// Every member may be called from any thread; snapshot() returns a copy. Nothing
// throws.
class AudioParameters {
public:
    struct Values {
        float volume = 1.0f;
        float vocalMono = 0;
        float vocalKaraoke = 0;
        bool dualMonoOutput = false;
    };

    void setVolume(float volume);
    void setBlend(float vocalMono, float vocalKaraoke);
    void setDualMonoOutput(bool dualMonoOutput);
    Values snapshot() const;

private:
    mutable std::mutex lock_;
    Values values_;
};

} // namespace zivra::audio
