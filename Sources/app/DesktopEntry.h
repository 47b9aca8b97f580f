#pragma once

#include <QString>
#include <QStringList>

namespace zivra::app {

// The program and arguments that start the application of a desktop entry (a ".desktop"
// file) without files, as its Exec line gives them: quoting and escapes resolved, the file
// and URL field codes dropped, %i, %c and %k filled in from the entry. Empty when the file
// cannot be read or has no Exec line. Any thread; throws nothing.
QStringList desktopEntryCommand(const QString& path);

} // namespace zivra::app
