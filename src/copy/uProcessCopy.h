#pragma once

#include "copy/CopyEngine.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>

class CopyRun;
class LogModel;
class QFileDialog;
class QLabel;
class QListView;
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
    bool FormCloseQuery() const;
    void pump();
    // The summary line: the counts so far, or with the bytes and the duration at the end.
    void updateSummary(bool final);
    // Selects the next "Erreur" line of the list and scrolls it into view.
    void showNextError();

    const tyConfig &m_config;
    LogModel *m_log;
    QWidget *Panel1;
    QPushButton *bbtSave;
    QPushButton *bbtClose;
    QWidget *Panel2;
    QListView *lbxLog;
    QLabel *lblSummary;
    QTimer *tmrCopy;
    QFileDialog *SaveDialog;
    bool m_started = false;
    QElapsedTimer m_sinceRows; // since new rows were last shown
    qint64 m_rowsInterval = 0;
    const CopyRun *m_run = nullptr; // while the run works
    CopyTally m_tally; // the run's counts, as last shown
    QElapsedTimer m_runTime;
};
