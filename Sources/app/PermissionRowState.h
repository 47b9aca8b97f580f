#pragma once

#include "handoff/NowPlayingProvider.h"

#include <QColor>
#include <QString>

namespace zivra::app {

// Where one permission of the onboarding stands. The functions below map a state to what the
// row shows: any thread, values returned, nothing thrown but std::bad_alloc.
enum class PermissionRowState { unknown, undetermined, granted, denied, needsApp };

QString statusText(PermissionRowState state);
QColor statusColor(PermissionRowState state);
QString buttonTitle(PermissionRowState state);
// The media players' probe answer as a row state.
PermissionRowState rowState(handoff::NowPlayingProvider::MediaControlPermissionStatus status);

} // namespace zivra::app
