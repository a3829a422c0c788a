#include "platform/FileSearch.h"

#include "platform/Paths.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace platform {

namespace {

// Upper-cased code point by code point with the simple (one to one) mapping, so that a
// name keeps its length, as the file system's own case table does.
QString upperCased(const QString &text)
{
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            const char32_t upper = QChar::toUpper(QChar::surrogateToUcs4(c, text.at(i + 1)));
            result.append(QChar::highSurrogate(upper));
            result.append(QChar::lowSurrogate(upper));
            ++i;
        } else {
            result.append(c.toUpper());
        }
    }
    return result;
}

enum class Token : char { Literal, Star, DosStar, DosQm, DosDot };

struct Element
{
    Token token;
    QChar literal; // for Literal
    int count = 1; // for DosQm: the length of the run
    bool last = false; // for DosQm: the run ends the pattern
};

// The rewriting step: trailing dots and blanks, "*.*", then the DOS wildcards.
std::vector<Element> compile(const QString &pattern)
{
    QString text = upperCased(pattern);
    const bool endedWithDot = text.endsWith(u'.');
    while (!text.isEmpty() && (text.back() == u'.' || text.back() == u' '))
        text.chop(1);

    std::vector<Element> elements;
    if (text == u"*.*") {
        elements.push_back({ Token::Star, {} });
        return elements;
    }
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const QChar next = i + 1 < text.size() ? text.at(i + 1) : QChar();
        if (c == u'?') {
            if (!elements.empty() && elements.back().token == Token::DosQm)
                ++elements.back().count;
            else
                elements.push_back({ Token::DosQm, {} });
        } else if (c == u'*') {
            const bool endsText = i + 1 == text.size();
            elements.push_back(
                { next == u'.' || (endedWithDot && endsText) ? Token::DosStar : Token::Star, {} });
        } else if (c == u'.' && (next == u'?' || next == u'*')) {
            elements.push_back({ Token::DosDot, {} });
        } else {
            elements.push_back({ Token::Literal, c });
        }
    }
    if (!elements.empty() && elements.back().token == Token::DosQm)
        elements.back().last = true;
    return elements;
}

// Whether the elements match the whole upper-cased name. Worked out from the last element
// back to the first, one row of name positions per element: neither the stack nor the memory
// grows with the pattern, however many wildcards a filter line holds.
bool matchesCompiled(const std::vector<Element> &elements, const QString &name)
{
    const qsizetype size = name.size();
    const qsizetype lastDot = name.lastIndexOf(u'.');
    // stop[n]: the first dot at or after n, or the end of the name.
    std::vector<qsizetype> stop(size_t(size + 1), size);
    for (qsizetype n = size - 1; n >= 0; --n)
        stop[size_t(n)] = name.at(n) == u'.' ? n : stop[size_t(n + 1)];

    // rest[n]: the elements after the current one match the name from n on.
    std::vector<char> rest(size_t(size + 1), 0);
    std::vector<char> row(size_t(size + 1), 0);
    rest[size_t(size)] = 1;
    const auto after = [&rest](qsizetype n) { return rest[size_t(n)] != 0; };
    for (auto it = elements.rbegin(); it != elements.rend(); ++it) {
        const Element &element = *it;
        switch (element.token) {
        case Token::Literal:
            for (qsizetype n = 0; n <= size; ++n)
                row[size_t(n)] = n < size && name.at(n) == element.literal && after(n + 1);
            break;
        case Token::Star: {
            bool any = false;
            for (qsizetype n = size; n >= 0; --n)
                row[size_t(n)] = any = any || after(n);
            break;
        }
        case Token::DosStar: {
            // Up to and including the last dot, never past it; anything when none is left.
            bool any = false;
            for (qsizetype n = size; n > lastDot; --n)
                row[size_t(n)] = any = any || after(n);
            any = lastDot >= 0 && after(lastDot + 1);
            for (qsizetype n = lastDot; n >= 0; --n)
                row[size_t(n)] = any = any || after(n);
            break;
        }
        case Token::DosQm:
            for (qsizetype n = 0; n <= size; ++n) {
                const qsizetype end = std::min(n + element.count, stop[size_t(n)]);
                row[size_t(n)] = after(end)
                    || (element.last && end - n < element.count && end < size
                        && name.at(end) == u'.' && after(end + 1));
            }
            break;
        case Token::DosDot:
            for (qsizetype n = 0; n <= size; ++n)
                row[size_t(n)] = n == size ? after(n) : name.at(n) == u'.' && after(n + 1);
            break;
        }
        // Nothing left that could match: the elements before cannot change that.
        if (std::none_of(row.begin(), row.end(), [](char cell) { return cell != 0; }))
            return false;
        std::swap(rest, row);
    }
    return rest[0] != 0;
}

} // namespace

