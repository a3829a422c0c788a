#pragma once

#include <QString>

#include <exception>

// The error the system raises: it carries the French message shown to the user.
class AppError : public std::exception
{
public:
    explicit AppError(QString message);

    const QString &message() const noexcept { return m_message; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

// An input/output error that also carries the platform's error code (an errno value).
class InOutError : public AppError
{
public:
    InOutError(int code, QString message);

    int code() const noexcept { return m_code; }

private:
    int m_code;
};
