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

HandoffServer::Core::Core(HandoffServer* owner, HandoffServerEnvironment environment)
    : environment(std::move(environment)), owner_(owner) {}

void HandoffServer::Core::post(std::function<void(HandoffServer&)> work) {
    std::lock_guard guard(ownerLock_);
    if (!owner_) {
        return;
    }
    // Queued with the server as context: a server destroyed before it runs
    // drops it.
    QMetaObject::invokeMethod(
        owner_, [owner = owner_, work = std::move(work)] { work(*owner); }, Qt::QueuedConnection);
}

void HandoffServer::Core::detach() {
    std::lock_guard guard(ownerLock_);
    owner_ = nullptr;
}

std::vector<HandoffServer::Core::SessionPtr> HandoffServer::Core::sessions() {
    std::lock_guard guard(lock_);
    return activeSessions_;
}

void HandoffServer::Core::beginRun(const std::string& token) {
    std::lock_guard guard(lock_);
    runToken_ = token;
    activeSessions_.clear();
}

bool HandoffServer::Core::isCurrentRun(const std::string& token) {
    std::lock_guard guard(lock_);
    return !token.empty() && token == runToken_;
}

void HandoffServer::Core::updateStatus(const QString& text) {
    post([text](HandoffServer& server) { server.setStatus(text); });
}

void HandoffServer::Core::handleConnected(const std::string& token, const SessionPtr& session) {
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
        post([](HandoffServer& server) { server.environment_.audio->setHandoffActive(true); });
    }
    updateStatus(QStringLiteral("Phone connected."));
    broadcastNowPlaying();
    post([](HandoffServer& server) { server.sendState(); });
}

void HandoffServer::Core::handleDisconnected(const std::string& token, const SessionPtr& session) {
    // Also for a session of an ended run: the streamer may still hold it.
    environment.streamer->disconnected(session);
    {
        std::lock_guard guard(lock_);
        if (token != runToken_) {
            return;
        }
        std::erase(activeSessions_, session);
        post([active = !activeSessions_.empty()](HandoffServer& server) {
            server.environment_.audio->setHandoffActive(active);
        });
    }
    updateStatus(QStringLiteral("Phone disconnected. Scan the QR code to reconnect."));
}

void HandoffServer::Core::handleText(const std::string& token, const std::string& text) {
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
        post([change = std::move(change)](HandoffServer& server) {
            change(*server.environment_.audio);
        });
    } else if (command->action == Action::getNowPlaying) {
        broadcastNowPlaying();
    } else if (command->action == Action::getState) {
        post([](HandoffServer& server) { server.sendState(); });
    } else if (command->action == Action::seek) {
        NowPlayingProvider::setPosition(command->number);
    }
}

void HandoffServer::Core::broadcastNowPlaying() {
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
        core->post([text = std::move(*text)](HandoffServer& server) { server.sendToAll(text); });
    });
}

} // namespace zivra::handoff
