#pragma once

#include "copy/CopyEngine.h"
#include "copy/PackedLines.h"

#include <QAbstractListModel>

#include <vector>

// The copy window's log list: every line the run adds is kept here at once (and saved from
// here), while the view is told of new lines in batches, when the window chooses to.
// Adding a line is then a plain append however long the log grows.
class LogModel : public QAbstractListModel, public LogSink
{
    Q_OBJECT

public:
    explicit LogModel(QObject *parent = nullptr);

    void append(const QString &line) override;
    qsizetype size() const override { return m_lines.size(); }
    QString at(qsizetype index) const override;
    void markError() override { m_errorRows.push_back(size() - 1); }

    // The first "Erreur" line after row, or the first of all when there is none after it;
    // -1 when the log has none shown yet.
    qsizetype nextErrorRow(qsizetype row) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    // The size of every row (the list uses one size for all): a character's width in the
    // fixed-pitch font, and the row height.
    void setItemSize(int characterWidth, int height);

    // Shows the lines added since the last batch; false when there were none.
    bool publish();

private:
    PackedLines m_lines;
    std::vector<qsizetype> m_errorRows; // ascending
    qsizetype m_published = 0;
    qsizetype m_longest = 0;
    int m_characterWidth = 7;
    int m_height = 14;
};
