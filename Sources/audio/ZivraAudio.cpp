#include "audio/ZivraAudio.h"

#include "audio/AudioParameters.h"
#include "audio/EngineObjects.h"

#include <QTimer>

namespace zivra::audio {

namespace {

ZivraAudioEnvironment withDefaults(ZivraAudioEnvironment environment) {
    if (!environment.sleep) {
        environment.sleep = [](std::chrono::milliseconds delay, std::function<void()> then) {
            QTimer::singleShot(delay, std::move(then));
        };
    }
    return environment;
}

} // namespace

ZivraAudio::ZivraAudio(ZivraAudioEnvironment environment, QObject* parent)
    : QObject(parent), waveformSamples_(20, 0.0f),
      audioParams_(std::make_shared<AudioParameters>()),
      objects_(std::make_unique<EngineObjects>(withDefaults(std::move(environment)), this)) {
    loadPresets();
    refreshOutputDevices();
    startListeningForDeviceChanges();
    followSoundServer();
}

ZivraAudio::~ZivraAudio() {
    objects_->anchor->engine = nullptr;
    cleanup();
    stopListeningForDeviceChanges();
    if (objects_->serverListener != 0) {
        objects_->environment.sound->removeListener(objects_->serverListener);
    }
}

void ZivraAudio::setVolume(float value) {
    publish(volume_, value, &ZivraAudio::volumeChanged);
    audioParams_->setVolume(value);
}

void ZivraAudio::setDualMonoOutput(bool value) {
    publish(dualMonoOutput_, value, &ZivraAudio::dualMonoOutputChanged);
    audioParams_->setDualMonoOutput(value);
}

void ZivraAudio::setOutputDevices(const QList<OutputDevice>& value) {
    publish(outputDevices_, value, &ZivraAudio::outputDevicesChanged);
}

void ZivraAudio::setStatusText(const QString& value) {
    publish(statusText_, value, &ZivraAudio::statusTextChanged);
}

void ZivraAudio::setNeedsRestart(bool value) {
    publish(needsRestart_, value, &ZivraAudio::needsRestartChanged);
}

void ZivraAudio::setPresets(const QList<SongPreset>& value) {
    publish(presets_, value, &ZivraAudio::presetsChanged);
}

void ZivraAudio::setSelectedPresetID(std::optional<QUuid> value) {
    publish(selectedPresetID_, value, &ZivraAudio::selectedPresetIDChanged);
}

void ZivraAudio::setNewPresetName(const QString& value) {
    publish(newPresetName_, value, &ZivraAudio::newPresetNameChanged);
}

void ZivraAudio::setIsEngineRunning(bool value) {
    publish(isEngineRunning_, value, &ZivraAudio::isEngineRunningChanged);
}

void ZivraAudio::setOutputLevel(float value) {
    publish(outputLevel_, value, &ZivraAudio::outputLevelChanged);
}

void ZivraAudio::setWaveformSamples(const QList<float>& value) {
    publish(waveformSamples_, value, &ZivraAudio::waveformSamplesChanged);
}

void ZivraAudio::setHandoffActive(bool active) {
    if (active == handoffActive_) {
        return;
    }
    publish(handoffActive_, active, &ZivraAudio::handoffActiveChanged);
    if (objects_->graph) {
        objects_->graph->setVolume(handoffActive_ ? 0.0f : 1.0f);
    }
    updateEngine();
}

void ZivraAudio::broadcastState() {
    if (broadcastStateHandler) {
        broadcastStateHandler();
    }
}

} // namespace zivra::audio
