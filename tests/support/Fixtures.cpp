#include "support/Fixtures.h"

#include "platform/Error.h"
#include "platform/gui/Application.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace testsupport {

QStringList &reportedErrors()
{
    static QStringList errors;
    return errors;
}

void installErrorRecorder()
{
    platform::setUncaughtErrorHandler([](const std::exception &error) {
        if (const auto *appError = dynamic_cast<const AppError *>(&error))
            reportedErrors().append(appError->message());
        else
            reportedErrors().append(QString::fromUtf8(error.what()));
    });
}

void TempDirTest::SetUp()
{
    ASSERT_TRUE(m_dir.isValid());
    reportedErrors().clear();
}

QString TempDirTest::writeFile(const QString &relative, const QByteArray &bytes) const
{
    const QString full = file(relative);
    QDir().mkpath(QFileInfo(full).absolutePath());
    writeBytes(full, bytes);
    return full;
}

QByteArray TempDirTest::readFile(const QString &relative) const
{
    return readBytes(file(relative));
}

QString TempDirTest::makeDir(const QString &relative) const
{
    const QString full = file(relative);
    QDir().mkpath(full);
    return full;
}

QByteArray readBytes(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(f.write(bytes), bytes.size());
}

} // namespace testsupport
