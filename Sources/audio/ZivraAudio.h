#pragma once

#include "audio/AudioPCMBuffer.h"
#include "audio/OutputDevice.h"
#include "audio/PitchControlMode.h"
#include "audio/SongPreset.h"
#include "audio/VocalRemovalMode.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace zivra::audio {

struct RenderCounters;

class AudioParameters;
struct DeviceSnapshot;
struct EngineAnchor;
struct EngineObjects;
struct MeterReading;
struct ZivraAudioEnvironment;

// The one engine object: the user's sound settings, the engine's visible
// state and the operations that start, stop and feed the audio graph.
//
// Every property setter stores the value, emits its change signal and then
// runs the property's side effects on every assignment, also of an equal
// value (only selectedOutputID acts on a change alone). Everything here is
// used on the main thread. Getters return references valid until the next
// change. Failures of the graph end up in statusText, not in exceptions:
// nothing here throws but std::bad_alloc.
class ZivraAudio : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool pitchEnabled READ pitchEnabled WRITE setPitchEnabled NOTIFY pitchEnabledChanged)
    Q_PROPERTY(float pitchCents READ pitchCents WRITE setPitchCents NOTIFY pitchCentsChanged)
    Q_PROPERTY(qint64 pitchSemitones READ pitchSemitones WRITE setPitchSemitones NOTIFY
                   pitchSemitonesChanged)
    Q_PROPERTY(PitchControlMode pitchControlMode READ pitchControlMode WRITE setPitchControlMode
                   NOTIFY pitchControlModeChanged)
    Q_PROPERTY(bool removeVocalsEnabled READ removeVocalsEnabled WRITE setRemoveVocalsEnabled NOTIFY
                   removeVocalsEnabledChanged)
    Q_PROPERTY(float volume READ volume WRITE setVolume NOTIFY volumeChanged)
    Q_PROPERTY(VocalRemovalMode vocalRemovalMode READ vocalRemovalMode WRITE setVocalRemovalMode
                   NOTIFY vocalRemovalModeChanged)
    Q_PROPERTY(float vocalMono READ vocalMono WRITE setVocalMono NOTIFY vocalMonoChanged)
    Q_PROPERTY(
        float vocalKaraoke READ vocalKaraoke WRITE setVocalKaraoke NOTIFY vocalKaraokeChanged)
    Q_PROPERTY(bool dualMonoOutput READ dualMonoOutput WRITE setDualMonoOutput NOTIFY
                   dualMonoOutputChanged)
    Q_PROPERTY(QList<OutputDevice> outputDevices READ outputDevices NOTIFY outputDevicesChanged)
    Q_PROPERTY(std::optional<std::uint32_t> selectedOutputID READ selectedOutputID WRITE
                   setSelectedOutputID NOTIFY selectedOutputIDChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged)
    Q_PROPERTY(bool needsRestart READ needsRestart NOTIFY needsRestartChanged)
    Q_PROPERTY(QList<SongPreset> presets READ presets NOTIFY presetsChanged)
    Q_PROPERTY(
        std::optional<QUuid> selectedPresetID READ selectedPresetID NOTIFY selectedPresetIDChanged)
    Q_PROPERTY(
        QString newPresetName READ newPresetName WRITE setNewPresetName NOTIFY newPresetNameChanged)
    Q_PROPERTY(bool isEngineRunning READ isEngineRunning NOTIFY isEngineRunningChanged)
    Q_PROPERTY(float outputLevel READ outputLevel NOTIFY outputLevelChanged)
    Q_PROPERTY(QList<float> waveformSamples READ waveformSamples NOTIFY waveformSamplesChanged)
    Q_PROPERTY(bool handoffActive READ handoffActive NOTIFY handoffActiveChanged)

