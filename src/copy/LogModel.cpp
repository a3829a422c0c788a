#include "copy/LogModel.h"

#include <QSize>
#include <QStringEncoder>

#include <algorithm>
#include <limits>

namespace {

constexpr qsizetype kBlockSize = 1024 * 1024;

} // namespace

LogModel::LogModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

void LogModel::append(const QString &line)
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

QString LogModel::at(qsizetype index) const
{
    const Line &line = m_lines[size_t(index)];
    return QString::fromUtf8(m_blocks[line.block].bytes.get() + line.offset, qsizetype(line.size));
}

qsizetype LogModel::nextErrorRow(qsizetype row) const
{
    const auto shownEnd = std::lower_bound(m_errorRows.begin(), m_errorRows.end(), m_published);
    if (shownEnd == m_errorRows.begin())
        return -1;
    const auto next = std::upper_bound(m_errorRows.begin(), shownEnd, row);
    return next == shownEnd ? m_errorRows.front() : *next;
}

int LogModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    return int(m_published);
}

QVariant LogModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_published)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return at(index.row());
    case Qt::SizeHintRole:
        // Fixed pitch: the longest line gives the width, so that it can be scrolled to.
        return QSize(int(std::min<qsizetype>(m_longest * m_characterWidth + 8, 1 << 20)), m_height);
    default:
        return {};
    }
}

void LogModel::setItemSize(int characterWidth, int height)
{
    m_characterWidth = characterWidth;
    m_height = height;
}

bool LogModel::publish()
{
    const qsizetype total
        = std::min<qsizetype>(qsizetype(m_lines.size()), std::numeric_limits<int>::max());
    if (total <= m_published)
        return false;
    for (qsizetype i = m_published; i < total; ++i)
        m_longest = std::max(m_longest, qsizetype(m_lines[size_t(i)].characters));
    beginInsertRows(QModelIndex(), int(m_published), int(total - 1));
    m_published = total;
    endInsertRows();
    return true;
}
