#include "handoff/NowPlayingProvider.h"

#include "handoff/PlayerScriptTexts.h"
#include "platform/playerscript/PlayerScripts.h"

#include <QStringList>

#include <charconv>
#include <iostream>

namespace zivra::handoff {

namespace {

const QString& spotify = scriptedPlayers[0];
const QString& music = scriptedPlayers[1];
const QString spotifyIdentifier = QStringLiteral("com.spotify.client");
const QString musicIdentifier = QStringLiteral("com.apple.Music");

// The players that run, in the order Zivra addresses them.
QStringList runningPlayers(platform::playerscript::PlayerScripts& scripts) {
    const QStringList running = scripts.runningApplications();
    QStringList players;
    if (running.contains(spotifyIdentifier)) {
        players << spotify;
    }
    if (running.contains(musicIdentifier)) {
        players << music;
    }
    return players;
}

// The script's result, or nothing when it did not compile or failed (failures are printed).
std::optional<platform::playerscript::ScriptOutcome>
runAppleScript(platform::playerscript::PlayerScripts& scripts, const QString& source) {
    auto outcome = scripts.run(source);
    if (!outcome) {
        return std::nullopt;
    }
    if (!outcome->succeeded) {
        // A line on standard output by contract, not a log message (see CONTRIBUTING).
        std::cout << "AppleScript error: " << outcome->errorDescription.toStdString() << std::endl;
        return std::nullopt;
    }
    return outcome;
}

// The whole text as a decimal number, else 0: surrounding spaces or a decimal comma give 0.
double decimalOrZero(const QString& text) {
    const std::string bytes = text.toStdString();
    const char* begin = bytes.data();
    const char* end = begin + bytes.size();
    // from_chars takes no plus sign; a number has one sign at most.
    if (begin != end && *begin == '+') {
        ++begin;
        if (begin != end && *begin == '-') {
            return 0;
        }
    }
    double value = 0;
    const auto [stop, error] = std::from_chars(begin, end, value);
    if (begin == end || error != std::errc() || stop != end) {
        return 0;
    }
    return value;
}

} // namespace

std::optional<NowPlayingProvider::Track> NowPlayingProvider::track(const QString& app) {
    return track(app, platform::playerscript::systemPlayerScripts());
}

void NowPlayingProvider::setPosition(double seconds) {
    setPosition(seconds, platform::playerscript::systemPlayerScripts());
}

NowPlayingProvider::MediaControlPermissionStatus
NowPlayingProvider::preflightMediaControlPermission() {
    return preflightMediaControlPermission(platform::playerscript::systemPlayerScripts());
}

bool NowPlayingProvider::isPlayerRunning() {
    return isPlayerRunning(platform::playerscript::systemPlayerScripts());
}

bool NowPlayingProvider::isPlayerRunning(platform::playerscript::PlayerScripts& scripts) {
    return !runningPlayers(scripts).isEmpty();
}

std::optional<NowPlayingProvider::Track>
NowPlayingProvider::track(const QString& app, platform::playerscript::PlayerScripts& scripts) {
    const auto outcome = runAppleScript(scripts, trackQueryScript(app));
    if (!outcome || !outcome->stringValue || outcome->stringValue->isEmpty()) {
        return std::nullopt;
    }
    const QStringList fields = outcome->stringValue->split(QLatin1Char('|'));
    const auto field = [&fields](qsizetype index, const QString& fallback) {
        return index < fields.size() ? fields[index] : fallback;
    };
    Track track;
    track.title = field(0, QString());
    track.artist = field(1, QString());
    const QString state = field(2, QStringLiteral("playing")).toLower();
    track.position = decimalOrZero(field(3, QStringLiteral("0")));
    track.duration = decimalOrZero(field(4, QStringLiteral("0")));
    // Spotify reports the duration in milliseconds.
    if (app == spotify && track.duration > 1000) {
        track.duration /= 1000;
    }
    if (track.title.isEmpty() && track.artist.isEmpty()) {
        return std::nullopt;
    }
    track.isPlaying = state == QLatin1String("playing");
    return track;
}

void NowPlayingProvider::setPosition(double seconds,
                                     platform::playerscript::PlayerScripts& scripts) {
    for (const QString& app : scriptedPlayers) {
        runAppleScript(scripts, seekScript(app, seconds));
    }
}

NowPlayingProvider::MediaControlPermissionStatus
NowPlayingProvider::preflightMediaControlPermission(
    platform::playerscript::PlayerScripts& scripts) {
    const QStringList players = runningPlayers(scripts);
    if (players.isEmpty()) {
        return MediaControlPermissionStatus::noPlayerRunning;
    }
    bool refused = false;
    for (const QString& app : players) {
        // The probe stays quiet about its errors: a refusal is an answer here.
        const auto outcome = scripts.run(permissionProbeScript(app));
        if (!outcome) {
            continue;
        }
        if (outcome->succeeded && outcome->stringValue && !outcome->stringValue->isEmpty()) {
            return MediaControlPermissionStatus::granted;
        }
        if (!outcome->succeeded &&
            outcome->errorNumber == platform::playerscript::PlayerScripts::notPermitted) {
            refused = true;
        }
    }
    return refused ? MediaControlPermissionStatus::denied
                   : MediaControlPermissionStatus::undetermined;
}

} // namespace zivra::handoff
