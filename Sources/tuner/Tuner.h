#pragma once

#include "tuner/TunerEnvironment.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <vector>

class QTimer;

namespace zivra::tuner {

// The tuner: listens to the microphone and names the note it hears, with its deviation in cents
// and its frequency, or plays a looping reference tone for a note; never both at once. Every
// published property emits its change signal on every assignment, also of an equal value.
//
// Everything here is used on the main thread; the microphone's thread only hands copies of its
// buffers over. The tuner owns its microphone and its player and stops both when destroyed,
// which also ends a wait for the sound server. Nothing here throws: failures become the status
// texts of detectedNote (and a warning in the log).
class Tuner : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isDetecting READ isDetecting NOTIFY isDetectingChanged)
    Q_PROPERTY(bool isReferencePlaying READ isReferencePlaying NOTIFY isReferencePlayingChanged)
    Q_PROPERTY(QString detectedNote READ detectedNote NOTIFY detectedNoteChanged)
    Q_PROPERTY(qint64 detectedCents READ detectedCents NOTIFY detectedCentsChanged)
    Q_PROPERTY(double detectedFrequency READ detectedFrequency NOTIFY detectedFrequencyChanged)
    Q_PROPERTY(
        QString referenceNote READ referenceNote WRITE setReferenceNote NOTIFY referenceNoteChanged)

public:
    // The status texts shown in place of a note.
    static const QString noReading;    // "—", before any reading
    static const QString listening;    // "Listen…", listening, nothing heard yet
    static const QString accessDenied; // "Mic access denied"
    static const QString failed;       // "Tuner error", the microphone could not be opened

    // The process-wide tuner on the desktop's services, created on first use (also under
    // concurrent first uses) and kept until the process ends.
    static Tuner& shared();

    explicit Tuner(TunerEnvironment environment, QObject* parent = nullptr);
    ~Tuner() override;

    bool isDetecting() const { return isDetecting_; }
    bool isReferencePlaying() const { return isReferencePlaying_; }
    QString detectedNote() const { return detectedNote_; }
    qint64 detectedCents() const { return detectedCents_; }
    double detectedFrequency() const { return detectedFrequency_; }
    QString referenceNote() const { return referenceNote_; }
    void setReferenceNote(const QString& note);

    // The notes a reference tone can be played for, "C1" to "B7".
    static const QStringList& referenceNotes();

    // Asks for the microphone and starts listening: a running reference tone stops first, and
    // detectedNote reads "Listen…" until the first note. The answer to the request arrives
    // later on the main thread, so listening begins after this returns. A sound server that
    // does not answer in time is waited for as listening (isDetecting true, "Listen…"): the
    // microphone opens once it answers. Nothing when already listening or waiting.
    void startDetecting();
    // Closes the microphone, or ends the wait for the server; the last reading stays.
    void stopDetecting();

    // Plays the reference tone of a note (listening ends first), or stops it when it is the
    // note already sounding. A name that is no note becomes referenceNote and plays nothing;
    // a tone whose player cannot be made stops the tone sounding before.
    void toggleReference(const QString& note);
    void stopReference();

signals:
    void isDetectingChanged(bool value);
    void isReferencePlayingChanged(bool value);
    void detectedNoteChanged(const QString& value);
    void detectedCentsChanged(qint64 value);
    void detectedFrequencyChanged(double value);
    void referenceNoteChanged(const QString& value);

private:
    void continueDetecting(bool granted);
    // Opens the microphone; a server that does not answer in time is waited for.
    void listen();
    void waitForServer(const char* reason);
    // Asks to be told, on the main thread, the next time the server answers during this wait.
    void askForAnswer();
    // Tries at once, checks that the server answers in time, or pauses, as the wait stands.
    void serverAnswered();
    // A try after the server answered, at once or after the pause.
    void tryAgain();
    void endServerWait();
    void handleBuffer(const platform::sound::PcmBufferView& buffer);
    void analyze(const std::vector<float>& samples, double sampleRate);
    void updatePitch(double frequency);
    void playReferenceTone(double frequency);

    // Stores a published value and announces it, also when it is the value held before.
    template <typename T, typename Signal> void publish(T& field, T value, Signal changed);

    TunerEnvironment environment_;
    bool isDetecting_ = false;
    bool isReferencePlaying_ = false;
    // Listening was asked for, but the microphone waits for the sound server to answer.
    bool waitsForServer_ = false;
    // Counts the waits: an answer to an earlier wait's request is no news to this one.
    std::uint64_t serverWait_ = 0;
    // Tries made during this wait at the first answer or after a pause: the pause before the
    // next.
    int triesAfterAnswer_ = 0;
    // Tries made during this wait at once, as the server answered in time after a failed try.
    int promptTries_ = 0;
    // An answer was asked for after a failed try, to tell a server that answers in time again
    // from one that answers late: the check runs for the time an answer in time may take.
    bool checksAnswer_ = false;
    // The pause before each try after an answer but the first; a child of the tuner.
    QTimer* pause_;
    // Runs from the request for the checking answer for as long as it may take; a child of
    // the tuner.
    QTimer* answerCheck_;
    QString detectedNote_;
    qint64 detectedCents_ = 0;
    double detectedFrequency_ = 0;
    QString referenceNote_;
    std::unique_ptr<platform::sound::Microphone> engine_;
    std::unique_ptr<platform::sound::TonePlayer> player_;
};

} // namespace zivra::tuner
