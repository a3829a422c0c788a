#include "copy/LogModel.h"

#include <QSize>

#include <algorithm>
#include <limits>

LogModel::LogModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

void LogModel::append(const QString &line)
{
    m_lines.append(line);
}

QString LogModel::at(qsizetype index) const
{
    return m_lines.at(index);
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
    const qsizetype total = std::min<qsizetype>(m_lines.size(), std::numeric_limits<int>::max());
    if (total <= m_published)
        return false;
    for (qsizetype i = m_published; i < total; ++i)
        m_longest = std::max(m_longest, m_lines.characters(i));
    beginInsertRows(QModelIndex(), int(m_published), int(total - 1));
    m_published = total;
    endInsertRows();
    return true;
}
