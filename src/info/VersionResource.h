#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <cstdint>

// Version resources of executable files: the executable carries its resource in the Windows
// VS_VERSIONINFO layout in the ELF section ".qs_version". These are our counterparts of
// GetFileVersionInfoSizeW, GetFileVersionInfoW and VerQueryValueW. Any file may be given:
// everything is bounds-checked, and a file without the section has no version resource.
namespace info {

struct VS_FIXEDFILEINFO
{
    std::uint32_t dwSignature = 0;
    std::uint32_t dwStrucVersion = 0;
    std::uint32_t dwFileVersionMS = 0;
    std::uint32_t dwFileVersionLS = 0;
    std::uint32_t dwProductVersionMS = 0;
    std::uint32_t dwProductVersionLS = 0;
    std::uint32_t dwFileFlagsMask = 0;
    std::uint32_t dwFileFlags = 0;
    std::uint32_t dwFileOS = 0;
    std::uint32_t dwFileType = 0;
    std::uint32_t dwFileSubtype = 0;
    std::uint32_t dwFileDateMS = 0;
    std::uint32_t dwFileDateLS = 0;

    friend bool operator==(const VS_FIXEDFILEINFO &, const VS_FIXEDFILEINFO &) = default;
};
static_assert(sizeof(VS_FIXEDFILEINFO) == 52);

// The size in bytes of the file's version resource; 0 when it has none, with errno set:
// the open error (ENOENT ...), EISDIR for a folder, ENODATA for a file that is no ELF file,
// lacks the section or holds no valid resource in it. *handle, when given, is set to 0.
std::uint32_t getFileVersionInfoSize(const QString &fileName, std::uint32_t *handle = nullptr);

// Copies at most length bytes of the file's version resource into data. False, with errno
// set as above, when the file has none.
bool getFileVersionInfo(
    const QString &fileName, std::uint32_t handle, std::uint32_t length, void *data);

// The value of the block that subBlock names in a resource copy: "\" the fixed part,
// "\VarFileInfo\Translation", "\StringFileInfo\040904E4\ProductName". Names compare without
// regard to case. A text value comes as UTF-16LE bytes, its terminating NUL included. False
// when no such block exists (or the root has no fixed part); *value is then empty.
bool verQueryValue(QByteArrayView block, QStringView subBlock, QByteArrayView *value);

} // namespace info