bool matchesMask(const QString &pattern, const QString &name)
{
    return matchesCompiled(compile(pattern), upperCased(name));
}

FileSearch::~FileSearch()
{
    close();
}

bool FileSearch::findFirst(const QString &pattern, FindData &data)
{
    close();
    if (pattern.contains(QChar(0)))
        return false;
    const qsizetype slash = pattern.lastIndexOf(u'/');
    const QString folder = slash < 0 ? QStringLiteral(".") : pattern.left(slash + 1);
    const std::vector<Element> mask = compile(pattern.mid(slash + 1));

    const int dirFd
        = ::open(encodePath(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    if (dirFd < 0)
        return false;
    // readdir() gets a descriptor of its own, so that the folder stays open for the
    // attribute look-ups after the listing is done.
    const int listFd = ::dup(dirFd);
    DIR *listing = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (!listing) {
        if (listFd >= 0)
            ::close(listFd);
        ::close(dirFd);
        return false;
    }

    // Only the names are compared here: a folder of many entries stays cheap when the
    // mask selects few of them.
    std::vector<std::pair<QString, QString>> found; // upper-cased name, name
    while (const dirent *entry = ::readdir(listing)) {
        QString name
            = decodePath(QByteArrayView(entry->d_name, qsizetype(std::strlen(entry->d_name))));
        QString upper = upperCased(name);
        if (matchesCompiled(mask, upper))
            found.emplace_back(std::move(upper), std::move(name));
    }
    ::closedir(listing);

    std::sort(found.begin(), found.end());
    m_names.reserve(qsizetype(found.size()));
    for (auto &entry : found)
        m_names.append(std::move(entry.second));
    m_dirFd = dirFd;
    m_next = 0;
    if (!fill(data)) {
        close();
        return false;
    }
    return true;
}

bool FileSearch::findNext(FindData &data)
{
    return m_dirFd >= 0 && fill(data);
}

void FileSearch::close()
{
    if (m_dirFd >= 0)
        ::close(m_dirFd);
    m_dirFd = -1;
    m_names.clear();
    m_next = 0;
}

bool FileSearch::fill(FindData &data)
{
    if (m_next >= m_names.size())
        return false;
    const QString &name = m_names.at(m_next++);
    std::uint32_t attributes = 0;
    if (name.startsWith(u'.'))
        attributes |= faHidden;
    // Links are followed; nothing is ever opened, so a FIFO or a device costs one look-up.
    struct stat st = {};
    if (::fstatat(m_dirFd, encodePath(name).constData(), &st, 0) == 0) {
        if (S_ISDIR(st.st_mode)) {
            attributes |= faDirectory;
        } else if (S_ISREG(st.st_mode)) {
            attributes |= faArchive;
            if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
                attributes |= faReadOnly;
        } else {
            attributes |= faSysFile;
        }
    } else {
        // A dangling link, or an entry gone since the listing: an ordinary entry, whose
        // copy then reports the missing file.
        attributes |= faArchive;
    }
    data.name = name;
    data.attributes = attributes;
    return true;
}

} // namespace platform
