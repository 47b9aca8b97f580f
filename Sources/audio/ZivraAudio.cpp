#include "ZivraAudio.h"

#include "AudioParameters.h"
#include "EngineObjects.h"

ZivraAudio::ZivraAudio(ZivraAudioEnvironment environment, QObject* parent)
    : QObject(parent), waveformSamples_(20, 0.0f),
      audioParams_(std::make_shared<AudioParameters>()),
      objects_(std::make_unique<EngineObjects>(EngineObjects{std::move(environment)})) {}

ZivraAudio::~ZivraAudio() = default;

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

void ZivraAudio::broadcastState() {
    if (broadcastStateHandler)
        broadcastStateHandler();
}