public:
    // The process-wide engine on the real sound server, created on first use and
    // never destroyed (its teardown is cleanup()).
    static ZivraAudio& shared();

    // An engine over the given platform services (the real ones or a test's).
    explicit ZivraAudio(ZivraAudioEnvironment environment, QObject* parent = nullptr);
    ~ZivraAudio() override;

    bool pitchEnabled() const { return pitchEnabled_; }
    float pitchCents() const { return pitchCents_; }
    qint64 pitchSemitones() const { return pitchSemitones_; }
    PitchControlMode pitchControlMode() const { return pitchControlMode_; }
    bool removeVocalsEnabled() const { return removeVocalsEnabled_; }
    float volume() const { return volume_; }
    VocalRemovalMode vocalRemovalMode() const { return vocalRemovalMode_; }
    float vocalMono() const { return vocalMono_; }
    float vocalKaraoke() const { return vocalKaraoke_; }
    bool dualMonoOutput() const { return dualMonoOutput_; }
    const QList<OutputDevice>& outputDevices() const { return outputDevices_; }
    std::optional<std::uint32_t> selectedOutputID() const { return selectedOutputID_; }
    const QString& statusText() const { return statusText_; }
    bool needsRestart() const { return needsRestart_; }
    const QList<SongPreset>& presets() const { return presets_; }
    std::optional<QUuid> selectedPresetID() const { return selectedPresetID_; }
    const QString& newPresetName() const { return newPresetName_; }
    bool isEngineRunning() const { return isEngineRunning_; }
    float outputLevel() const { return outputLevel_; }
    const QList<float>& waveformSamples() const { return waveformSamples_; }
    bool handoffActive() const { return handoffActive_; }
    // What the running graph's render path has counted (trimmed backlogs,
    // underruns); null while no graph runs. Main thread; the counters
    // themselves may be read from any thread.
    std::shared_ptr<const RenderCounters> renderCounters() const;

    void setPitchEnabled(bool value);
    // A value that is not finite, or whose semitone quotient does not fit a
    // signed 64-bit integer, is refused: the old value stays, nothing runs.
    void setPitchCents(float value);
    void setPitchSemitones(qint64 value);
    void setPitchControlMode(PitchControlMode value);
    void setRemoveVocalsEnabled(bool value);
    void setVolume(float value);
    void setVocalRemovalMode(VocalRemovalMode value);
    void setVocalMono(float value);
    void setVocalKaraoke(float value);
    void setDualMonoOutput(bool value);
    void setSelectedOutputID(std::optional<std::uint32_t> value);
    void setNewPresetName(const QString& value);

    // Called by the Handoff when the first phone connects (true) or the last
    // one leaves (false): silences the local output while a phone listens.
    void setHandoffActive(bool active);

    // Lifecycle: starts the engine when pitch shifting, vocal removal or a
    // listening phone needs it and stops it when nothing does; a start
    // completes asynchronously on the main thread. cleanup() tears down
    // whatever the graph construction created and may be called any time.
    void updateEngine();
    void cleanup();

    // Presets, stored under "velmora.zivra.presets".
    void savePreset(const QString& name);
    void loadPreset(const SongPreset& preset);
    void deletePreset(const SongPreset& preset);

    // Installed by the application: called just before the permission
    // prompt, and after a grant at the prompt.
    std::function<void()> permissionPromptHandler;
    std::function<void()> permissionGrantedHandler;

    // Installed by the Handoff at start-up (the engine links no Handoff code).
    // broadcastStateHandler sends the current settings to every phone; it is
    // called on the main thread. handoffAppendHandler receives every buffer
    // of the stream mixer's tap on the tap thread; a graph takes the handler
    // that is installed when it is built.
    std::function<void()> broadcastStateHandler;
    std::function<void(const AudioPCMBuffer&)> handoffAppendHandler;

