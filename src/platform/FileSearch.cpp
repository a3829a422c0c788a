#include "platform/FileSearch.h"

#include "platform/Paths.h"

#include <algorithm>
#include <cerrno>
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

class Matcher
{
public:
    Matcher(const std::vector<Element> &elements, const QString &name)
        : m_elements(elements)
        , m_name(name)
        , m_lastDot(name.lastIndexOf(u'.'))
        , m_width(name.size() + 1)
        , m_seen(size_t(qsizetype(elements.size() + 1) * m_width), 0)
    {
    }

    bool matches() { return match(0, 0); }

private:
    // Whether the elements from e on match the name from n on; each pair is worked out once.
    bool match(size_t e, qsizetype n)
    {
        const qsizetype size = m_name.size();
        if (e == m_elements.size())
            return n == size;
        char &seen = m_seen[size_t(qsizetype(e) * m_width + n)];
        if (seen)
            return seen == 2;
        const bool result = step(e, n, size);
        seen = result ? 2 : 1;
        return result;
    }

    bool step(size_t e, qsizetype n, qsizetype size)
    {
        const Element &element = m_elements[e];
        switch (element.token) {
        case Token::Literal:
            return n < size && m_name.at(n) == element.literal && match(e + 1, n + 1);
        case Token::Star:
            for (qsizetype end = size; end >= n; --end)
                if (match(e + 1, end))
                    return true;
            return false;
        case Token::DosStar: {
            // Up to and including the last dot, never past it; anything when none is left.
            const qsizetype limit = m_lastDot >= n ? m_lastDot + 1 : size;
            for (qsizetype end = limit; end >= n; --end)
                if (match(e + 1, end))
                    return true;
            return false;
        }
        case Token::DosQm: {
            qsizetype end = n;
            while (end < size && end - n < element.count && m_name.at(end) != u'.')
                ++end;
            if (element.last && end - n < element.count && end < size && m_name.at(end) == u'.'
                && match(e + 1, end + 1))
                return true;
            return match(e + 1, end);
        }
        case Token::DosDot:
            if (n == size)
                return match(e + 1, n);
            return m_name.at(n) == u'.' && match(e + 1, n + 1);
        }
        return false;
    }

    const std::vector<Element> &m_elements;
    const QString &m_name;
    const qsizetype m_lastDot;
    const qsizetype m_width;
    std::vector<char> m_seen;
};

bool matchesCompiled(const std::vector<Element> &elements, const QString &upperName)
{
    return Matcher(elements, upperName).matches();
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
        QString name = decodePath(QByteArray(entry->d_name));
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
