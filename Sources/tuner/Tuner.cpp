#include "tuner/Tuner.h"

#include "platform/sound/SoundError.h"
#include "tuner/Logging.h"
#include "tuner/NoteNames.h"
#include "tuner/PitchDetection.h"
#include "tuner/ToneWav.h"

#include <QCoreApplication>
#include <QPointer>

#include <exception>
#include <utility>

namespace zivra::tuner {
namespace {

constexpr std::uint32_t bufferFrames = 4096;
constexpr double toneDuration = 2.0;
constexpr double toneSampleRate = 48000;
constexpr float toneVolume = 0.5f;

} // namespace

const QString Tuner::noReading = QStringLiteral("\u2014");
const QString Tuner::listening = QStringLiteral("Listen\u2026");
const QString Tuner::accessDenied = QStringLiteral("Mic access denied");
const QString Tuner::failed = QStringLiteral("Tuner error");

TunerEnvironment TunerEnvironment::system() {
    return {[](std::function<void(bool)> completion) { completion(true); },
            [] { return platform::sound::createMicrophone(); },
            [](std::span<const std::uint8_t> wave, float volume) {
                return platform::sound::createTonePlayer(wave, volume);
            },
            [](std::function<void()> answered) {
                platform::sound::whenServerAnswers(std::move(answered));
            }};
}

template <typename T, typename Signal> void Tuner::publish(T& field, T value, Signal changed) {
    field = std::move(value);
    emit(this->*changed)(field);
}

Tuner& Tuner::shared() {
    static Tuner instance(TunerEnvironment::system());
    return instance;
}

Tuner::Tuner(TunerEnvironment environment, QObject* parent)
    : QObject(parent), environment_(std::move(environment)), detectedNote_(noReading),
      referenceNote_(QStringLiteral("A4")) {}

Tuner::~Tuner() {
    // The microphone's thread must be gone before the object it posts to.
    engine_.reset();
    player_.reset();
}

const QStringList& Tuner::referenceNotes() {
    static const QStringList notes = [] {
        QStringList list;
        for (const std::string& name : tuner::referenceNotes()) {
            list.append(QString::fromStdString(name));
        }
        return list;
    }();
    return notes;
}

void Tuner::startDetecting() {
    if (isDetecting_) {
        return;
    }
    // The answer may come on any thread; the rest of the start runs on the main thread, and
    // only while this tuner exists.
    QPointer<Tuner> self(this);
    environment_.requestMicrophoneAccess([self](bool granted) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, granted] {
                if (self) {
                    self->continueDetecting(granted);
                }
            },
            Qt::QueuedConnection);
    });
}

void Tuner::continueDetecting(bool granted) {
    if (!granted) {
        qCInfo(tunerLog) << "Microphone access refused";
        publish(detectedNote_, accessDenied, &Tuner::detectedNoteChanged);
        return;
    }
    stopReference();
    try {
        std::unique_ptr<platform::sound::Microphone> microphone = environment_.openMicrophone();
        microphone->start(bufferFrames, [this](const platform::sound::PcmBufferView& buffer) {
            handleBuffer(buffer);
        });
        engine_ = std::move(microphone);
    } catch (const platform::sound::ServerUnanswered& error) {
        qCWarning(tunerLog) << "The sound server does not answer yet; the tuner listens once it "
                               "does:"
                            << error.what();
        publish(detectedNote_, failed, &Tuner::detectedNoteChanged);
        listenWhenServerAnswers();
        return;
    } catch (const std::exception& error) {
        qCWarning(tunerLog) << "Cannot listen to the microphone:" << error.what();
        publish(detectedNote_, failed, &Tuner::detectedNoteChanged);
        return;
    }
    listensWhenServerAnswers_ = false;
    qCInfo(tunerLog) << "Listening to the microphone";
    publish(isDetecting_, true, &Tuner::isDetectingChanged);
    publish(detectedNote_, listening, &Tuner::detectedNoteChanged);
}

