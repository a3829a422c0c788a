#include "options/DesktopEntry.h"

#include "platform/AtomicFile.h"
#include "platform/Error.h"
#include "platform/ErrorText.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace options {

namespace {

// Refuses what no quoting can carry, rather than write an entry that starts something else.
void checkProgramPath(const QString &program)
{
    // The desktop looks a bare name up in PATH: only an absolute path names this program.
    if (!program.startsWith(u'/'))
        throw AppError(QStringLiteral("Impossible de créer le raccourci : le chemin du programme "
                                      "\"%1\" n'est pas un chemin absolu.")
                           .arg(program));
    // A line feed would end the Exec line and begin a key of its own; the other control
    // characters have no place in an entry either.
    for (const QChar c : program) {
        if (c.category() == QChar::Other_Control)
            throw AppError(
                QStringLiteral("Impossible de créer le raccourci : le chemin du programme "
                               "contient un caractère de contrôle (saut de ligne, "
                               "tabulation...)."));
    }
    // U+FFFD is what decoding leaves of file-name bytes that are not UTF-8, and an entry is
    // UTF-8: the path written would name another file.
    if (program.contains(QChar::ReplacementCharacter) || !program.isValidUtf16())
        throw AppError(
            QStringLiteral("Impossible de créer le raccourci : le chemin du programme "
                           "contient des caractères qui ne sont pas de l'UTF-8 valide."));
}

} // namespace

QString desktopExecValue(const QString &program)
{
    checkProgramPath(program);

    // The argument level: quoted, with the four reserved characters escaped.
    QString quoted;
    quoted.reserve(program.size() + 8);
    quoted += u'"';
    for (const QChar c : program) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    quoted += u'"';

    // The field-code level: a literal percent sign is written twice.
    quoted.replace(u'%', QStringLiteral("%%"));

    // The string level, undone first by every reader: each backslash is escaped once more.
    quoted.replace(u'\\', QStringLiteral("\\\\"));
    return quoted;
}

QString installedIconName()
{
    const QString name = QStringLiteral("quillsift");
    const QStringList extensions { QStringLiteral(".png"), QStringLiteral(".svg"),
        QStringLiteral(".xpm") };
    const auto holds = [&](const QString &folder) {
        for (const QString &extension : extensions) {
            if (QFileInfo(folder + u'/' + name + extension).isFile())
                return true;
        }
        return false;
    };

    // Where the desktop's icon lookup searches, as the icon theme rules give it. A name the
    // lookup cannot find would only trade the generic icon for a missing one.
    const QStringList dataFolders
        = QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
    QStringList iconFolders { QDir::homePath() + QStringLiteral("/.icons") };
    for (const QString &data : dataFolders)
        iconFolders.append(data + QStringLiteral("/icons"));
    for (const QString &icons : iconFolders) {
        const QDir hicolor(icons + QStringLiteral("/hicolor"));
        const QStringList sizes = hicolor.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QString &size : sizes) {
            if (holds(hicolor.filePath(size) + QStringLiteral("/apps")))
                return name;
        }
    }
    for (const QString &data : dataFolders) {
        if (holds(data + QStringLiteral("/pixmaps")))
            return name;
    }
    return {};
}

QByteArray desktopEntryText(const QString &program, const QString &iconName)
{
    QString text = QStringLiteral("[Desktop Entry]\n"
                                  "Type=Application\n"
                                  "Name=Quill Sift\n"
                                  "Exec=")
        % desktopExecValue(program) % u'\n';
    if (!iconName.isEmpty())
        text += QStringLiteral("Icon=") + iconName + u'\n';
    return text.toUtf8();
}

void CreateShortcut(const QString &target, const QString &shortcutFile)
{
    const QByteArray content = desktopEntryText(target, installedIconName());
    // The launcher itself is replaced: a link in its place is not followed into a file that
    // is not ours to rewrite, nor to make executable. The desktop starts only entries marked
    // executable.
    const int code = platform::replaceFileAtomic(shortcutFile, content, 0755);
    if (code != 0)
        throw InOutError(code,
            QStringLiteral("Impossible d'écrire le raccourci \"%1\" : %2.")
                .arg(shortcutFile, platform::sysErrorMessage(code)));
}

} // namespace options
