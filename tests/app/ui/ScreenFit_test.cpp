// Every window opens inside the screen's available area, frame included, on a screen too
// small for the sizes the windows are given: 1366 x 768 at twice the density under X11, the
// offscreen platform's 800 x 800 at one and a half.
#include "EveryWindow.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

std::string describe(const QRect &r)
{
    return QStringLiteral("%1,%2 %3x%4")
        .arg(r.x())
        .arg(r.y())
        .arg(r.width())
        .arg(r.height())
        .toStdString();
}

class ScreenFitTest : public uitest::EveryWindowTest
{
};

TEST_P(ScreenFitTest, window_opensInsideTheScreensAvailableArea)
{
    ASSERT_GE(QGuiApplication::primaryScreen()->devicePixelRatio(), 1.5)
        << "runs at a high density";
    const uitest::WindowCase &window = GetParam();
    bool checked = false;
    window.open(path(), [&](QWidget *opened) {
        checked = true;
        ASSERT_TRUE(QTest::qWaitForWindowExposed(opened));
        // A window manager frames the window a moment after it is mapped.
        if (QGuiApplication::platformName() == u"xcb"_s) {
            EXPECT_TRUE(QTest::qWaitFor([opened] {
                return opened->windowHandle()->frameGeometry() != opened->geometry();
            })) << "never framed";
        }
        const QRect area = opened->screen()->availableGeometry();
        // Moves still on their way from the window manager settle first.
        // The frame as the window system has it now (QWidget's may be one computed earlier).
        const auto frame = [opened] { return opened->windowHandle()->frameGeometry(); };
        (void)QTest::qWaitFor([&] { return area.contains(frame()); }, 1000);
        EXPECT_TRUE(area.contains(frame())) << describe(frame()) << " outside " << describe(area);
        // Shrunk, the window still shows every button whole.
        for (const QAbstractButton *button : opened->findChildren<QAbstractButton *>()) {
            if (!button->isVisible() || button->window() != opened)
                continue;
            const QRect inWindow(button->mapTo(opened, QPoint(0, 0)), button->size());
            EXPECT_TRUE(opened->rect().contains(inWindow))
                << button->objectName().toStdString() << " \"" << button->text().toStdString()
                << "\" at " << describe(inWindow) << ", window " << describe(opened->rect());
        }
    });
    ASSERT_TRUE(checked) << "the window never opened";
}

INSTANTIATE_TEST_SUITE_P(
    EveryWindow, ScreenFitTest, ::testing::ValuesIn(uitest::windowCases), uitest::windowCaseName);

} // namespace
