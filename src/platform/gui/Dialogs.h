#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

// The system's message dialogs.
namespace platform {

// Every message box of the program. Its text is plain text whatever it holds: a folder name
// or a message from outside may hold '<' or '&', which Qt would otherwise take for markup.
// A mark that French sets after a space (" ?", " !", " :", " ;") is never left alone at
// the start of a line: the box widens instead, and its text stays exactly the one given.
class MessageBox : public QMessageBox
{
public:
    MessageBox(Icon icon, const QString &title, const QString &text, StandardButtons buttons,
        QWidget *parent);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void keepMarksWithTheirWords();
};

// Caption "Confirmer", buttons "&Oui" (default) and "&Non"; true for "&Oui".
bool confirm(QWidget *parent, const QString &text);

// Caption "Informations", one button "OK".
void inform(QWidget *parent, const QString &text);

} // namespace platform
