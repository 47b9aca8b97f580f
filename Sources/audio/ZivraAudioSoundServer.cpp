#include "audio/EngineObjects.h"
#include "audio/Logging.h"
#include "audio/ZivraAudio.h"

#include <QPointer>

#include <utility>

namespace zivra::audio {

namespace {

QString waitingForServerText() {
    return QStringLiteral("Waiting for the sound server");
}

} // namespace

void ZivraAudio::followSoundServer() {
    objects_->serverListener =
        objects_->environment.sound->addServerListener([guard = QPointer(this)](bool answers) {
            if (!guard) {
                return;
            }
            if (answers) {
                guard->soundServerAnswers();
            } else {
                guard->waitForSoundServer();
            }
        });
}

// The graph's streams and the tap went with the server; a program that plays
// again once it is back is taken by the tap made then.
void ZivraAudio::waitForSoundServer() {
    objects_->serverAway = true;
    if (!engineWanted() && !isEngineRunning_) {
        return;
    }
    qCInfo(engineLog) << "The sound server went away; the engine waits for it";
    cleanup();
    setStatusText(waitingForServerText());
}

// Also after a wait that ran out (a slow or stopped server, not one gone
// away): the engine then may still hold all it had, and only what the server
// could not be asked meanwhile is done now.
void ZivraAudio::soundServerAnswers() {
    const bool wasAway = std::exchange(objects_->serverAway, false);
    // A start that fails in the next silence is said again.
    objects_->saidUnansweredStart = false;
    const bool outputToApply = std::exchange(objects_->outputToApply, false) && selectedOutputID_;
    // A list read while the server was away is empty.
    if (wasAway) {
        refreshOutputDevices();
    }
    // An output chosen while the server did not answer is made the default
    // now, and the engine started or moved there below.
    if (outputToApply) {
        makeSelectedOutputDefault();
    }
    if (!engineWanted()) {
        if (statusText_ == waitingForServerText()) {
            setStatusText(QString());
        }
        return;
    }
    if (!isEngineRunning_) {
        startAfterServerAnswered();
        return;
    }
    // Nothing was left undone: asking the server anyway would keep one that
    // answers every request late in a round of waits that run out.
    if (!wasAway && !outputToApply && objects_->tap && !objects_->waitingForOutput) {
        return;
    }
    // Listening first: a server that lists no output yet is waited on as
    // when the last one went, until one comes.
    startListeningForDeviceChanges();
    if (!objects_->tap || objects_->waitingForOutput || outputMoved() || tapGone()) {
        restartIfRunning();
    }
}

// A start while the server is away, or does not answer, cannot but fail; it
// is made again once the server answers.
bool ZivraAudio::waitsForSoundServer() const {
    return objects_->serverAway || objects_->environment.sound->awaitsAnswer();
}

QString ZivraAudio::startFailureText(const QString& error) const {
    return waitsForSoundServer() ? waitingForServerText() : QStringLiteral("Error: ") + error;
}

} // namespace zivra::audio
