#include "handoff/HandoffServerCore.h"

#include "audio/ZivraAudio.h"
#include "handoff/HandoffMessages.h"
#include "handoff/HandoffStreamer.h"
#include "handoff/MediaController.h"
#include "handoff/NowPlayingProvider.h"
#include "http/WebSocketSession.h"

#include <QThreadPool>

#include <algorithm>

namespace zivra::handoff {

namespace {

using Action = HandoffCommand::Action;

std::optional<MediaController::Command> mediaCommandOf(Action action) {
    switch (action) {
    case Action::playPause:
        return MediaController::Command::playPause;
    case Action::nextTrack:
        return MediaController::Command::nextTrack;
    case Action::previousTrack:
        return MediaController::Command::previousTrack;
    case Action::rewind:
        return MediaController::Command::rewind;
    case Action::fastForward:
        return MediaController::Command::fastForward;
    case Action::mute:
        return MediaController::Command::mute;
    default:
        return std::nullopt;
    }
}

// The engine setting a command changes; nothing for the other commands.
std::function<void(audio::ZivraAudio&)> engineChangeOf(const HandoffCommand& command) {
    switch (command.action) {
    case Action::setPitchEnabled:
        return
            [value = command.enabled](audio::ZivraAudio& audio) { audio.setPitchEnabled(value); };
    case Action::setRemoveVocalsEnabled:
        return [value = command.enabled](audio::ZivraAudio& audio) {
            audio.setRemoveVocalsEnabled(value);
        };
    case Action::setPitchCents:
        return [value = static_cast<float>(command.number)](audio::ZivraAudio& audio) {
            audio.setPitchCents(value);
        };
    case Action::setVocalMode:
        return
            [value = command.mode](audio::ZivraAudio& audio) { audio.setVocalRemovalMode(value); };
    default:
        return nullptr;
    }
}

} // namespace

HandoffServerCore::HandoffServerCore(QObject* server, HandoffServerEnvironment environment,
                                     ServerActions actions)
    : environment(std::move(environment)), actions_(std::move(actions)), server_(server) {}

void HandoffServerCore::post(std::function<void()> work) {
    std::lock_guard guard(serverLock_);
    if (!server_) {
        return;
    }
    // Queued with the server as context: a server destroyed before it runs
    // drops it.
    QMetaObject::invokeMethod(server_, std::move(work), Qt::QueuedConnection);
}

void HandoffServerCore::detach() {
    std::lock_guard guard(serverLock_);
    server_ = nullptr;
}

std::vector<HandoffServerCore::SessionPtr> HandoffServerCore::sessions() {
    std::lock_guard guard(lock_);
    return activeSessions_;
}

void HandoffServerCore::beginRun(const std::string& token) {
    std::lock_guard guard(lock_);
    runToken_ = token;
    activeSessions_.clear();
}

bool HandoffServerCore::isCurrentRun(const std::string& token) {
    std::lock_guard guard(lock_);
    return !token.empty() && token == runToken_;
}

void HandoffServerCore::updateStatus(const QString& text) {
    post([this, text] { actions_.setStatus(text); });
}

void HandoffServerCore::broadcastState() {
    post([this] { actions_.sendState(); });
}

void HandoffServerCore::setHandoffActive(bool active) {
    post([this, active] { environment.audio->setHandoffActive(active); });
}

void HandoffServerCore::handleConnected(const std::string& token, const SessionPtr& session) {
    if (!isCurrentRun(token)) {
        return;
    }
    environment.streamer->connected(session);
    {
        std::lock_guard guard(lock_);
        // A stop() since the check above has ended the run: the phone is not
        // recorded, and its disconnect releases the streamer.
        if (token != runToken_) {
            return;
        }
        activeSessions_.push_back(session);
        // Posted under the lock, so the routing changes reach the engine in
        // the order the phones came and went.
        setHandoffActive(true);
    }
    updateStatus(QStringLiteral("Phone connected."));
    broadcastNowPlaying();
    broadcastState();
}

void HandoffServerCore::handleDisconnected(const std::string& token, const SessionPtr& session) {
    // Also for a session of an ended run: the streamer may still hold it.
    environment.streamer->disconnected(session);
    {
        std::lock_guard guard(lock_);
        if (token != runToken_) {
            return;
        }
        std::erase(activeSessions_, session);
        setHandoffActive(!activeSessions_.empty());
    }
    updateStatus(QStringLiteral("Phone disconnected. Scan the QR code to reconnect."));
}

void HandoffServerCore::handleText(const std::string& token, const std::string& text) {
    if (!isCurrentRun(token)) {
        return;
    }
    const auto command = parseHandoffCommand(text);
    if (!command) {
        return;
    }
    if (const auto mediaCommand = mediaCommandOf(command->action)) {
        environment.media->send(*mediaCommand);
    } else if (auto change = engineChangeOf(*command)) {
        post([this, change = std::move(change)] { change(*environment.audio); });
    } else if (command->action == Action::getNowPlaying) {
        broadcastNowPlaying();
    } else if (command->action == Action::getState) {
        broadcastState();
    } else if (command->action == Action::seek) {
        NowPlayingProvider::setPosition(command->number);
    }
}

void HandoffServerCore::broadcastNowPlaying() {
    if (sessions().empty()) {
        return;
    }
    // The players may take long to answer: the query runs on a worker thread.
    QThreadPool::globalInstance()->start([weakCore = weak_from_this()] {
        auto track = NowPlayingProvider::track(QStringLiteral("Spotify"));
        if (!track) {
            track = NowPlayingProvider::track(QStringLiteral("Music"));
        }
        if (!track) {
            return;
        }
        auto text = nowPlayingMessage(*track);
        const auto core = weakCore.lock();
        if (!text || !core) {
            return;
        }
        core->post(
            [core = core.get(), text = std::move(*text)] { core->actions_.sendToAll(text); });
    });
}

} // namespace zivra::handoff
