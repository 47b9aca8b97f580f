#include "app/PermissionRowState.h"

#include "app/Style.h"

namespace zivra::app {

QString statusText(PermissionRowState state) {
    switch (state) {
    case PermissionRowState::unknown:
        return QStringLiteral("Required");
    case PermissionRowState::undetermined:
        return QStringLiteral("Waiting for approval");
    case PermissionRowState::granted:
        return QStringLiteral("Ready");
    case PermissionRowState::denied:
        return QStringLiteral("Permission denied");
    case PermissionRowState::needsApp:
        return QStringLiteral("Open Spotify or Music");
    }
    return {};
}

QColor statusColor(PermissionRowState state) {
    switch (state) {
    case PermissionRowState::granted:
        return QColor(0x28, 0xa7, 0x45);
    case PermissionRowState::denied:
    case PermissionRowState::needsApp:
        return QColor(0xf0, 0x8a, 0x00);
    case PermissionRowState::unknown:
    case PermissionRowState::undetermined:
        break;
    }
    return secondaryTextColor();
}

QString buttonTitle(PermissionRowState state) {
    switch (state) {
    case PermissionRowState::unknown:
    case PermissionRowState::undetermined:
        return QStringLiteral("Allow");
    case PermissionRowState::granted:
        return QStringLiteral("Granted");
    case PermissionRowState::denied:
        return QStringLiteral("Open Settings");
    case PermissionRowState::needsApp:
        return QStringLiteral("Open App");
    }
    return {};
}

PermissionRowState rowState(handoff::NowPlayingProvider::MediaControlPermissionStatus status) {
    using Status = handoff::NowPlayingProvider::MediaControlPermissionStatus;
    switch (status) {
    case Status::undetermined:
        return PermissionRowState::unknown;
    case Status::noPlayerRunning:
        return PermissionRowState::needsApp;
    case Status::granted:
        return PermissionRowState::granted;
    case Status::denied:
        return PermissionRowState::denied;
    }
    return PermissionRowState::unknown;
}

} // namespace zivra::app
