#pragma once

#include <QApplication>

#include <exception>
#include <functional>

namespace platform {

// The application's top-level error reporting: every error that no part of the system
// catches ends up in reportUncaughtError(), which hands it to the installed handler.
using UncaughtErrorHandler = std::function<void(const std::exception &)>;

// Installs the handler; returns the previous one. Without a handler the message is shown
// in a plain message box.
UncaughtErrorHandler setUncaughtErrorHandler(UncaughtErrorHandler handler);
void reportUncaughtError(const std::exception &error);

// Qt does not let an exception cross its event loop: notify() is where what an event
// handler raised is caught and reported, and the window that ran the action stays usable.
// Every top-level window is kept inside its screen's available area (installScreenFit).
class Application : public QApplication
{
    Q_OBJECT

public:
    Application(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;
};

} // namespace platform
