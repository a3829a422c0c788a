#include "support/Modal.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace testsupport {

namespace {

// Polls from the event loop until a modal widget other than the ones already open appears.
void poll(std::shared_ptr<QElapsedTimer> clock, QPointer<QWidget> before, int timeoutMs,
          std::function<void(QWidget *)> action)
{
    QWidget *modal = QApplication::activeModalWidget();
    if (modal && modal != before) {
        action(modal);
        return;
    }
    if (clock->elapsed() > timeoutMs) {
        ADD_FAILURE() << "no modal dialog appeared within " << timeoutMs << " ms";
        return;
    }
    QTimer::singleShot(10, qApp, [=] { poll(clock, before, timeoutMs, action); });
}

} // namespace

QString dialogText(QWidget *modal)
{
    if (auto *box = qobject_cast<QMessageBox *>(modal))
        return box->text();
    return modal->windowTitle();
}

void onNextModal(std::function<void(QWidget *)> action, int timeoutMs)
{
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    QPointer<QWidget> before = QApplication::activeModalWidget();
    QTimer::singleShot(0, qApp, [=] { poll(clock, before, timeoutMs, action); });
}

void answerNextModal(const QString &buttonText, QString *seenText, int timeoutMs)
{
    onNextModal(
        [buttonText, seenText](QWidget *modal) {
            if (seenText)
                *seenText = dialogText(modal);
            const auto buttons = modal->findChildren<QAbstractButton *>();
            for (QAbstractButton *button : buttons) {
                if (button->text() == buttonText && button->isVisible()) {
                    button->click();
                    return;
                }
            }
            ADD_FAILURE() << "no button " << buttonText.toStdString() << " in "
                          << dialogText(modal).toStdString();
            modal->close();
        },
        timeoutMs);
}

} // namespace testsupport
