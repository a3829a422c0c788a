#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace testsupport {

// Errors that reached the top-level error reporting, in order (installed by the test main).
void installErrorRecorder();
QStringList &reportedErrors();

// A fresh temporary folder for one test; path() has no trailing '/'.
class TempDirTest : public ::testing::Test
{
protected:
    void SetUp() override;

    QString path() const { return m_dir.path(); }
    QString file(const QString &relative) const { return m_dir.filePath(relative); }
    // Writes bytes (creating parent folders); returns the full path.
    QString writeFile(const QString &relative, const QByteArray &bytes) const;
    QByteArray readFile(const QString &relative) const;
    QString makeDir(const QString &relative) const;

    QTemporaryDir m_dir;
};

QByteArray readBytes(const QString &path);
void writeBytes(const QString &path, const QByteArray &bytes);

} // namespace testsupport
