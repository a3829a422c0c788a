#pragma once

#include <QString>

// Private-profile (INI) files, with the rules of GetPrivateProfileStringW and
// WritePrivateProfileStringW.
namespace platform {

// The value, at most 2047 characters; defaultValue when the file, section or key is missing.
QString getPrivateProfileString(const QString &section, const QString &key,
                                const QString &defaultValue, const QString &fileName);

// Writes one key, keeping every other line. Returns 0 or an errno value.
int writePrivateProfileString(const QString &section, const QString &key, const QString &value,
                              const QString &fileName);

} // namespace platform
