#include "copy/PackedLines.h"

#include <QStringEncoder>

#include <algorithm>

namespace {

constexpr qsizetype kBlockSize = 1024 * 1024;

} // namespace

void PackedLines::append(const QString &line)
{
    QStringEncoder encoder(QStringEncoder::Utf8);
    const qsizetype needed = encoder.requiredSpace(line.size());
    if (m_blocks.empty() || m_blocks.back().capacity - m_blocks.back().used < needed) {
        Block block;
        block.capacity = std::max(kBlockSize, needed);
        block.bytes = std::make_unique_for_overwrite<char[]>(size_t(block.capacity));
        m_blocks.push_back(std::move(block));
    }
    Block &block = m_blocks.back();
    char *begin = block.bytes.get() + block.used;
    const char *end = encoder.appendToBuffer(begin, line);
    m_lines.push_back({ quint32(m_blocks.size() - 1), quint32(block.used), quint32(end - begin),
        quint32(line.size()) });
    block.used += end - begin;
}

QString PackedLines::at(qsizetype index) const
{
    const Line &line = m_lines[size_t(index)];
    return QString::fromUtf8(m_blocks[line.block].bytes.get() + line.offset, qsizetype(line.size));
}
