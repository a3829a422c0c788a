#include "platform/ProfileFile.h"

#include "platform/Ansi.h"
#include "platform/AtomicFile.h"

#include <QStringDecoder>

#include <algorithm>
#include <cerrno>

namespace platform {

namespace {

bool isBlank(char16_t c)
{
    return c == u' ' || c == u'\t';
}

bool hasLineBreak(const QString &text)
{
    return text.contains(u'\r') || text.contains(u'\n');
}

bool hasOuterBlank(const QString &text)
{
    return !text.isEmpty() && (isBlank(text.front().unicode()) || isBlank(text.back().unicode()));
}

bool isEnclosedInQuotes(const QString &text)
{
    return text.size() >= 2 && text.front() == text.back()
        && (text.front() == u'"' || text.front() == u'\'');
}

// A reader drops the blanks around a value and one pair of enclosing quotes; a value that
// would lose something that way is written inside a pair of quotes, so it reads back as
// it was given.
QString storedForm(const QString &value)
{
    if (hasOuterBlank(value) || isEnclosedInQuotes(value))
        return u'"' + value + u'"';
    return value;
}

QString cutToValueMax(QString value)
{
    if (value.size() > kProfileValueMax) {
        value.truncate(kProfileValueMax);
        // Never leave half of a character outside the basic plane.
        if (value.back().isHighSurrogate())
            value.chop(1);
    }
    return value;
}

const QString kLineBreak = QStringLiteral("\r\n");

} // namespace

ProfileDocument::ProfileDocument()
{
    parse();
}

ProfileDocument::ProfileDocument(QByteArray bytes)
    : m_bytes(std::move(bytes))
{
    if (m_bytes.startsWith("\xFF\xFE")) {
        m_encoding = Encoding::Utf16LE;
        m_markSize = 2;
        m_unitSize = 2;
    } else if (m_bytes.startsWith("\xFE\xFF")) {
        m_encoding = Encoding::Utf16BE;
        m_markSize = 2;
        m_unitSize = 2;
    } else if (m_bytes.startsWith("\xEF\xBB\xBF")) {
        m_encoding = Encoding::Utf8;
        m_markSize = 3;
    }
    parse();
}

int ProfileDocument::load(const QString &fileName)
{
    QByteArray data;
    const int rc = readWholeFile(fileName, data, kProfileFileMax);
    if (rc != 0) {
        *this = ProfileDocument();
        return rc == ENOENT || rc == ENOTDIR ? 0 : rc;
    }
    *this = ProfileDocument(std::move(data));
    return 0;
}

qsizetype ProfileDocument::unitCount() const
{
    // An odd last byte of a UTF-16 file is no character; it stays where it is.
    return (m_bytes.size() - m_markSize) / m_unitSize;
}

qsizetype ProfileDocument::byteOffset(qsizetype unitIndex) const
{
    return m_markSize + unitIndex * m_unitSize;
}

char16_t ProfileDocument::unit(qsizetype index) const
{
    const qsizetype at = byteOffset(index);
    const auto byte = [this](qsizetype i) { return char16_t(static_cast<uchar>(m_bytes[i])); };
    switch (m_encoding) {
    case Encoding::Utf16LE:
        return char16_t(byte(at) | byte(at + 1) << 8);
    case Encoding::Utf16BE:
        return char16_t(byte(at) << 8 | byte(at + 1));
    case Encoding::Ansi:
    case Encoding::Utf8:
        break;
    }
    return byte(at);
}

QString ProfileDocument::decode(qsizetype from, qsizetype to) const
{
    const QByteArrayView bytes(m_bytes.constData() + byteOffset(from), (to - from) * m_unitSize);
    switch (m_encoding) {
    case Encoding::Ansi:
        return fromAnsi(bytes);
    case Encoding::Utf8: {
        // A mark inside the text is a character like any other.
        QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
        return decoder(bytes);
    }
    case Encoding::Utf16LE:
    case Encoding::Utf16BE:
        break;
    }
    QString text(to - from, Qt::Uninitialized);
    for (qsizetype i = from; i < to; ++i)
        text[i - from] = QChar(unit(i));
    return text;
}

QByteArray ProfileDocument::encode(const QString &text) const
{
    switch (m_encoding) {
    case Encoding::Ansi:
        return toAnsi(text);
    case Encoding::Utf8:
        return text.toUtf8();
    case Encoding::Utf16LE:
    case Encoding::Utf16BE:
        break;
    }
    QByteArray bytes;
    bytes.reserve(text.size() * 2);
    const bool littleEndian = m_encoding == Encoding::Utf16LE;
    for (const QChar c : text) {
        const char low = char(c.unicode() & 0xFF);
        const char high = char(c.unicode() >> 8);
        bytes.append(littleEndian ? low : high);
        bytes.append(littleEndian ? high : low);
    }
    return bytes;
}

void ProfileDocument::parse()
{
    m_lines = parseLines(0, unitCount());
}

std::vector<ProfileDocument::Line> ProfileDocument::parseLines(
    qsizetype begin, qsizetype count) const
{
    std::vector<Line> lines;
    qsizetype pos = begin;
    while (pos < count) {
        Line line;
        line.start = pos;
        qsizetype end = pos;
        while (end < count && unit(end) != u'\r' && unit(end) != u'\n')
            ++end;
        line.contentEnd = end;
        if (end < count)
            end += unit(end) == u'\r' && end + 1 < count && unit(end + 1) == u'\n' ? 2 : 1;
        line.end = end;
        pos = end;

        qsizetype first = line.start;
        while (first < line.contentEnd && isBlank(unit(first)))
            ++first;
        if (first == line.contentEnd) {
            line.kind = Line::Blank;
            lines.push_back(line);
            continue;
        }
        if (unit(first) == u';') {
            lines.push_back(line);
            continue;
        }
        if (unit(first) == u'[') {
            qsizetype close = first + 1;
            while (close < line.contentEnd && unit(close) != u']')
                ++close;
            if (close < line.contentEnd) {
                line.kind = Line::Header;
                qsizetype from = first + 1;
                qsizetype to = close;
                while (from < to && isBlank(unit(from)))
                    ++from;
                while (to > from && isBlank(unit(to - 1)))
                    --to;
                line.name = decode(from, to);
                lines.push_back(line);
                continue;
            }
        }
        qsizetype equals = first;
        while (equals < line.contentEnd && unit(equals) != u'=')
            ++equals;
        if (equals < line.contentEnd) {
            line.kind = Line::Key;
            qsizetype keyEnd = equals;
            while (keyEnd > first && isBlank(unit(keyEnd - 1)))
                --keyEnd;
            line.name = decode(first, keyEnd);
            qsizetype from = equals + 1;
            qsizetype to = line.contentEnd;
            while (from < to && isBlank(unit(from)))
                ++from;
            while (to > from && isBlank(unit(to - 1)))
                --to;
            if (from == to)
                from = to = equals + 1;
            line.valueStart = from;
            line.valueEnd = to;
        }
        lines.push_back(line);
    }
    return lines;
}

qsizetype ProfileDocument::findSection(const QString &section) const
{
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        const Line &line = m_lines[i];
        if (line.kind == Line::Header && line.name.compare(section, Qt::CaseInsensitive) == 0)
            return qsizetype(i);
    }
    return -1;
}

