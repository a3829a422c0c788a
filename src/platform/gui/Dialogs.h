#pragma once

#include <QString>

class QWidget;

// The system's message dialogs.
namespace platform {

// Caption "Confirmer", buttons "&Oui" (default) and "&Non"; true for "&Oui".
bool confirm(QWidget *parent, const QString &text);

// Caption "Informations", one button "OK".
void inform(QWidget *parent, const QString &text);

} // namespace platform
