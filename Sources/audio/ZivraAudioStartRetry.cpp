#include "audio/DoubledWait.h"
#include "audio/EngineObjects.h"
#include "audio/Logging.h"
#include "audio/ZivraAudio.h"

#include <QPointer>

#include <algorithm>
#include <chrono>
#include <utility>

namespace zivra::audio {

namespace {

using namespace std::chrono_literals;

// The wait before the first retry, doubled at each failure up to the longest.
constexpr std::chrono::milliseconds firstRetryWait = 100ms;
constexpr std::chrono::milliseconds longestRetryWait = 1600ms;
// Failures in a row on unchanged devices after which only a change of the
// devices makes the engine try again: about six seconds of waits, long enough
// for another Zivra to make its tap (TapLock.h) or a device to settle.
constexpr int unchangedFailuresToGiveUp = 8;
// While another process holds the tap lock the start is tried this often, for
// as long as it holds it: cheap, and soon after the lock is free.
constexpr std::chrono::milliseconds lockRetryWait = 500ms;

// After a server that answers every request later than a click waits has
// answered again, the wait before the second start made then, when the first
// failed: doubled after each such start, at most the longest.
constexpr std::chrono::milliseconds firstAnsweredStartWait = 1s;
constexpr std::chrono::milliseconds longestAnsweredStartWait = 60s;

} // namespace

DeviceSnapshot ZivraAudio::deviceSnapshot() {
    platform::sound::SoundServer& sound = *objects_->environment.sound;
    DeviceSnapshot snapshot;
    for (const platform::sound::SinkInfo& sink :
         sound.sinks().value_or(std::vector<platform::sound::SinkInfo>{})) {
        snapshot.sinks.emplace_back(sink.index, sink.name);
    }
    try {
        const std::optional<std::uint32_t> fallback = sound.defaultSink();
        // Zivra's own tap as the default, while it is the last sink, is no
        // change of the user's devices.
        if (fallback && std::ranges::any_of(snapshot.sinks, [&](const auto& sink) {
                return sink.first == *fallback;
            })) {
            snapshot.defaultSink = fallback;
        }
    } catch (const std::exception&) {
        // A server that cannot be asked has no default to tell.
    }
    return snapshot;
}

bool ZivraAudio::retryStartLater() {
    StartRetry& retry = objects_->retry;
    const bool lockHeld = std::exchange(objects_->startMetHeldLock, false);
    if (!engineWanted() || waitsForSoundServer()) {
        // Made again once the server answers, or never needed.
        forgetFailedStart();
        return true;
    }
    DeviceSnapshot devices = deviceSnapshot();
    // A held lock is no failure of the devices: it does not count towards
    // giving up on them.
    retry.unchangedFailures = lockHeld ? 0
                              : retry.active && devices == retry.devices
                                  ? retry.unchangedFailures + 1
                                  : 1;
    retry.failures = retry.active ? retry.failures + 1 : 1;
    retry.devices = std::move(devices);
    retry.active = true;
    retry.timer = 0;
    const bool saidLockHeld = std::exchange(retry.waitsForLock, lockHeld);
    if (!outputLeft()) {
        qCInfo(engineLog) << "No output device is listed; the engine starts when one comes";
        return true;
    }
    if (retry.unchangedFailures >= unchangedFailuresToGiveUp) {
        qCWarning(engineLog) << "The engine failed to start" << retry.unchangedFailures
                             << "times on the same devices; it tries again when they change";
        return false;
    }
    const std::chrono::milliseconds wait =
        lockHeld ? lockRetryWait : doubled(firstRetryWait, retry.failures - 1, longestRetryWait);
    if (!lockHeld) {
        qCInfo(engineLog) << "The engine tries to start again in" << wait.count() << "ms";
    } else if (!saidLockHeld) {
        qCInfo(engineLog) << "The engine tries to start again every" << wait.count()
                          << "ms until the tap lock is free";
    }
    const std::uint64_t timer = objects_->nextRetryTimer++;
    retry.timer = timer;
    objects_->environment.sleep(wait, [guard = QPointer(this), timer] {
        if (guard && guard->objects_->retry.timer == timer) {
            guard->objects_->retry.timer = 0;
            guard->retryFailedStart();
        }
    });
    return true;
}

void ZivraAudio::retryStartIfDevicesChanged() {
    const StartRetry& retry = objects_->retry;
    if (retry.active && deviceSnapshot() != retry.devices) {
        retryFailedStart();
    }
}

void ZivraAudio::retryFailedStart() {
    if (!objects_->retry.active || objects_->isBuilding) {
        return;
    }
    // A wait still running is superseded by this try.
    objects_->retry.timer = 0;
    if (!isEngineRunning_) {
        updateEngine();
    } else if (objects_->waitingForOutput) {
        restartIfRunning();
    }
}

// A server that answers every request later than a click waits fails every
// start; tried again as soon as it answers, each try would freeze the popover
// for a moment every few seconds and say so in the log. The first start after
// it answers is made at once; until one succeeds, each later one waits longer.
void ZivraAudio::startAfterServerAnswered() {
    if (objects_->answeredStartTimer != 0) {
        return;
    }
    const int unanswered = objects_->unansweredStarts++;
    if (unanswered < 1) {
        updateEngine();
        return;
    }
    const std::chrono::milliseconds wait =
        doubled(firstAnsweredStartWait, unanswered - 1, longestAnsweredStartWait);
    const std::uint64_t timer = objects_->nextRetryTimer++;
    objects_->answeredStartTimer = timer;
    qCInfo(engineLog) << "The sound server answers slowly; the engine tries to start again in"
                      << wait.count() << "ms";
    objects_->environment.sleep(wait, [guard = QPointer(this), timer] {
        if (guard && guard->objects_->answeredStartTimer == timer) {
            guard->objects_->answeredStartTimer = 0;
            guard->updateEngine();
        }
    });
}

void ZivraAudio::forgetFailedStart() {
    objects_->retry = StartRetry{};
}

} // namespace zivra::audio
