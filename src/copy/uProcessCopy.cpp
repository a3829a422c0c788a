#include "copy/uProcessCopy.h"

#include "copy/CopyEngine.h"
#include "copy/CopySummary.h"
#include "copy/LogModel.h"
#include "platform/Error.h"
#include "platform/Paths.h"
#include "platform/gui/Dialogs.h"
#include "platform/gui/Icons.h"
#include "platform/gui/Notification.h"
#include "platform/gui/Reported.h"
#include "platform/gui/WindowKeys.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

namespace {

QPushButton *makeButton(
    const QIcon &icon, const QString &text, const QString &name, QWidget *parent)
{
    auto *button = new QPushButton(icon, text, parent);
    button->setObjectName(name);
    // Neither button answers Enter on its own.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

} // namespace

void RunCopy(const QString &source, const QString &destination, const QStringList &filterLines,
    const tyConfig &config, QWidget *parent)
{
    // An empty folder text plus the delimiter would name the root folder.
    if (source.isEmpty())
        throw AppError(QStringLiteral("Aucun répertoire source n'est choisi."));
    if (destination.isEmpty())
        throw AppError(QStringLiteral("Aucun répertoire de destination n'est choisi."));
    QPointer<TfrmCopy> form = new TfrmCopy(config, parent);
    const auto destroy = qScopeGuard([&form] { delete form.data(); });
    form->FRepSrc = platform::includeTrailingDelimiter(source);
    form->FRepDst = platform::includeTrailingDelimiter(destination);
    form->FFilter = &filterLines;
    form->exec();
}

TfrmCopy::TfrmCopy(const tyConfig &config, QWidget *parent)
    : QDialog(parent)
    , m_config(config)
    , m_log(new LogModel(this))
{
    setObjectName(QStringLiteral("frmCopy"));
    setWindowTitle(QStringLiteral("Copie des fichiers"));
    setModal(true);
    setSizeGripEnabled(true);
    resize(720, 440);

    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    bbtSave = makeButton(platform::themeIcon("document-save", QStyle::SP_DialogSaveButton),
        QStringLiteral("Sauver le log"), QStringLiteral("bbtSave"), Panel1);
    bbtStop = makeButton(platform::themeIcon("process-stop", QStyle::SP_BrowserStop),
        QStringLiteral("&Arrêter"), QStringLiteral("bbtStop"), Panel1);
    bbtStop->setEnabled(false);
    bbtClose = makeButton(platform::themeIcon("window-close", QStyle::SP_DialogCloseButton),
        QStringLiteral("&Fermer"), QStringLiteral("bbtClose"), Panel1);
    auto *buttons = new QHBoxLayout(Panel1);
    buttons->setContentsMargins(4, 4, 4, 4);
    buttons->addWidget(bbtSave);
    buttons->addStretch();
    buttons->addWidget(bbtStop);
    buttons->addWidget(bbtClose);

    Panel2 = new QWidget(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    lbxLog = new QListView(Panel2);
    lbxLog->setObjectName(QStringLiteral("lbxLog"));
    QFont font(QStringLiteral("Courier New"));
    font.setPixelSize(11);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    lbxLog->setFont(font);
    lbxLog->setUniformItemSizes(true);
    lbxLog->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lbxLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_log->setItemSize(QFontMetrics(font).horizontalAdvance(u'M'), 14);
    lbxLog->setModel(m_log);
    pgbCopy = new QProgressBar(Panel2);
    pgbCopy->setObjectName(QStringLiteral("pgbCopy"));
    pgbCopy->setRange(0, 1); // a range of 0 to 0 would show a busy bar
    pgbCopy->setValue(0);
    pgbCopy->setFormat(QStringLiteral("%p\u00A0%"));
    // The outcome at a glance, however long the log: one line under the list.
    lblSummary = new QLabel(Panel2);
    lblSummary->setObjectName(QStringLiteral("lblSummary"));
    lblSummary->setTextFormat(Qt::PlainText);
    lblSummary->setToolTip(
        QStringLiteral("Double-cliquez ici pour afficher la prochaine erreur du log."));
    // Its text changes at every pump: the window's layout must not be redone for it.
    lblSummary->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    lblSummary->installEventFilter(this);
    auto *list = new QVBoxLayout(Panel2);
    list->setContentsMargins(4, 4, 4, 4);
    list->addWidget(lbxLog);
    list->addWidget(pgbCopy);
    list->addWidget(lblSummary);
    updateSummary(false);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(Panel2, 1);
    layout->addWidget(Panel1);
    setTabOrder(bbtSave, bbtStop);
    setTabOrder(bbtStop, bbtClose);
    setTabOrder(bbtClose, lbxLog);

    tmrCopy = new QTimer(this);
    tmrCopy->setObjectName(QStringLiteral("tmrCopy"));
    tmrCopy->setInterval(10);
    tmrCopy->setSingleShot(true);

    SaveDialog = new QFileDialog(this);
    SaveDialog->setObjectName(QStringLiteral("SaveDialog"));
    SaveDialog->setOption(QFileDialog::DontUseNativeDialog);
    SaveDialog->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog->setFileMode(QFileDialog::AnyFile);
    SaveDialog->setNameFilter(QStringLiteral("Fichier texte (*.txt)"));
    // The name chosen is not the file written (its extension becomes ".txt"), and that file
    // is replaced without a question.
    SaveDialog->setOption(QFileDialog::DontConfirmOverwrite);

    // Neither a default nor a cancel button: Escape never closes the window.
    platform::installWindowKeys(this, nullptr, nullptr);

    platform::connectReported(tmrCopy, &QTimer::timeout, this, [this] { tmrCopyTimer(); });
    platform::connectReported(bbtSave, &QPushButton::clicked, this, [this] { bbtSaveClick(); });
    platform::connectReported(bbtStop, &QPushButton::clicked, this, [this] { bbtStopClick(); });
    platform::connectReported(bbtClose, &QPushButton::clicked, this, [this] { bbtCloseClick(); });
}

TfrmCopy::~TfrmCopy() = default;

void TfrmCopy::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // A window runs one copy: showing it again later starts nothing.
    if (!m_started)
        tmrCopy->start();
}

bool TfrmCopy::FormCloseQuery() const
{
    return bbtClose->isEnabled();
}

void TfrmCopy::closeEvent(QCloseEvent *event)
{
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TfrmCopy::reject()
{
    if (FormCloseQuery())
        QDialog::reject();
}

bool TfrmCopy::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == lblSummary && event->type() == QEvent::MouseButtonDblClick) {
        showNextError();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmCopy::updateSummary(bool final)
{
    if (m_run)
        m_tally = m_run->tally();
    QString text;
    if (final) {
        text = finalSummaryText(m_tally, m_runTime.elapsed());
    } else {
        const qint64 remaining
            = m_toVisit >= 0 ? remainingTime(m_tally.visited, m_toVisit, m_copyTime.elapsed()) : -1;
        text = summaryText(m_tally, remaining);
    }
    lblSummary->setText(text);
    lblSummary->setAccessibleName(text);

    if (m_toVisit < 0)
        return;
    // Files that appear meanwhile make the run longer than counted.
    const qint64 length = std::clamp<qint64>(std::max(m_toVisit, m_tally.visited), 1, INT_MAX);
    pgbCopy->setMaximum(int(length));
    pgbCopy->setValue(m_finished ? int(length) : int(std::min(m_tally.visited, length)));
}

void TfrmCopy::showNextError()
{
    const QModelIndex current = lbxLog->currentIndex();
    const qsizetype row = m_log->nextErrorRow(current.isValid() ? current.row() : -1);
    if (row < 0)
        return;
    const QModelIndex index = m_log->index(int(row));
    lbxLog->setCurrentIndex(index);
    lbxLog->scrollTo(index);
}

void TfrmCopy::pump()
{
    // New rows cost the list a layout that grows with its length: they are shown at most
    // every 100 ms, and more seldom once showing them takes longer than 5 ms, so that the
    // list keeps to a small share of the run however long it grows.
    if (m_sinceRows.isValid() && m_sinceRows.elapsed() < m_rowsInterval) {
        QCoreApplication::processEvents();
        return;
    }
    if (!m_log->publish()) {
        QCoreApplication::processEvents();
        return;
    }
    updateSummary(false);
    QElapsedTimer cost;
    cost.start();
    QCoreApplication::processEvents();
    m_rowsInterval = std::max<qint64>(100, 20 * cost.elapsed());
    m_sinceRows.start();
}

void TfrmCopy::tmrCopyTimer()
{
    tmrCopy->stop();
    m_started = true;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    bbtClose->setEnabled(false);
    bbtStop->setEnabled(true);

    CopyRun run(m_config, FRepSrc, FRepDst, *m_log, [this] { pump(); });
    m_run = &run;
    m_runTime.start();
    {
        // The closing steps, also when an error leaves the filter loop; that error then goes
        // on to the top-level reporting and the rest of the run is skipped.
        const auto closing = qScopeGuard([this] {
            m_log->publish();
            updateSummary(true);
            m_run = nullptr;
            bbtStop->setEnabled(false);
            bbtClose->setEnabled(true);
            QApplication::restoreOverrideCursor();
        });
        if (FFilter) {
            // The progress bar's length, known before the first copy.
            m_toVisit = run.countSelected(*FFilter);
            m_copyTime.start();
            updateSummary(false);
            run.runFilters(*FFilter);
            // Files that vanished since the count leave nothing to wait for: the bar ends
            // full, but not after a stop or an error.
            if (!run.isStopped()) {
                m_finished = true;
                m_toVisit = run.tally().visited;
            }
        }
        // The end message, and the stop message, promise copies that are on the device, even
        // a stick pulled right after it.
        run.flushDestination();
    }
    run.appendLogFile();
    announceEnd(run.isStopped());
    bbtClose->setFocus();
}

void TfrmCopy::announceEnd(bool stopped)
{
    // Behind other windows, the end of a long run would go unnoticed.
    const auto took = std::chrono::nanoseconds(m_runTime.nsecsElapsed());
    if (took > m_notifyAfter && !isActiveWindow()) {
        platform::notifyDesktop(
            stopped ? QStringLiteral("Copie arrêtée") : QStringLiteral("Copie terminée"),
            notificationText(m_tally));
    }
    platform::inform(this,
        stopped ? QStringLiteral("La copie des fichiers a été arrêtée.")
                : QStringLiteral("La copie des fichiers est terminée."));
}

void TfrmCopy::bbtStopClick()
{
    if (!m_run)
        return;
    m_run->requestStop();
    bbtStop->setEnabled(false);
}

void TfrmCopy::bbtSaveClick()
{
    if (SaveDialog->exec() != QDialog::Accepted)
        return;
    const QStringList chosen = SaveDialog->selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty())
        return;
    saveLogToFile(savedLogName(chosen.first()), *m_log);
}

void TfrmCopy::bbtCloseClick()
{
    close();
}
