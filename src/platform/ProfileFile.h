#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

// Private-profile (INI) files, with the rules of GetPrivateProfileStringW and
// WritePrivateProfileStringW.
namespace platform {

// The longest value a read returns (a buffer of 2048 characters).
inline constexpr qsizetype kProfileValueMax = 2047;

// No settings file of a person comes near this size; a larger one is not read (EFBIG), so that
// a damaged or hostile file cannot hold the program up or fill its memory.
inline constexpr qint64 kProfileFileMax = 1024 * 1024;

// The value, at most 2047 characters; defaultValue when the file, section or key is missing.
QString getPrivateProfileString(const QString &section, const QString &key,
    const QString &defaultValue, const QString &fileName);

// Writes one key, keeping every other line. Returns 0 or an errno value (EINVAL for a name
// or value the file cannot hold, such as one with a line break).
int writePrivateProfileString(
    const QString &section, const QString &key, const QString &value, const QString &fileName);

// One profile file held in memory: the bytes as read, parsed into lines. Edits change only
// the bytes of the line they touch, so everything else survives a save byte for byte.
class ProfileDocument
{
public:
    enum class Encoding {
        Ansi, // Windows-1252, no mark
        Utf8, // EF BB BF
        Utf16LE, // FF FE
        Utf16BE, // FE FF
    };

    // An empty new file (Windows-1252).
    ProfileDocument();
    explicit ProfileDocument(QByteArray bytes);

    // Reads the file. A file that does not exist (ENOENT, ENOTDIR) gives an empty new
    // document and 0; any other failure returns its errno value and leaves an empty document,
    // EFBIG for a file larger than kProfileFileMax.
    int load(const QString &fileName);

    // The stored value, blanks and one pair of enclosing quotes dropped, not cut; nothing
    // when the section or key is missing.
    std::optional<QString> value(const QString &section, const QString &key) const;
    // The value cut to kProfileValueMax characters, or defaultValue.
    QString readString(
        const QString &section, const QString &key, const QString &defaultValue) const;

    // Returns 0 or EINVAL. Writing the value already there changes nothing.
    int setValue(const QString &section, const QString &key, const QString &value);

    bool isModified() const { return m_modified; }
    Encoding encoding() const { return m_encoding; }
    const QByteArray &bytes() const { return m_bytes; }

    // Writes the file atomically when something changed. Returns 0 or an errno value.
    int save(const QString &fileName);

private:
    struct Line
    {
        qsizetype start = 0; // in code units after the mark
        qsizetype contentEnd = 0; // where the line break starts
        qsizetype end = 0; // after the line break
        enum Kind { Other, Blank, Header, Key } kind = Other;
        QString name; // the section or key name
        qsizetype valueStart = 0; // the value's units, blanks around it excluded
        qsizetype valueEnd = 0;
    };

    void parse();
    // The lines of the units [begin, end); begin starts a line and end ends one.
    std::vector<Line> parseLines(qsizetype begin, qsizetype end) const;
    char16_t unit(qsizetype index) const;
    qsizetype unitCount() const;
    qsizetype byteOffset(qsizetype unitIndex) const;
    QString decode(qsizetype from, qsizetype to) const;
    QByteArray encode(const QString &text) const;
    void splice(qsizetype from, qsizetype to, const QString &text);
    void convertToUtf16LE();
    // The header line of the first section of that name, or -1.
    qsizetype findSection(const QString &section) const;
    // The end (exclusive) of the section's lines.
    qsizetype sectionEnd(qsizetype header) const;
    qsizetype findKey(qsizetype header, const QString &key) const;
    QString storedValue(const Line &line) const;

    QByteArray m_bytes;
    Encoding m_encoding = Encoding::Ansi;
    qsizetype m_markSize = 0;
    qsizetype m_unitSize = 1;
    std::vector<Line> m_lines;
    bool m_modified = false;
};

} // namespace platform
