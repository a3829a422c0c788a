#include "platform/gui/Application.h"

#include "platform/Error.h"
#include "platform/gui/Dialogs.h"
#include "platform/gui/Placement.h"

namespace platform {

namespace {

UncaughtErrorHandler &installedHandler()
{
    static UncaughtErrorHandler handler;
    return handler;
}

QString messageOf(const std::exception &error)
{
    if (const auto *appError = dynamic_cast<const AppError *>(&error))
        return appError->message();
    return QString::fromLocal8Bit(error.what());
}

} // namespace

UncaughtErrorHandler setUncaughtErrorHandler(UncaughtErrorHandler handler)
{
    return std::exchange(installedHandler(), std::move(handler));
}

void reportUncaughtError(const std::exception &error)
{
    if (installedHandler()) {
        installedHandler()(error);
        return;
    }
    MessageBox box(QMessageBox::Critical, QApplication::applicationName(), messageOf(error),
        QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

Application::Application(int &argc, char **argv)
    : QApplication(argc, argv)
{
    installScreenFit(this);
}

bool Application::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &error) {
        reportUncaughtError(error);
    } catch (...) {
        reportUncaughtError(AppError(QStringLiteral("Unknown error")));
    }
    return false;
}

} // namespace platform
