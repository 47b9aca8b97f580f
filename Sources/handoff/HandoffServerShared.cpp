#include "audio/ZivraAudio.h"
#include "handoff/HandoffServer.h"
#include "handoff/HandoffStreamer.h"
#include "handoff/LocalAddress.h"
#include "handoff/MediaController.h"

namespace zivra::handoff {

HandoffServerEnvironment HandoffServerEnvironment::system() {
    HandoffServerEnvironment environment;
    environment.audio = &audio::ZivraAudio::shared();
    environment.streamer = &HandoffStreamer::shared();
    environment.media = &MediaController::shared();
    environment.localAddress = [] { return localIPv4Address(); };
    environment.cloudflaredSearchPaths = HandoffServer::defaultCloudflaredSearchPaths;
    return environment;
}

HandoffServer& HandoffServer::shared() {
    // Kept for the life of the process, like the engine it drives.
    static HandoffServer* const instance = new HandoffServer(HandoffServerEnvironment::system());
    return *instance;
}

} // namespace zivra::handoff
