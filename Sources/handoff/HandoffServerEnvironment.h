#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace zivra::audio {
class ZivraAudio;
}

namespace zivra::handoff {

class HandoffStreamer;
class MediaController;

// What a Handoff works with: the real ones for HandoffServer::shared(), a
// test's own elsewhere. The objects are not owned and must outlive the
// server; the streamer and the media controller are reached from connection
// threads, the engine only on the main thread. Copying it throws nothing but
// std::bad_alloc.
struct HandoffServerEnvironment {
    audio::ZivraAudio* audio = nullptr;
    HandoffStreamer* streamer = nullptr;
    MediaController* media = nullptr;
    // The address shown in the URL; nothing when none is usable.
    std::function<std::optional<QString>()> localAddress;
    QStringList cloudflaredSearchPaths;

    // The process-wide engine, streamer and media controller, the computer's
    // network address and the default search paths. Main thread (it creates
    // the engine on first use). In the library zivra_handoff_system, which
    // links the real engine.
    static HandoffServerEnvironment system();
};

} // namespace zivra::handoff
