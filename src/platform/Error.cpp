#include "platform/Error.h"

AppError::AppError(QString message)
    : m_message(std::move(message))
    , m_utf8(m_message.toUtf8())
{
}

InOutError::InOutError(int code, QString message)
    : AppError(std::move(message))
    , m_code(code)
{
}
