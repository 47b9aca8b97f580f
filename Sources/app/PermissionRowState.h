#pragma once

#include "handoff/NowPlayingProvider.h"

#include <QColor>
#include <QString>

namespace zivra::app {

// Where one permission of the onboarding stands.
enum class PermissionRowState { unknown, undetermined, granted, denied, needsApp };

QString statusText(PermissionRowState state);
QColor statusColor(PermissionRowState state);
QString buttonTitle(PermissionRowState state);
// The media players' probe answer as a row state.
PermissionRowState rowState(handoff::NowPlayingProvider::MediaControlPermissionStatus status);

} // namespace zivra::app
