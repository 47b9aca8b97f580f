#include "audio/EngineObjects.h"
#include "audio/Logging.h"
#include "audio/ZivraAudio.h"

#include <QPointer>
#include <QTimer>

namespace zivra::audio {

bool ZivraAudio::engineWanted() const {
    return pitchEnabled_ || removeVocalsEnabled_ || handoffActive_;
}

void ZivraAudio::updateEngine() {
    if (objects_->isBuilding) {
        // Answered when the build in progress has finished.
        objects_->reevaluateAfterBuild = true;
        return;
    }
    const bool wanted = engineWanted();
    if (!wanted) {
        forgetFailedStart();
        objects_->unansweredStarts = 0;
        objects_->answeredStartTimer = 0;
    }
    if (wanted == isEngineRunning_) {
        return;
    }
    if (!wanted) {
        cleanup();
        setIsEngineRunning(false);
        setStatusText(QString());
        qCInfo(engineLog) << "The engine stopped";
        return;
    }
    if (isRequestingPermission_) {
        return;
    }
    isRequestingPermission_ = true;
    QTimer::singleShot(0, this, [this] {
        ensureAudioCapturePermission([guard = QPointer(this)](bool granted) {
            if (!guard) {
                return;
            }
            guard->isRequestingPermission_ = false;
            if (granted) {
                guard->startEngine();
            }
        });
    });
}

void ZivraAudio::ensureAudioCapturePermission(std::function<void(bool)> done) {
    ZivraAudioPermission& permission = *objects_->environment.permission;
    if (permission.preflightAudioCapture()) {
        done(true);
        return;
    }
    setStatusText(QStringLiteral("Allow System Audio Recording to use Zivra"));
    if (permissionPromptHandler) {
        permissionPromptHandler();
    }
    permission.requestAudioCapturePermission(
        [guard = QPointer(this), done = std::move(done)](bool granted) {
            if (!guard) {
                return;
            }
            if (granted) {
                guard->setStatusText(QString());
                if (guard->permissionGrantedHandler) {
                    guard->permissionGrantedHandler();
                }
            } else {
                qCWarning(engineLog) << "System audio recording was not allowed";
                guard->setStatusText(QStringLiteral(
                    "Permission denied. Enable System Audio Recording for Zivra in System "
                    "Settings."));
                guard->setNeedsRestart(true);
            }
            done(granted);
        });
}

void ZivraAudio::startEngine() {
    // A feature switched off while the permission was asked cancels the start.
    if (!engineWanted() || isEngineRunning_) {
        return;
    }
    if (objects_->isBuilding) {
        objects_->reevaluateAfterBuild = true;
        return;
    }
    objects_->isBuilding = true;
    const std::uint64_t generation = objects_->generation;
    setup([this, generation](std::optional<QString> error) { finishStart(generation, error); });
}

void ZivraAudio::finishStart(std::uint64_t generation, std::optional<QString> error) {
    // cleanup() took the half-built graph away while it was being built.
    if (generation != objects_->generation) {
        return;
    }
    objects_->isBuilding = false;
    if (!error) {
        try {
            startStreams();
        } catch (const std::exception& failure) {
            error = QString::fromStdString(failure.what());
        }
    }
    if (error) {
        failStart(*error);
        return;
    }
    qCInfo(engineLog) << "The engine runs, playing on output device" << objects_->outputDevice;
    forgetFailedStart();
    objects_->unansweredStarts = 0;
    objects_->saidUnansweredStart = false;
    setIsEngineRunning(true);
    setNeedsRestart(false);
    setStatusText(QString());
    if (objects_->reevaluateAfterBuild) {
        objects_->reevaluateAfterBuild = false;
        updateEngine();
    }
    // A change that came during the build may already be the one built on.
    if (objects_->restartAfterBuild) {
        objects_->restartAfterBuild = false;
        if (isEngineRunning_ && (outputMoved() || tapGone())) {
            restartIfRunning();
        }
    }
}

void ZivraAudio::failStart(const QString& error) {
    if (objects_->tap && !outputLeft()) {
        // The last output went while the graph was built: the engine holds
        // the tap and waits, as it does when that happens while it runs.
        forgetFailedStart();
        setIsEngineRunning(true);
        setNeedsRestart(false);
        waitForOutput();
        return;
    }
    // Said once for as long as the lock stays held, the server answers too
    // slowly for a start, or it stays silent: the retries, and every click
    // meanwhile, fail the same way.
    const bool unanswered = waitsForSoundServer();
    const bool said = (objects_->startMetHeldLock && objects_->retry.waitsForLock) ||
                      objects_->unansweredStarts > 0 ||
                      (unanswered && objects_->saidUnansweredStart);
    if (!said) {
        qCWarning(engineLog) << "The engine did not start on output device"
                             << objects_->outputDevice << ":" << error;
    }
    objects_->saidUnansweredStart = objects_->saidUnansweredStart || unanswered;
    stopWithError(error);
    // Devices that come and go fail a start now and then (a sink removed
    // between the look-up and the stream's connection); the engine is still
    // needed, so it is made again.
    retryStartLater();
}

void ZivraAudio::stopWithError(const QString& error) {
    // The failures so far are counted on; any other cleanup() ends the retries.
    StartRetry retry = std::move(objects_->retry);
    cleanup();
    objects_->retry = std::move(retry);
    setIsEngineRunning(false);
    setStatusText(startFailureText(error));
}

void ZivraAudio::cleanup() {
    EngineObjects& o = *objects_;
    // Ends a build in progress too: its remaining steps find a new generation.
    ++o.generation;
    o.isBuilding = false;
    o.reevaluateAfterBuild = false;
    o.restartAfterBuild = false;
    o.waitingForOutput = false;
    forgetFailedStart();
    if (o.graph) {
        o.graph->removeTap();
    }
    if (o.ioProcInstalled && o.captureDevice) {
        o.captureDevice->stop();
        o.captureDevice->destroyIOProc();
        o.ioProcInstalled = false;
    }
    o.captureDevice.reset();
    o.tap.reset();
    if (o.graph) {
        o.graph->stop();
    }
    o.graph.reset();
    o.ring.reset();
    o.renderCounters.reset();
}

void ZivraAudio::restartIfRunning() {
    if (objects_->isBuilding) {
        objects_->restartAfterBuild = true;
        return;
    }
    if (!isEngineRunning_) {
        return;
    }
    if (!outputLeft()) {
        waitForOutput();
        return;
    }
    if (moveOutput()) {
        return;
    }
    qCInfo(engineLog) << "The engine restarts on the new output device";
    cleanup();
    setIsEngineRunning(false);
    updateEngine();
}

// The device went, the tap was removed, or the server ended a stream: the
// engine goes on where it would start now, or waits while no output is left.
void ZivraAudio::followEndedStream(std::uint64_t generation, const char* stream) {
    if (generation != objects_->generation) {
        return;
    }
    qCInfo(engineLog) << "The" << stream << "stream of the engine on output device"
                      << objects_->outputDevice << "ended";
    restartIfRunning();
}

bool ZivraAudio::outputLeft() {
    refreshOutputDevices();
    try {
        return findOutputDevice().has_value();
    } catch (const std::exception&) {
        // A server that cannot be asked is left to the start path, which reports it.
        return true;
    }
}

bool ZivraAudio::outputMoved() {
    refreshOutputDevices();
    try {
        return findOutputDevice() != objects_->outputDevice;
    } catch (const std::exception&) {
        return true;
    }
}

void ZivraAudio::waitForOutput() {
    EngineObjects& o = *objects_;
    if (o.graph) {
        qCInfo(engineLog) << "No output device is left; the engine waits for one";
        dropOutput();
    }
    o.waitingForOutput = true;
    setStatusText(QStringLiteral("Waiting for an output device"));
}

} // namespace zivra::audio
