#pragma once

// Reads a desktop entry back the way a desktop does, written apart from the writer so that
// the two cannot share a mistake: the value of a key in [Desktop Entry], the string-level
// escapes undone, then the Exec value split into arguments, unquoted and with its field
// codes resolved.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace entryreader {

// The raw value of key in the [Desktop Entry] group; nullopt when it is missing.
inline std::optional<QString> rawValue(const QByteArray &file, const QString &key)
{
    const QStringList lines = QString::fromUtf8(file).split(u'\n');
    bool inGroup = false;
    for (const QString &line : lines) {
        if (line.startsWith(u'[')) {
            inGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inGroup || line.startsWith(u'#'))
            continue;
        const qsizetype equal = line.indexOf(u'=');
        if (equal > 0 && line.left(equal).trimmed() == key)
            return line.mid(equal + 1).trimmed();
    }
    return std::nullopt;
}

// \s \n \t \r and \\ of a string value; any other escape makes the value unreadable.
inline std::optional<QString> unescapeString(const QString &value)
{
    QString out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != u'\\') {
            out += value[i];
            continue;
        }
        if (++i == value.size())
            return std::nullopt;
        switch (value[i].unicode()) {
        case 's':
            out += u' ';
            break;
        case 'n':
            out += u'\n';
            break;
        case 't':
            out += u'\t';
            break;
        case 'r':
            out += u'\r';
            break;
        case '\\':
            out += u'\\';
            break;
        default:
            return std::nullopt;
        }
    }
    return out;
}

// %% is a literal percent sign; this program's entries carry no other field code.
inline std::optional<QString> resolveFieldCodes(const QString &argument)
{
    QString out;
    for (qsizetype i = 0; i < argument.size(); ++i) {
        if (argument[i] != u'%') {
            out += argument[i];
            continue;
        }
        if (++i == argument.size() || argument[i] != u'%')
            return std::nullopt;
        out += u'%';
    }
    return out;
}

// The Exec rules: arguments apart by blanks; a quoted argument escapes " ` $ and \ with a
// backslash and may hold any other character; an unquoted one holds no reserved character.
inline std::optional<QStringList> splitExec(const QString &exec)
{
    const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QStringList arguments;
    qsizetype i = 0;
    while (i < exec.size()) {
        if (exec[i] == u' ') {
            ++i;
            continue;
        }
        QString argument;
        if (exec[i] == u'"') {
            ++i;
            for (;;) {
                if (i == exec.size())
                    return std::nullopt; // unterminated quote
                const QChar c = exec[i++];
                if (c == u'"')
                    break;
                if (c == u'`' || c == u'$')
                    return std::nullopt; // must be escaped
                if (c == u'\\') {
                    if (i == exec.size())
                        return std::nullopt;
                    const QChar next = exec[i++];
                    if (next != u'"' && next != u'`' && next != u'$' && next != u'\\')
                        return std::nullopt;
                    argument += next;
                    continue;
                }
                argument += c;
            }
            if (i < exec.size() && exec[i] != u' ')
                return std::nullopt; // text glued to a closing quote
        } else {
            while (i < exec.size() && exec[i] != u' ') {
                if (reserved.contains(exec[i]))
                    return std::nullopt;
                argument += exec[i++];
            }
        }
        const std::optional<QString> resolved = resolveFieldCodes(argument);
        if (!resolved)
            return std::nullopt;
        arguments.append(*resolved);
    }
    return arguments;
}

// The program and arguments the desktop would start, or nullopt for a broken Exec line.
inline std::optional<QStringList> commandLine(const QByteArray &file)
{
    const std::optional<QString> raw = rawValue(file, QStringLiteral("Exec"));
    if (!raw)
        return std::nullopt;
    const std::optional<QString> exec = unescapeString(*raw);
    if (!exec)
        return std::nullopt;
    return splitExec(*exec);
}

} // namespace entryreader
