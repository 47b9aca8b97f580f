#include "app/PermissionServices.h"

#include "app/DefaultAudioPlayer.h"
#include "audio/ZivraAudioPermission.h"
#include "handoff/MediaController.h"

#include <QDesktopServices>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>

namespace zivra::app {

PermissionServices PermissionServices::system() {
    PermissionServices services;
    services.audioGranted = [] {
        return audio::ZivraAudioPermission::shared().preflightAudioCapture();
    };
    services.requestAudio = [](std::function<void(bool)> completion) {
        audio::ZivraAudioPermission::shared().requestAudioCapturePermission(std::move(completion));
    };
    services.accessibilityTrusted = [] {
        return handoff::MediaController::shared().isProcessTrusted();
    };
    services.promptAccessibility = [] {
        handoff::MediaController& controller = handoff::MediaController::shared();
        controller.hasPromptedForAccessibility = true;
        controller.isProcessTrustedWithPrompt();
    };
    services.mediaControlStatus = [] {
        return handoff::NowPlayingProvider::preflightMediaControlPermission();
    };
    services.mediaPlayerRunning = [] { return handoff::NowPlayingProvider::isPlayerRunning(); };
    services.openURL = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    services.openMediaPlayerApp = [] {
        // Spotify is the one player with a known program; "Music" is whichever other player
        // the desktop runs, which cannot be started by name: the desktop's default player for
        // audio files stands in for it.
        const QString spotify = QStandardPaths::findExecutable(QStringLiteral("spotify"));
        if (!spotify.isEmpty()) {
            QProcess::startDetached(spotify, {});
            return;
        }
        startDefaultAudioPlayer();
    };
    return services;
}

bool onboardingRequired(const PermissionServices& services, const QSettings& settings) {
    const bool completed = settings.value(onboardingCompletedKey, false).toBool();
    const bool audio = services.audioGranted();
    const bool accessibility = services.accessibilityTrusted();
    const PermissionServices::MediaStatus mediaStatus = services.mediaControlStatus();
    // A user who finished onboarding once is not locked out of the popover just because no
    // player happens to run right now; a refusal still brings the onboarding back.
    const bool media =
        mediaStatus == PermissionServices::MediaStatus::granted ||
        (completed && mediaStatus == PermissionServices::MediaStatus::noPlayerRunning);
    if (!(audio && accessibility && media)) {
        return true;
    }
    return !completed;
}

} // namespace zivra::app
