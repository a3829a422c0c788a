#pragma once

#include "copy/CopyEngine.h"

#include <QAbstractListModel>
#include <QElapsedTimer>
#include <QList>
#include <QSize>

// The copy window's log list: every line the run adds is kept here at once (and saved from
// here), while the view is told of new lines in batches, when the run lets the window work.
// Adding a line is then a plain append however long the log grows.
class LogModel : public QAbstractListModel, public LogSink
{
    Q_OBJECT

public:
    explicit LogModel(QObject *parent = nullptr);

    void append(const QString &line) override;
    qsizetype size() const override { return m_lines.size(); }
    QString at(qsizetype index) const override { return m_lines.at(index); }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    // The size of every row: the list uses one size for all of them.
    void setItemSize(int characterWidth, int height);

    // Shows the lines added since the last batch.
    void publish();
    // The same, at most a few times a second: a view told of every single line would lay
    // itself out again each time, which costs more as the list grows.
    void publishIfDue();

private:
    QList<QString> m_lines;
    qsizetype m_published = 0;
    qsizetype m_longest = 0;
    int m_characterWidth = 7;
    int m_height = 14;
    QElapsedTimer m_sincePublished;
};