// Asked once for each silence of the server; the wish is dropped when the user stops
// listening or plays a tone meanwhile.
void Tuner::listenWhenServerAnswers() {
    if (std::exchange(listensWhenServerAnswers_, true) || !environment_.whenServerAnswers) {
        return;
    }
    QPointer<Tuner> self(this);
    environment_.whenServerAnswers([self] {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self] {
                if (self && self->listensWhenServerAnswers_ && !self->isDetecting_) {
                    self->listensWhenServerAnswers_ = false;
                    self->continueDetecting(true);
                }
            },
            Qt::QueuedConnection);
    });
}

void Tuner::stopDetecting() {
    listensWhenServerAnswers_ = false;
    if (engine_) {
        qCInfo(tunerLog) << "Stopped listening";
    }
    engine_.reset();
    publish(isDetecting_, false, &Tuner::isDetectingChanged);
}

void Tuner::handleBuffer(const platform::sound::PcmBufferView& buffer) {
    if (!buffer.channels || buffer.channelCount == 0 || !buffer.channels[0]) {
        return;
    }
    std::vector<float> samples(buffer.channels[0], buffer.channels[0] + buffer.frameLength);
    const double sampleRate = buffer.sampleRate;
    // Runs on the main thread; dropped by Qt when the tuner is gone by then.
    QMetaObject::invokeMethod(
        this, [this, samples = std::move(samples), sampleRate] { analyze(samples, sampleRate); },
        Qt::QueuedConnection);
}

void Tuner::analyze(const std::vector<float>& samples, double sampleRate) {
    if (const std::optional<double> frequency = detectFrequency(samples, sampleRate)) {
        updatePitch(*frequency);
    }
}

void Tuner::updatePitch(double frequency) {
    const std::optional<PitchReading> reading = readingForFrequency(frequency);
    if (!reading) {
        return;
    }
    publish(detectedFrequency_, frequency, &Tuner::detectedFrequencyChanged);
    publish(detectedNote_, QString::fromStdString(reading->note), &Tuner::detectedNoteChanged);
    publish(detectedCents_, qint64{reading->cents}, &Tuner::detectedCentsChanged);
}

void Tuner::toggleReference(const QString& note) {
    if (isReferencePlaying_ && referenceNote_ == note) {
        stopReference();
        return;
    }
    setReferenceNote(note);
    const QByteArray name = note.toUtf8();
    if (const std::optional<double> frequency =
            frequencyForNote(std::string_view(name.constData(), name.size()))) {
        playReferenceTone(*frequency);
    }
}

void Tuner::stopReference() {
    if (player_) {
        qCInfo(tunerLog) << "Reference tone stopped";
        player_->stop();
    }
    player_.reset();
    publish(isReferencePlaying_, false, &Tuner::isReferencePlayingChanged);
}

void Tuner::playReferenceTone(double frequency) {
    stopDetecting();
    const std::optional<std::vector<std::uint8_t>> wave =
        generateToneWAV(frequency, toneDuration, toneSampleRate);
    // Without a new tone the one sounding stops too, so that the button tells the truth.
    if (!wave) {
        stopReference();
        return;
    }
    std::unique_ptr<platform::sound::TonePlayer> player;
    try {
        player = environment_.createPlayer(*wave, toneVolume);
    } catch (const std::exception& error) {
        qCWarning(tunerLog) << "Cannot play the reference tone:" << error.what();
        stopReference();
        return;
    }
    player->play();
    qCInfo(tunerLog) << "Reference tone of" << frequency << "Hz playing";
    player_ = std::move(player);
    publish(isReferencePlaying_, true, &Tuner::isReferencePlayingChanged);
}

void Tuner::setReferenceNote(const QString& note) {
    publish(referenceNote_, note, &Tuner::referenceNoteChanged);
}

} // namespace zivra::tuner
