#pragma once

#include "audio/ZivraAudio.h"

namespace zivra::audio {

// Sets the engine-owned state that only the engine writes, for tests that
// show it without running the engine. Main thread only.
class ZivraAudioTestAccess {
public:
    static void setStatusText(ZivraAudio& engine, const QString& value) {
        engine.setStatusText(value);
    }
    static void setIsEngineRunning(ZivraAudio& engine, bool value) {
        engine.setIsEngineRunning(value);
    }
    static void setWaveformSamples(ZivraAudio& engine, const QList<float>& value) {
        engine.setWaveformSamples(value);
    }
    static void setOutputDevices(ZivraAudio& engine, const QList<OutputDevice>& value) {
        engine.setOutputDevices(value);
    }
    // Rebuilds the output devices from the sound server's list at once, without
    // waiting for the server's notification.
    static void refreshOutputDevices(ZivraAudio& engine) { engine.refreshOutputDevices(); }
};

} // namespace zivra::audio
