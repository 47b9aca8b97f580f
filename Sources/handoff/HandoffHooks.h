#pragma once

namespace zivra::audio {
class ZivraAudio;
}

namespace zivra::handoff {

class HandoffServer;
class HandoffStreamer;

// Connects the engine to the Handoff without the engine linking it: every
// change of the pitch or vocal settings is broadcast to the phones, and
// every buffer of the engine's tap goes to the streamer. Main thread, at
// start-up, before the engine builds a graph. The objects must outlive the
// engine's use of them. Throws nothing but std::bad_alloc.
void installHandoffHandlers(audio::ZivraAudio& audio, HandoffServer& server,
                            HandoffStreamer& streamer);

} // namespace zivra::handoff