qsizetype ProfileDocument::sectionEnd(qsizetype header) const
{
    qsizetype i = header + 1;
    while (i < qsizetype(m_lines.size()) && m_lines[i].kind != Line::Header)
        ++i;
    return i;
}

qsizetype ProfileDocument::findKey(qsizetype header, const QString &key) const
{
    const qsizetype end = sectionEnd(header);
    for (qsizetype i = header + 1; i < end; ++i) {
        const Line &line = m_lines[i];
        if (line.kind == Line::Key && line.name.compare(key, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QString ProfileDocument::storedValue(const Line &line) const
{
    QString value = decode(line.valueStart, line.valueEnd);
    if (isEnclosedInQuotes(value))
        value = value.mid(1, value.size() - 2);
    return value;
}

std::optional<QString> ProfileDocument::value(const QString &section, const QString &key) const
{
    if (section.isEmpty() || key.isEmpty())
        return std::nullopt;
    const qsizetype header = findSection(section);
    if (header < 0)
        return std::nullopt;
    const qsizetype line = findKey(header, key);
    if (line < 0)
        return std::nullopt;
    return storedValue(m_lines[line]);
}

QString ProfileDocument::readString(
    const QString &section, const QString &key, const QString &defaultValue) const
{
    return cutToValueMax(value(section, key).value_or(defaultValue));
}

void ProfileDocument::splice(qsizetype from, qsizetype to, const QString &text)
{
    const QByteArray bytes = encode(text);
    const qsizetype delta = bytes.size() / m_unitSize - (to - from);
    // Only the lines the edit touches are parsed again: from the one that holds the unit
    // before the edit to the one that holds its end. Every other line keeps its break, so
    // the lines after them only move.
    const auto holding = [this](qsizetype unitIndex) {
        const auto after = std::upper_bound(m_lines.begin(), m_lines.end(), unitIndex,
            [](qsizetype index, const Line &line) { return index < line.start; });
        return after == m_lines.begin() ? m_lines.begin() : after - 1;
    };
    const auto first = holding(from > 0 ? from - 1 : 0);
    auto last = holding(to);
    if (last != m_lines.end())
        ++last;
    const qsizetype reparseFrom = first == m_lines.end() ? 0 : first->start;
    const qsizetype reparseTo = (last == m_lines.begin() ? 0 : (last - 1)->end) + delta;

    m_bytes.replace(byteOffset(from), (to - from) * m_unitSize, bytes);
    m_modified = true;

    for (auto moved = last; moved != m_lines.end(); ++moved) {
        moved->start += delta;
        moved->contentEnd += delta;
        moved->end += delta;
        moved->valueStart += delta;
        moved->valueEnd += delta;
    }
    const auto at = m_lines.erase(first, last);
    const std::vector<Line> edited = parseLines(reparseFrom, reparseTo);
    m_lines.insert(at, edited.begin(), edited.end());
}

void ProfileDocument::convertToUtf16LE()
{
    const QString text = decode(0, unitCount());
    // Windows-1252 gives one UTF-16 unit per byte: every line keeps its place.
    const bool samePlaces = text.size() == unitCount();
    m_encoding = Encoding::Utf16LE;
    m_markSize = 2;
    m_unitSize = 2;
    m_bytes = QByteArray("\xFF\xFE", 2) + encode(text);
    m_modified = true;
    if (!samePlaces)
        parse();
}

int ProfileDocument::setValue(const QString &section, const QString &key, const QString &value)
{
    // Names and values that the line format cannot hold are refused rather than written
    // in a way that reads back as something else.
    if (section.isEmpty() || hasLineBreak(section) || section.contains(u']')
        || hasOuterBlank(section))
        return EINVAL;
    if (key.isEmpty() || hasLineBreak(key) || key.contains(u'=') || key.front() == u'['
        || key.front() == u';' || hasOuterBlank(key))
        return EINVAL;
    if (hasLineBreak(value))
        return EINVAL;
    // UTF-8 has no form for half of a surrogate pair: it would read back as something else.
    if (m_encoding == Encoding::Utf8 && !QString(section + key + value).isValidUtf16())
        return EINVAL;

    qsizetype header = findSection(section);
    if (header >= 0) {
        const qsizetype line = findKey(header, key);
        if (line >= 0 && storedValue(m_lines[line]) == value)
            return 0;
    }
    // Windows-1252 would turn what it lacks into '?': the file moves to UTF-16 instead.
    if (m_encoding == Encoding::Ansi && !ansiCanHold(QString(section + key + value)))
        convertToUtf16LE();

    const QString written = storedForm(value);
    header = findSection(section);
    if (header < 0) {
        const qsizetype count = unitCount();
        const bool needsBreak = count > 0 && unit(count - 1) != u'\r' && unit(count - 1) != u'\n';
        splice(count, count,
            (needsBreak ? kLineBreak : QString()) + u'[' + section + u']' + kLineBreak + key + u'='
                + written + kLineBreak);
        return 0;
    }
    const qsizetype existing = findKey(header, key);
    if (existing >= 0) {
        const Line &line = m_lines[existing];
        splice(line.valueStart, line.valueEnd, written);
        return 0;
    }
    // After the section's last line that holds something, so blank lines before the next
    // section stay where they are.
    qsizetype last = header;
    const qsizetype end = sectionEnd(header);
    for (qsizetype i = header + 1; i < end; ++i) {
        if (m_lines[i].kind != Line::Blank)
            last = i;
    }
    const Line &line = m_lines[last];
    const QString newLine = key + u'=' + written + kLineBreak;
    splice(line.end, line.end, line.end == line.contentEnd ? kLineBreak + newLine : newLine);
    return 0;
}

int ProfileDocument::save(const QString &fileName)
{
    if (!m_modified)
        return 0;
    const int rc = writeFileAtomic(fileName, m_bytes);
    if (rc == 0)
        m_modified = false;
    return rc;
}

QString getPrivateProfileString(const QString &section, const QString &key,
    const QString &defaultValue, const QString &fileName)
{
    ProfileDocument document;
    if (document.load(fileName) != 0)
        return cutToValueMax(defaultValue);
    return document.readString(section, key, defaultValue);
}

int writePrivateProfileString(
    const QString &section, const QString &key, const QString &value, const QString &fileName)
{
    ProfileDocument document;
    int rc = document.load(fileName);
    if (rc != 0)
        return rc;
    rc = document.setValue(section, key, value);
    if (rc != 0)
        return rc;
    return document.save(fileName);
}

} // namespace platform
