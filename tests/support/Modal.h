#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace testsupport {

// Answers the next modal dialog: polls for QApplication::activeModalWidget() and clicks its
// button whose text is buttonText ('&' included, as shown in the description). The text of
// the dialog (a message box's text, or the window title otherwise) is stored in *seenText.
// Returns at once; the answer happens from the event loop that the modal dialog runs.
void answerNextModal(const QString &buttonText, QString *seenText = nullptr, int timeoutMs = 5000);

// Runs action on the next modal widget instead (for dialogs that are not message boxes).
void onNextModal(std::function<void(QWidget *)> action, int timeoutMs = 5000);

// Text shown by a message box, or the window title of any other widget.
QString dialogText(QWidget *modal);

} // namespace testsupport
