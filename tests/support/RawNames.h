#pragma once

// Files made and read by the bytes of their names, past every text conversion: what the tests
// of names that are not UTF-8 need to see what really is on disk.

#include <QByteArray>

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <stdio.h>
#include <unistd.h>
#include <vector>

namespace testsupport {

// Creates (or replaces) the file; false when it cannot be written whole.
inline bool writeRawFile(const QByteArray &path, const QByteArray &content)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, content.constData(), size_t(content.size())) == content.size();
    return ::close(fd) == 0 && written;
}

// The whole content, or a null array when the file cannot be opened.
inline QByteArray readRawFile(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    QByteArray content("");
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        content.append(buffer, n);
    ::close(fd);
    return content;
}

// The names in the folder, "." and ".." left out, in byte order.
inline std::vector<QByteArray> rawEntries(const QByteArray &folder)
{
    std::vector<QByteArray> names;
    DIR *listing = ::opendir(folder.constData());
    if (!listing)
        return names;
    while (const dirent *entry = ::readdir(listing)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    }
    ::closedir(listing);
    std::sort(names.begin(), names.end());
    return names;
}

// Removes the file or the folder with all it holds. QTemporaryDir cannot: it lists names as
// text and so misses every name that is not UTF-8.
inline void removeRawTree(const QByteArray &path)
{
    ::nftw(
        path.constData(),
        [](const char *entry, const struct stat *, int, FTW *) {
            ::remove(entry);
            return 0; // on to the next entry whatever happened
        },
        16, FTW_DEPTH | FTW_PHYS);
}

} // namespace testsupport
