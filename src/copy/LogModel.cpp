#include "copy/LogModel.h"

#include <algorithm>
#include <limits>

namespace {

// Often enough to look live, seldom enough that the view's work stays small.
constexpr qint64 kPublishIntervalMs = 100;

} // namespace

LogModel::LogModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

void LogModel::append(const QString &line)
{
    m_lines.append(line);
}

int LogModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    return int(std::min<qsizetype>(m_published, std::numeric_limits<int>::max()));
}

QVariant LogModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_published)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return m_lines.at(index.row());
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

void LogModel::publish()
{
    const qsizetype total = std::min<qsizetype>(m_lines.size(), std::numeric_limits<int>::max());
    if (total <= m_published)
        return;
    for (qsizetype i = m_published; i < total; ++i)
        m_longest = std::max(m_longest, m_lines.at(i).size());
    beginInsertRows(QModelIndex(), int(m_published), int(total - 1));
    m_published = total;
    endInsertRows();
    m_sincePublished.start();
}

void LogModel::publishIfDue()
{
    if (!m_sincePublished.isValid() || m_sincePublished.elapsed() >= kPublishIntervalMs)
        publish();
}
