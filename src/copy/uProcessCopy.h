#pragma once

#include "copy/CopyEngine.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include <chrono>

class CopyRun;
class LogModel;
class QFileDialog;
class QLabel;
class QListView;
class QProgressBar;
class QPushButton;
class QTimer;
struct tyConfig;

// Opens the copy window modally and returns when the user has closed it. Each folder text
// gets a trailing delimiter; config is the live settings record the run reads.
void RunCopy(const QString &source, const QString &destination, const QStringList &filterLines,
    const tyConfig &config, QWidget *parent = nullptr);

// The copy window: shows the run's log, saves it, and closes only once the run is over.
class TfrmCopy : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmCopy(const tyConfig &config, QWidget *parent = nullptr);
    ~TfrmCopy() override;

    QString FRepSrc; // ends with '/'
    QString FRepDst; // ends with '/'
    const QStringList *FFilter = nullptr; // the caller's lines, neither copied nor owned

    // The run's log, every line added so far.
    const LogModel &log() const { return *m_log; }

    // A run that takes longer than this while the window is not the active one ends with a
    // desktop notification.
    void setNotifyAfter(std::chrono::milliseconds after) { m_notifyAfter = after; }

public slots:
    // The window's close box: refused while the run works, as every other way of closing.
    void reject() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override; // FormShow
    void closeEvent(QCloseEvent *event) override; // FormCloseQuery

private:
    void tmrCopyTimer();
    void bbtSaveClick();
    void bbtCloseClick();
    void bbtStopClick();
    bool FormCloseQuery() const;
    void pump();
    // The summary line: the counts so far, or with the bytes and the duration at the end.
    void updateSummary(bool final);
    // Selects the next "Erreur" line of the list and scrolls it into view.
    void showNextError();
    // The message that ends a run, finished or stopped, with its desktop notification.
    void announceEnd(bool stopped);

    const tyConfig &m_config;
    LogModel *m_log;
    QWidget *Panel1;
    QPushButton *bbtSave;
    QPushButton *bbtStop;
    QPushButton *bbtClose;
    QWidget *Panel2;
    QListView *lbxLog;
    QProgressBar *pgbCopy;
    QLabel *lblSummary;
    QTimer *tmrCopy;
    QFileDialog *SaveDialog;
    bool m_started = false;
    QElapsedTimer m_sinceRows; // since new rows were last shown
    qint64 m_rowsInterval = 0;
    CopyRun *m_run = nullptr; // while the run works
    CopyTally m_tally; // the run's counts, as last shown
    qint64 m_toVisit = -1; // the files the run will visit, once counted
    bool m_finished = false; // the filter loop ended without a stop or an error
    QElapsedTimer m_runTime;
    QElapsedTimer m_copyTime; // since the count, for the time left
    std::chrono::milliseconds m_notifyAfter { 10000 };
};
