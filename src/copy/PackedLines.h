#pragma once

#include <QString>

#include <memory>
#include <vector>

// Log lines kept as UTF-8 in large blocks, at about half the memory of one string each, and
// adding a line is a plain append however long the log grows: the copy window's list and the
// log that quillsift-copy keeps for the log file.
class PackedLines
{
public:
    void append(const QString &line);
    qsizetype size() const { return qsizetype(m_lines.size()); }
    QString at(qsizetype index) const;
    // The line's length in UTF-16 units.
    qsizetype characters(qsizetype index) const { return m_lines[size_t(index)].characters; }

private:
    struct Block
    {
        std::unique_ptr<char[]> bytes;
        qsizetype capacity = 0;
        qsizetype used = 0;
    };
    struct Line
    {
        quint32 block;
        quint32 offset;
        quint32 size; // bytes
        quint32 characters; // UTF-16 units
    };

    std::vector<Block> m_blocks; // filled in turn; a line never moves
    std::vector<Line> m_lines;
};
