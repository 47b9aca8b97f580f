#pragma once

namespace zivra::app {

// Starts the desktop's default application for audio files, as xdg-mime names it for the
// common audio types, without a file. Returns false when none is set, its entry cannot be
// found or read, or it cannot be started. Main thread; waits for xdg-mime's answers (a few
// tenths of a second at most); throws nothing.
bool startDefaultAudioPlayer();

} // namespace zivra::app
