#pragma once

#include "handoff/NowPlayingProvider.h"

#include <QUrl>

#include <functional>

class QSettings;

namespace zivra::app {

// The three permissions Zivra asks for, as the desktop answers them: recording what the
// computer plays, posting media keys, and controlling the media players. The start-up and the
// onboarding window read them through this one record; tests hand in their own answers.
// A record of copyable functions, called on the main thread; the media queries block while the
// players answer. Nothing throws but std::bad_alloc.
struct PermissionServices {
    using MediaStatus = handoff::NowPlayingProvider::MediaControlPermissionStatus;

    std::function<bool()> audioGranted;
    // Asks for the recording permission; the completion receives the answer on the main thread.
    std::function<void(std::function<void(bool)>)> requestAudio;
    std::function<bool()> accessibilityTrusted;
    // Shows the desktop's trust prompt, after telling the media controller not to show it again.
    std::function<void()> promptAccessibility;
    std::function<MediaStatus()> mediaControlStatus;
    // Whether "Spotify" or "Music" runs.
    std::function<bool()> mediaPlayerRunning;
    std::function<void(const QUrl&)> openURL;
    // Starts Spotify when it is installed, else the desktop's default audio player when one
    // is set; else nothing.
    std::function<void()> openMediaPlayerApp;

    // The answers of this desktop.
    static PermissionServices system();
};

inline const QString onboardingCompletedKey = QStringLiteral("ZivraOnboardingCompleted");

// Onboarding is due while a permission is missing, and until the user has once pressed
// "Continue" with all three granted. Main thread; borrows both; throws nothing but
// std::bad_alloc.
bool onboardingRequired(const PermissionServices& services, const QSettings& settings);

} // namespace zivra::app
