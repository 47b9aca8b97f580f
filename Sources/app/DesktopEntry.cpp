#include "app/DesktopEntry.h"

#include <QFile>
#include <QHash>

namespace zivra::app {
namespace {

struct Argument {
    QString text;
    bool quoted = false;
};

// The escapes every string value of an entry may hold.
QString unescaped(const QString& value) {
    QString result;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != u'\\' || i + 1 == value.size()) {
            result += value[i];
            continue;
        }
        const QChar next = value[++i];
        if (next == u's') {
            result += u' ';
        } else if (next == u'n') {
            result += u'\n';
        } else if (next == u't') {
            result += u'\t';
        } else if (next == u'r') {
            result += u'\r';
        } else if (next == u'\\') {
            result += u'\\';
        } else {
            result += u'\\';
            result += next;
        }
    }
    return result;
}

// Blanks separate arguments; double quotes group one, in which a backslash takes the next
// character as it is.
QList<Argument> splitArguments(const QString& line) {
    QList<Argument> arguments;
    Argument current;
    bool inArgument = false;
    bool inQuotes = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (inQuotes) {
            if (c == u'"') {
                inQuotes = false;
            } else if (c == u'\\' && i + 1 < line.size()) {
                current.text += line[++i];
            } else {
                current.text += c;
            }
        } else if (c == u'"') {
            inQuotes = true;
            inArgument = true;
            current.quoted = true;
        } else if (c == u' ' || c == u'\t') {
            if (inArgument) {
                arguments.append(current);
            }
            current = {};
            inArgument = false;
        } else {
            current.text += c;
            inArgument = true;
        }
    }
    if (inArgument) {
        arguments.append(current);
    }
    return arguments;
}

// Field codes of an unquoted argument with no files to open: a code standing for files or
// URLs alone drops the argument; %i becomes "--icon" and the icon when the entry has one.
QStringList expanded(const Argument& argument, const QHash<QString, QString>& entry,
                     const QString& path) {
    if (argument.quoted) {
        return {argument.text};
    }
    static const QStringList dropped = {"%f", "%F", "%u", "%U", "%d", "%D", "%n", "%N", "%v", "%m"};
    if (dropped.contains(argument.text)) {
        return {};
    }
    if (argument.text == u"%i") {
        const QString icon = entry.value(QStringLiteral("Icon"));
        return icon.isEmpty() ? QStringList() : QStringList{QStringLiteral("--icon"), icon};
    }
    QString text;
    for (qsizetype i = 0; i < argument.text.size(); ++i) {
        if (argument.text[i] != u'%' || i + 1 == argument.text.size()) {
            text += argument.text[i];
            continue;
        }
        const QChar code = argument.text[++i];
        if (code == u'%') {
            text += u'%';
        } else if (code == u'c') {
            text += entry.value(QStringLiteral("Name"));
        } else if (code == u'k') {
            text += path;
        }
    }
    return {text};
}

// The keys of the "Desktop Entry" group.
QHash<QString, QString> readEntry(QFile& file) {
    QHash<QString, QString> entry;
    bool inEntry = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(u'[')) {
            inEntry = line == u"[Desktop Entry]";
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (!inEntry || line.startsWith(u'#') || equals < 0) {
            continue;
        }
        const QString key = line.left(equals).trimmed();
        if (!entry.contains(key)) {
            entry.insert(key, unescaped(line.mid(equals + 1).trimmed()));
        }
    }
    return entry;
}

} // namespace

QStringList desktopEntryCommand(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QHash<QString, QString> entry = readEntry(file);
    QStringList command;
    for (const Argument& argument : splitArguments(entry.value(QStringLiteral("Exec")))) {
        command += expanded(argument, entry, path);
    }
    return command;
}

} // namespace zivra::app
