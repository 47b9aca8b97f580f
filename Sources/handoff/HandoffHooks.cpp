#include "handoff/HandoffHooks.h"

#include "audio/ZivraAudio.h"
#include "handoff/HandoffServer.h"
#include "handoff/HandoffStreamer.h"

namespace zivra::handoff {

void installHandoffHandlers(audio::ZivraAudio& audio, HandoffServer& server,
                            HandoffStreamer& streamer) {
    audio.broadcastStateHandler = [&server] { server.broadcastState(); };
    audio.handoffAppendHandler = [&streamer](const audio::AudioPCMBuffer& buffer) {
        streamer.append(buffer);
    };
}

} // namespace zivra::handoff