signals:
    void pitchEnabledChanged(bool value);
    void pitchCentsChanged(float value);
    void pitchSemitonesChanged(qint64 value);
    void pitchControlModeChanged(PitchControlMode value);
    void removeVocalsEnabledChanged(bool value);
    void volumeChanged(float value);
    void vocalRemovalModeChanged(VocalRemovalMode value);
    void vocalMonoChanged(float value);
    void vocalKaraokeChanged(float value);
    void dualMonoOutputChanged(bool value);
    void outputDevicesChanged(const QList<OutputDevice>& value);
    void selectedOutputIDChanged(std::optional<std::uint32_t> value);
    void statusTextChanged(const QString& value);
    void needsRestartChanged(bool value);
    void presetsChanged(const QList<SongPreset>& value);
    void selectedPresetIDChanged(std::optional<QUuid> value);
    void newPresetNameChanged(const QString& value);
    void isEngineRunningChanged(bool value);
    void outputLevelChanged(float value);
    void waveformSamplesChanged(const QList<float>& value);
    void handoffActiveChanged(bool value);

private:
    // Tests set the engine-owned state through it (tests/audio/ZivraAudioTestAccess.h).
    friend class ZivraAudioTestAccess;

    // Stores a published value and announces it; the caller runs the side
    // effects afterwards.
    template <typename T, typename Signal> void publish(T& field, const T& value, Signal changed) {
        field = value;
        emit(this->*changed)(value);
    }

    // The engine-owned state, read-only to everyone else.
    void setOutputDevices(const QList<OutputDevice>& value);
    void setStatusText(const QString& value);
    void setNeedsRestart(bool value);
    void setPresets(const QList<SongPreset>& value);
    void setSelectedPresetID(std::optional<QUuid> value);
    void setIsEngineRunning(bool value);
    void setOutputLevel(float value);
    void setWaveformSamples(const QList<float>& value);

    void broadcastState();

    // Pitch: pushes the current pitch into the time-pitch stage of a running
    // graph, and keeps pitchSemitones and pitchCents consistent.
    void updatePitch();
    void syncSemitones();
    void syncPitchForMode();

    // Vocal removal: the blend pair (vocalMono, vocalKaraoke) of a mode; for
    // custom the current pair.
    std::pair<float, float> blendForMode(VocalRemovalMode mode) const;
    void applyVocalRemovalMode(VocalRemovalMode mode);
    void markVocalRemovalModeCustomIfNeeded();
    void onVocalBlendChanged();
    void copyBlendToParameters();

    // Start path (main thread, asynchronous where it waits).
    bool engineWanted() const;
    void ensureAudioCapturePermission(std::function<void(bool granted)> done);
    using SetupDone = std::function<void(std::optional<QString> error)>;
    void setup(SetupDone done);
    void setupCapture();
    void waitForAggregateDeviceAlive(int reads, SetupDone done);
    void setupGraph();
    void startEngine();
    void finishStart(std::uint64_t generation, std::optional<QString> error);
    void failStart(const QString& error);
    void startStreams();
    // A running engine whose output changes: while its tap and capture
    // stream are sound only the playback side is built anew, so that every
    // program's stream stays on the tap (taking the tap away while no other
    // sink is left would make the server end them); otherwise the whole
    // graph. restartIfRunning() also waits while no output is left.
    void restartIfRunning();
    bool moveOutput();
    void dropOutput();
    void stopWithError(const QString& error);
    // A start (or a move to another output) that failed while the engine is
    // still needed is made again: after a short wait that grows with each
    // failure while an output is listed, and at once when the devices change.
    // After repeated failures on the same devices it waits for a change of
    // them (retryStartLater() then answers false); the error stays shown
    // meanwhile. Forgotten once a start succeeds or nothing needs the engine.
    void retryFailedStart();
    bool retryStartLater();
    void retryStartIfDevicesChanged();
    void forgetFailedStart();
    DeviceSnapshot deviceSnapshot();
    // With no output left the running engine keeps its tap (the streams on it
    // stay silent, as they would be on a device that is gone, rather than
    // end) and drops its output until a device appears.
    void waitForOutput();
    // Whether a device to play on is left, and whether it is another one than
    // the graph's; both also true when the server cannot be asked.
    bool outputLeft();
    bool outputMoved();
    // The tap's readings, handed to the main thread and shown while the
    // engine exists; the function runs on the tap thread.
    static std::function<void(const MeterReading&)>
    meterPublisher(std::weak_ptr<EngineAnchor> anchor);
    // The news that the graph's output stream or the capture stream ended,
    // handed to the main thread; the function runs on that stream's event
    // thread. An ending of a stream that cleanup() already took away is
    // passed over.
    static std::function<void()> streamEndedNotice(std::weak_ptr<EngineAnchor> anchor,
                                                   std::uint64_t generation, const char* stream);
    void followEndedStream(std::uint64_t generation, const char* stream);
    // The sound server, followed from construction to destruction: while it
    // is away a needed engine holds nothing and says so; once it answers
    // again the engine starts as after a change of the default output.
    void followSoundServer();
    void waitForSoundServer();
    void soundServerAnswers();
    // The start made once a server that left a wait unanswered answers
    // again: at once the first time, then after growing waits.
    void startAfterServerAnswered();
    // The status of a start that failed with error.
    QString startFailureText(const QString& error) const;
    // Whether the server is away or has left a wait unanswered: a failure
    // meanwhile is tried again once it answers.
    bool waitsForSoundServer() const;

    // Output devices: refreshOutputDevices() rebuilds outputDevices from the
    // sound server's list.
    void refreshOutputDevices();
    QString deviceName(std::uint32_t id);
    QString deviceUID(std::uint32_t id);
    bool isVirtual(const QString& name) const;
    // The device to play on; empty when none is left (Zivra's own tap is none).
    // physicalOutputDeviceID() throws EngineError for that case instead. Both
    // throw SoundError when the server cannot be reached.
    std::optional<std::uint32_t> findOutputDevice();
    std::uint32_t physicalOutputDeviceID();
    bool isOutputDevice(std::uint32_t id);
    // Both device listeners: the list is kept current for the engine's whole
    // life, and a running engine moves when its output would change or its
    // tap went; a failed start is made again on new devices.
    void followDevices();
    // The chosen device is the one with the chosen uid: its index is trusted
    // only while the sink there has that uid (a server that restarts hands
    // the old index to another sink), else the device is looked up by uid.
    // Empty while it is away.
    std::optional<std::uint32_t> selectedDevice();
    // A selected device that comes back gets a new index from the server: the
    // selection follows it by its uid.
    void followSelectedDevice();
    bool tapGone();
    void applySelectedOutput();
    // The uid the output list gives the device of that id; empty when none.
    QString listedUID(std::optional<std::uint32_t> id) const;
    // Makes the chosen output the server's default; 0 or the server's code.
    int makeSelectedOutputDefault();
    void startListeningForDeviceChanges();
    void stopListeningForDeviceChanges();

    // Presets.
    void loadPresets();
    void storePresets();

    bool pitchEnabled_ = false;
    float pitchCents_ = 0;
    qint64 pitchSemitones_ = 0;
    PitchControlMode pitchControlMode_ = PitchControlMode::semitones;
    bool removeVocalsEnabled_ = false;
    float volume_ = 1.0f;
    VocalRemovalMode vocalRemovalMode_ = VocalRemovalMode::off;
    float vocalMono_ = 0;
    float vocalKaraoke_ = 0;
    bool dualMonoOutput_ = false;
    QList<OutputDevice> outputDevices_;
    std::optional<std::uint32_t> selectedOutputID_;
    QString selectedOutputUID_;
    QString statusText_;
    bool needsRestart_ = false;
    QList<SongPreset> presets_;
    std::optional<QUuid> selectedPresetID_;
    QString newPresetName_;
    bool isEngineRunning_ = false;
    float outputLevel_ = 0;
    QList<float> waveformSamples_;
    bool handoffActive_ = false;

    bool isSyncingPitch_ = false;
    bool isUpdatingVocalBlend_ = false;
    bool isRequestingPermission_ = false;
    std::shared_ptr<AudioParameters> audioParams_;
    std::unique_ptr<EngineObjects> objects_;
};

} // namespace zivra::audio
