#pragma once

// Answers the Qt file dialogs that the picker and the editor open, as a user would: select
// an entry, then press the dialog's accept or reject button.
#include "support/Modal.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QPushButton>

#include <gtest/gtest.h>

#include <functional>

namespace folderstest {

// Presses the dialog's button of that role; a disabled or missing one fails the test and
// closes the dialog, so that no test hangs on it.
inline void pressButton(QFileDialog *dialog, QDialogButtonBox::ButtonRole role)
{
    const auto *box = dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
    if (box) {
        const QList<QAbstractButton *> buttons = box->buttons();
        for (QAbstractButton *button : buttons) {
            if (box->buttonRole(button) == role && button->isEnabled()) {
                button->click();
                return;
            }
        }
    }
    ADD_FAILURE() << "no enabled button of role " << role << " in the file dialog";
    dialog->reject();
}

// Runs check on the next file dialog, then chooses path in it, or cancels it when path is
// empty.
inline void answerNextFileDialog(
    const QString &path, std::function<void(QFileDialog *)> check = nullptr)
{
    testsupport::onNextModal([path, check](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        if (!dialog) {
            ADD_FAILURE() << "expected a file dialog, got " << modal->metaObject()->className();
            modal->close();
            return;
        }
        if (check)
            check(dialog);
        if (path.isEmpty()) {
            pressButton(dialog, QDialogButtonBox::RejectRole);
            return;
        }
        dialog->selectFile(path);
        pressButton(dialog, QDialogButtonBox::AcceptRole);
        if (dialog->isVisible()) {
            ADD_FAILURE() << "the file dialog refused " << path.toStdString();
            dialog->reject();
        }
    });
}

} // namespace folderstest
