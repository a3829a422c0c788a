#pragma once

#include <QList>
#include <QString>

#include <cstdint>

// The directory search the copy run selects its files with (FindFirstFileW and friends).
namespace platform {

enum FileAttribute : std::uint32_t {
    faReadOnly = 0x01, // a regular file without any write permission bit
    faHidden = 0x02, // the name begins with '.'
    faSysFile = 0x04, // after following links, neither a regular file nor a directory
    faDirectory = 0x10,
    faArchive = 0x20, // every other entry: regular files, dangling links
    faNormal = 0x80, // not given here; kept for callers that test for it
};

struct FindData
{
    QString name; // the entry's name, without any folder part; encodePath gives its bytes
    std::uint32_t attributes = 0;
};

// Windows' wildcard rules (without 8.3 short names) for a whole name: the pattern's trailing
// dots and blanks dropped, "*.*" for every name, "?" never past a dot, "*." for the names
// without a dot, letters compared upper-cased; every other character stands for itself.
bool matchesMask(const QString &pattern, const QString &name);

// open / next / close over one folder. Entries come sorted by their upper-cased names in
// code-unit order, "." and ".." included as readdir() reports them. The folder is read once
// by findFirst; each entry's attributes are looked up (following links) when it is handed
// out, and never by opening it.
class FileSearch
{
public:
    FileSearch() = default;
    ~FileSearch();
    FileSearch(const FileSearch &) = delete;
    FileSearch &operator=(const FileSearch &) = delete;

    // pattern is a folder path followed by a name mask ("/src/*.txt"). False when the
    // folder cannot be read or no entry matches; then there is nothing to close.
    bool findFirst(const QString &pattern, FindData &data);
    // False when there are no more entries.
    bool findNext(FindData &data);
    void close();

private:
    bool fill(FindData &data);

    int m_dirFd = -1; // the folder, open while the search is
    QList<QString> m_names;
    qsizetype m_next = 0;
};

} // namespace platform
