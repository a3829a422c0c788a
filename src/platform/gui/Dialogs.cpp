#include "platform/gui/Dialogs.h"

#include "platform/Paths.h"
#include "platform/gui/WindowKeys.h"

#include <QMessageBox>
#include <QPushButton>

namespace platform {

bool confirm(QWidget *parent, const QString &text)
{
    // A folder named in the text shows an undecodable byte as U+FFFD.
    QMessageBox box(QMessageBox::Question, QStringLiteral("Confirmer"), displayText(text),
        QMessageBox::NoButton, parent);
    box.setObjectName(QStringLiteral("dlgConfirm"));
    QPushButton *yes = box.addButton(QStringLiteral("&Oui"), QMessageBox::YesRole);
    QPushButton *no = box.addButton(QStringLiteral("&Non"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    installWindowKeys(&box, yes, no);
    box.exec();
    return box.clickedButton() == yes;
}

void inform(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::Information, QStringLiteral("Informations"), displayText(text),
        QMessageBox::NoButton, parent);
    box.setObjectName(QStringLiteral("dlgInformations"));
    QPushButton *ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    installWindowKeys(&box, ok, ok);
    box.exec();
}

} // namespace platform
