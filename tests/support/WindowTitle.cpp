#include "support/WindowTitle.h"

#include <QGuiApplication>
#include <QProcess>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

namespace testsupport {

namespace {

// xprop prints the property's bytes as numbers ("-f ... 8c"), which keeps the UTF-8 intact
// whatever locale xprop runs in.
QString readNetWmName(WId window)
{
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"),
        { QStringLiteral("-id"), QString::number(window), QStringLiteral("-notype"),
            QStringLiteral("-f"), QStringLiteral("_NET_WM_NAME"), QStringLiteral("8c"),
            QStringLiteral("_NET_WM_NAME") });
    if (!xprop.waitForFinished(10000) || xprop.exitStatus() != QProcess::NormalExit
        || xprop.exitCode() != 0) {
        xprop.kill();
        ADD_FAILURE() << "xprop failed: " << xprop.errorString().toStdString() << " "
                      << xprop.readAllStandardError().toStdString();
        return {};
    }
    const QByteArray output = xprop.readAllStandardOutput().trimmed();
    // "_NET_WM_NAME = 82, 195, 169, ..." or, for an empty title, "_NET_WM_NAME = "
    const QByteArray prefix = "_NET_WM_NAME =";
    if (!output.startsWith(prefix)) {
        ADD_FAILURE() << "the window has no _NET_WM_NAME: " << output.toStdString();
        return {};
    }
    QByteArray bytes;
    for (const QByteArray &number : output.mid(prefix.size()).split(',')) {
        if (number.trimmed().isEmpty())
            continue;
        bool ok = false;
        const uint value = number.trimmed().toUInt(&ok);
        if (!ok || value > 255) {
            ADD_FAILURE() << "unexpected xprop output: " << output.toStdString();
            return {};
        }
        bytes.append(static_cast<char>(value));
    }
    return QString::fromUtf8(bytes);
}

} // namespace

QString shownTitle(QWidget *window)
{
    if (!window || !window->isWindow()) {
        ADD_FAILURE() << "shownTitle() needs a top-level widget";
        return {};
    }
    if (!QTest::qWaitForWindowExposed(window)) {
        ADD_FAILURE() << "the window " << window->objectName().toStdString()
                      << " was never exposed";
        return {};
    }
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return window->windowTitle();
    // Whatever Qt still holds for the server goes out before another client asks it.
    QGuiApplication::sync();
    return readNetWmName(window->winId());
}

} // namespace testsupport
