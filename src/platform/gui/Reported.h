#pragma once

#include <QObject>

#include <functional>
#include <utility>

namespace platform {

// Runs a handler inside an event of its own, so that an error it raises is caught and
// reported by Application::notify right there, instead of unwinding through the Qt code
// (mouse and key handling) that emitted the signal, which is not exception-safe.
void runReported(const std::function<void()> &handler);

// Connects a signal to a handler that runs through runReported.
template<typename Sender, typename Signal, typename Handler>
QMetaObject::Connection connectReported(
    Sender *sender, Signal signal, QObject *context, Handler handler)
{
    return QObject::connect(
        sender, signal, context, [handler = std::move(handler)] { runReported(handler); });
}

} // namespace platform
