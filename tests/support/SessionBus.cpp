#include "support/SessionBus.h"

#include "support/Fixtures.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QStandardPaths>

namespace testsupport {

namespace {

QString daemonProgram()
{
    return QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
}

QByteArray escapeXml(const QByteArray &text)
{
    return QString::fromUtf8(text).toHtmlEscaped().toUtf8();
}

} // namespace

QByteArray escapeBusAddressValue(const QByteArray &value)
{
    QByteArray escaped;
    for (const char c : value) {
        const bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z')
            || (c >= 'a' && c <= 'z') || c == '-' || c == '_' || c == '/' || c == '.' || c == '\\'
            || c == '*';
        if (plain)
            escaped += c;
        else
            escaped += '%'
                + QByteArray::number(static_cast<unsigned char>(c), 16).rightJustified(2, '0');
    }
    return escaped;
}

PrivateSessionBus::PrivateSessionBus()
    : m_dir(QDir::tempPath() + QStringLiteral("/dbus-XXXXXX"))
{
}

PrivateSessionBus::~PrivateSessionBus()
{
    if (m_daemon) {
        m_daemon->kill();
        m_daemon->waitForFinished(5000);
    }
}

bool PrivateSessionBus::daemonInstalled()
{
    return !daemonProgram().isEmpty();
}

bool PrivateSessionBus::start()
{
    const QString program = daemonProgram();
    if (program.isEmpty()) {
        m_error = QStringLiteral("dbus-daemon is not installed (Debian package dbus)");
        return false;
    }
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder for the bus: ") + m_dir.errorString();
        return false;
    }
    const QString config = m_dir.filePath(QStringLiteral("session.conf"));
    const QByteArray listen = "unix:dir=" + escapeBusAddressValue(QFile::encodeName(m_dir.path()));
    writeBytes(config,
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
        "<busconfig>\n"
        "  <type>session</type>\n"
        "  <listen>"
            + escapeXml(listen)
            + "</listen>\n"
              "  <auth>EXTERNAL</auth>\n"
              "  <policy context=\"default\">\n"
              "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
              "    <allow eavesdrop=\"true\"/>\n"
              "    <allow own=\"*\"/>\n"
              "  </policy>\n"
              "</busconfig>\n");

    m_daemon = std::make_unique<QProcess>();
    m_daemon->setProcessChannelMode(QProcess::SeparateChannels);
    m_daemon->start(program,
        { QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
            QStringLiteral("--print-address=1") });
    if (!m_daemon->waitForStarted(5000)) {
        m_error = program + QStringLiteral(" did not start: ") + m_daemon->errorString();
        return false;
    }
    QByteArray printed;
    const QDeadlineTimer deadline(10000);
    while (!printed.contains('\n') && !deadline.hasExpired()
        && m_daemon->state() == QProcess::Running) {
        m_daemon->waitForReadyRead(int(deadline.remainingTime()));
        printed += m_daemon->readAllStandardOutput();
    }
    if (!printed.contains('\n')) {
        m_daemon->kill();
        m_daemon->waitForFinished(5000);
        m_error = program + QStringLiteral(" gave no address: ")
            + QString::fromLocal8Bit(m_daemon->readAllStandardError()).trimmed();
        return false;
    }
    m_address = QString::fromUtf8(printed.left(printed.indexOf('\n')).trimmed());
    return true;
}

} // namespace testsupport
