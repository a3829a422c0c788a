#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

// The system's ANSI code page: Windows-1252. The five undefined bytes 0x81, 0x8D, 0x8F,
// 0x90 and 0x9D map to U+0081 ... and back.
namespace platform {

// A character the code page lacks becomes '?'.
QByteArray toAnsi(QStringView text);
QString fromAnsi(QByteArrayView bytes);
bool ansiCanHold(QStringView text);

} // namespace platform
