#include "platform/gui/Reported.h"

#include <QCoreApplication>
#include <QEvent>

namespace platform {

namespace {

QEvent::Type handlerEventType()
{
    static const auto type = QEvent::Type(QEvent::registerEventType());
    return type;
}

// The receiver of one handler's event.
class HandlerCarrier : public QObject
{
public:
    explicit HandlerCarrier(const std::function<void()> &handler)
        : m_handler(handler)
    {
    }

    bool event(QEvent *event) override
    {
        if (event->type() != handlerEventType())
            return QObject::event(event);
        m_handler();
        return true;
    }

private:
    const std::function<void()> &m_handler;
};

} // namespace

void runReported(const std::function<void()> &handler)
{
    HandlerCarrier carrier(handler);
    QEvent event(handlerEventType());
    QCoreApplication::sendEvent(&carrier, &event);
}

} // namespace platform
