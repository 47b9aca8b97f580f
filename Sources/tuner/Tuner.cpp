#include "tuner/Tuner.h"

#include "audio/DoubledWait.h"
#include "platform/sound/SoundError.h"
#include "tuner/Logging.h"
#include "tuner/NoteNames.h"
#include "tuner/PitchDetection.h"
#include "tuner/ToneWav.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <exception>
#include <utility>

namespace zivra::tuner {
namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t bufferFrames = 4096;
constexpr double toneDuration = 2.0;
constexpr double toneSampleRate = 48000;
constexpr float toneVolume = 0.5f;

// Behind a server that answers every request a little later than a click waits, each try to
// open the microphone freezes the main thread for that wait (1.5 s) and fails, and the server
// answers again moments later. The first try after an answer is made at once, so that after a
// stop the tuner listens as soon as the server goes on; each later one, but for those below,
// waits, after the answer, for a pause doubled at each try. 10 s first: even were each answer to
// come the moment a try gave up, the click and the try at once (1.5 s each) and the try after 10 s
// leave the fourth 34.5 s after the click, three freezes in the first half minute (a first pause of
// 1 s, as the engine's, would make six).
constexpr std::chrono::milliseconds firstPause = 10s;
constexpr std::chrono::milliseconds longestPause = 60s;

// The answer that ends a stop may be to a request made long before (a look of the engine's, a
// connection made before the stop and taken over during it), and the try made at once may then
// fail while the server is still stopped or still catching up with what was asked meanwhile: no
// sign of a server too slow to use. So an answer after a failed try is put to the test: the
// tuner asks for the next one, and one that comes within promptAnswer shows a server that
// answers in time again, which is tried at once. A server that answers every request 1.6 s
// late does not: it answers a request sent then after 1.6 s and a new connection after twice
// that, and behind it the tuner's own connections under way were begun a try (1.5 s) apart. 1 s
// leaves room for a server still catching up on a busy machine (after the stops tried, 0.1 s at
// most). Two such tries at most in a wait: each freezes the main thread for up to 1.5 s, so a
// server that answers in time but keeps failing the microphone then gets the growing pauses.
constexpr std::chrono::milliseconds promptAnswer = 1s;
constexpr int mostPromptTries = 2;

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
    : QObject(parent), environment_(std::move(environment)), pause_(new QTimer(this)),
      answerCheck_(new QTimer(this)), detectedNote_(noReading),
      referenceNote_(QStringLiteral("A4")) {
    pause_->setObjectName(QStringLiteral("pause"));
    pause_->setSingleShot(true);
    connect(pause_, &QTimer::timeout, this, &Tuner::tryAgain);
    answerCheck_->setObjectName(QStringLiteral("answerCheck"));
    answerCheck_->setSingleShot(true);
    answerCheck_->setTimerType(Qt::PreciseTimer);
}

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
    listen();
}

void Tuner::listen() {
    try {
        std::unique_ptr<platform::sound::Microphone> microphone = environment_.openMicrophone();
        microphone->start(bufferFrames, [this](const platform::sound::PcmBufferView& buffer) {
            handleBuffer(buffer);
        });
        engine_ = std::move(microphone);
    } catch (const platform::sound::ServerUnanswered& error) {
        waitForServer(error.what());
        return;
    } catch (const std::exception& error) {
        qCWarning(tunerLog) << "Cannot listen to the microphone:" << error.what();
        endServerWait();
        publish(isDetecting_, false, &Tuner::isDetectingChanged);
        publish(detectedNote_, failed, &Tuner::detectedNoteChanged);
        return;
    }
    endServerWait();
    qCInfo(tunerLog) << "Listening to the microphone";
    publish(isDetecting_, true, &Tuner::isDetectingChanged);
    publish(detectedNote_, listening, &Tuner::detectedNoteChanged);
}

// A server that does not answer in time is stopped, hung or slow, not gone: the user sees the
// tuner listen, and the microphone opens once the server answers. Said once for each wait.
void Tuner::waitForServer(const char* reason) {
    if (!std::exchange(waitsForServer_, true)) {
        ++serverWait_;
        qCWarning(tunerLog) << "The sound server does not answer; the tuner listens once it does:"
                            << reason;
        publish(isDetecting_, true, &Tuner::isDetectingChanged);
        publish(detectedNote_, listening, &Tuner::detectedNoteChanged);
    } else {
        qCDebug(tunerLog) << "The sound server still answers too late to listen:" << reason;
    }
    askForAnswer();
}

// The answer may come on any thread; it is taken on the main thread, while this tuner exists
// and the wait lasts.
void Tuner::askForAnswer() {
    QPointer<Tuner> self(this);
    environment_.whenServerAnswers([self, number = serverWait_] {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, number] {
                if (self && self->serverWait_ == number) {
                    self->serverAnswered();
                }
            },
            Qt::QueuedConnection);
    });
}

void Tuner::serverAnswered() {
    if (!waitsForServer_) {
        return;
    }
    if (triesAfterAnswer_ == 0) {
        tryAgain();
        return;
    }
    if (std::exchange(checksAnswer_, false)) {
        if (answerCheck_->isActive()) {
            qCDebug(tunerLog) << "The sound server answered in time again, in"
                              << promptAnswer.count() - answerCheck_->remainingTime()
                              << "ms; the tuner tries at once";
            answerCheck_->stop();
            ++promptTries_;
            listen();
            return;
        }
    } else if (promptTries_ < mostPromptTries) {
        checksAnswer_ = true;
        answerCheck_->start(promptAnswer);
        askForAnswer();
        return;
    }
    const std::chrono::milliseconds pause =
        audio::doubled(firstPause, triesAfterAnswer_ - 1, longestPause);
    qCInfo(tunerLog) << "The sound server answers too late to listen; the tuner tries again in"
                     << pause.count() << "ms";
    pause_->start(pause);
}

void Tuner::tryAgain() {
    ++triesAfterAnswer_;
    listen();
}

void Tuner::endServerWait() {
    waitsForServer_ = false;
    triesAfterAnswer_ = 0;
    promptTries_ = 0;
    checksAnswer_ = false;
    answerCheck_->stop();
    pause_->stop();
}

void Tuner::stopDetecting() {
    if (engine_ || waitsForServer_) {
        qCInfo(tunerLog) << "Stopped listening";
    }
    endServerWait();
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
