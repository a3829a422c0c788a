#pragma once

#include "settings/Settings.h"
#include "copy/CopyEngine.h"
#include "platform/ErrorText.h"
#include "support/Fixtures.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace copytest {

// The run's log lines, as the user reads them.
inline QString filterLine(const QString &adapted, const QString &filter)
{
    return u"Filtre: \"" + adapted + u"\"  (\"" + filter + u"\")";
}

inline QString filterLine(const QString &filter)
{
    return filterLine(filter, filter);
}

inline QString copyLine(const QString &source, const QString &target)
{
    return u"Copie du fichier \"" + source + u"\" vers \"" + target + u'"';
}

inline QString existsLine(const QString &target)
{
    return u"Le fichier \"" + target + u"\" existe déjà.";
}

inline QString replaceLine(const QString &target)
{
    return u"Attention: Le fichier \"" + target + u"\" existe déjà, il va être remplacé.";
}

inline QString errorLine(const QString &message)
{
    return u"Erreur: " + message;
}

// The line of a failure with this errno value.
inline QString errorLine(int code)
{
    return errorLine(platform::sysErrorMessage(code));
}

// Runs work in a forked child whose files cannot grow beyond limit bytes (a write then fails
// with EFBIG, even for root), and returns the text work returned.
inline QString inChildWithFileSizeLimit(rlim_t limit, const std::function<QString()> &work)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return QStringLiteral("no pipe");
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit rl { limit, limit };
        QByteArray result = "setrlimit failed";
        if (::setrlimit(RLIMIT_FSIZE, &rl) == 0)
            result = work().toUtf8();
        const bool sent = ::write(fds[1], result.constData(), size_t(result.size())) >= 0;
        ::_exit(sent ? 0 : 2);
    }
    ::close(fds[1]);
    QByteArray result;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0)
        result.append(buffer, n);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return QString::fromUtf8(result);
}

// A log that lets a test act at the moment a given line is logged: the "Copie du fichier"
// line comes after the file's selection and right before its copy.
class HookedLog : public LogLines
{
public:
    void append(const QString &line) override
    {
        LogLines::append(line);
        if (onLine)
            onLine(line);
    }

    std::function<void(const QString &)> onLine;
};

// A run from a fresh "src/" to a fresh "dst/" in the temporary folder, with settings that
// add nothing to the plain log: replace, filters as typed, no timestamp, no log file.
class CopyRunFixture : public testsupport::TempDirTest
{
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        src = makeDir(QStringLiteral("src")) + u'/';
        dst = makeDir(QStringLiteral("dst")) + u'/';
        config.DontReplace = false;
        config.AdaptatFiltre = 0;
        config.WithTimestamp = false;
        config.LogFile.clear();
    }

    QList<QString> run(const QStringList &filters, CopyRun::Pump pump = {},
        std::function<void(const QString &)> onLine = {})
    {
        HookedLog log;
        log.onLine = std::move(onLine);
        CopyRun copy(config, src, dst, log, std::move(pump));
        copy.runFilters(filters);
        return log.lines;
    }

    tyConfig config;
    QString src;
    QString dst;
};

} // namespace copytest
