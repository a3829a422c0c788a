#include "platform/Error.h"

#include "platform/Paths.h"

// A message is only ever shown: a path in it shows an undecodable byte as U+FFFD, in a
// message box as in what() (valid UTF-8).
AppError::AppError(QString message)
    : m_message(platform::displayText(message))
    , m_utf8(m_message.toUtf8())
{
}

InOutError::InOutError(int code, QString message)
    : AppError(std::move(message))
    , m_code(code)
{
}
