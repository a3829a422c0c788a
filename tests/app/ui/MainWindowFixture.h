#pragma once

#include "app/uMain.h"
#include "support/Fixtures.h"
#include "support/Modal.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace uitest {

// Where the program keeps its settings, below the fixture's temporary folder.
inline const QString kSettings = QStringLiteral("config/Orvane/quillSift/");

// A test whose settings folder is a fresh temporary one (XDG_CONFIG_HOME pointed at it for
// the test, then put back), with the main window and its controls at hand.
class MainWindowFixture : public testsupport::TempDirTest
{
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        m_savedConfigHome = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(makeDir(QStringLiteral("config"))));
    }

    void TearDown() override { qputenv("XDG_CONFIG_HOME", m_savedConfigHome); }

    QString settingsFile(const QString &name) const { return file(kSettings + name); }
    QByteArray readSettings(const QString &name) const { return readFile(kSettings + name); }
    void writeSettings(const QString &name, const QByteArray &bytes) const
    {
        writeFile(kSettings + name, bytes);
    }

    // Starts the program's main window, which reads the settings folder as it opens.
    static std::unique_ptr<TfrmMain> openWindow()
    {
        auto window = std::make_unique<TfrmMain>();
        window->show();
        return window;
    }

    template<typename T> static T *child(const QWidget &window, const QString &name)
    {
        T *found = window.findChild<T *>(name);
        EXPECT_NE(found, nullptr) << name.toStdString();
        return found;
    }

    QByteArray m_savedConfigHome;
};

// Runs action on the next modal widget when it is a T; any other one fails the test and is
// closed, so that nothing waits on it.
template<typename T>
void onNextModalOf(const char *expected, std::function<void(T *)> action, int timeoutMs = 5000)
{
    testsupport::onNextModal(
        [expected, action = std::move(action)](QWidget *modal) {
            auto *form = qobject_cast<T *>(modal);
            if (!form) {
                ADD_FAILURE() << "expected " << expected;
                modal->close();
                return;
            }
            action(form);
        },
        timeoutMs);
}

} // namespace uitest
