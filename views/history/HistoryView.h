#pragma once

#include "audit/AuditFilter.h"
#include "views/history/HistoryExport.h"

#include <QThread>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>

class HistoryModel;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTableView;

// The history page: the audit events of the client's own store, newest first, under filters for
// the time, the kind of event, the outcome and a text in the detail; the same filters as gapaudit
// (AuditFilter). It reads in the background and never writes to the store. While it is shown and
// scrolled to the top it follows new events. The filtered events can be exported as CSV, and the
// folder of a send or receive row's file opened, with the file selected where it still lies.
class HistoryView : public QWidget
{
    Q_OBJECT

public:
    enum TimeRange { AllTime, Today, LastSevenDays, LastThirtyDays, ChosenDays };
    enum KindChoice { AnyKind, Logins, Sends, Receives, Logouts };
    // The outcomes of the client's vocabulary, in this order after "全部结果".
    enum OutcomeChoice { AnyOutcome, Successes, Refusals, Failures, Waits };

    // How often the page looks for new events while it follows them.
    static constexpr int kFollowIntervalMs = 1000;

    explicit HistoryView(QWidget *parent = nullptr);
    ~HistoryView() override;

    // The store the page reads; by default the library's ($DLOG_DB, else audit.db in the working
    // directory when the page is made). Takes effect at the next read.
    void setDatabase(const QString &path);

    HistoryModel *model() const { return m_model; }
    QTableView *table() const { return m_table; }
    QComboBox *rangeBox() const { return m_range; }
    QDateEdit *fromDate() const { return m_from; }
    QDateEdit *toDate() const { return m_to; }
    QComboBox *kindBox() const { return m_kind; }
    QComboBox *outcomeBox() const { return m_outcome; }
    QLineEdit *searchEdit() const { return m_search; }
    QPushButton *openButton() const { return m_openButton; }
    QPushButton *exportButton() const { return m_exportButton; }
    QString statusText() const;
    QString noticeText() const;

    // The filter the controls select now.
    AuditFilter filter() const;
    // The folder of a row's file; empty for a login or logout, or when it is not known.
    QString directoryOf(int row) const;
    // The context menu for a click at pos in the table, or null where no row lies.
    std::unique_ptr<QMenu> createContextMenu(const QPoint &pos);

public slots:
    // Reads again from the newest with the filter of the controls.
    void applyFilter();
    void openDirectory();
    void onExportClicked();
    // Writes the filtered events into fileName in the background; exportFinished tells the end.
    // Does nothing while an export runs.
    void exportCsv(const QString &fileName);

signals:
    void exportFinished(bool written, int events, const QString &error);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void buildFilterBar();
    void buildTable();
    void buildStatusBar();
    void connectControls();
    void onRangeChanged();
    void onFollowTick();
    void updateStatus();
    void updateOpenButton();
    void finishExport();
    int currentRow() const;

    HistoryModel *m_model;
    QComboBox *m_range = nullptr;
    QDateEdit *m_from = nullptr;
    QLabel *m_rangeTo = nullptr;
    QDateEdit *m_to = nullptr;
    QComboBox *m_kind = nullptr;
    QComboBox *m_outcome = nullptr;
    QLineEdit *m_search = nullptr;
    QPushButton *m_openButton = nullptr;
    QPushButton *m_exportButton = nullptr;
    QTableView *m_table = nullptr;
    QLabel *m_status = nullptr;
    QLabel *m_notice = nullptr;
    QTimer m_follow;
    QTimer m_searchDelay;
    std::unique_ptr<QThread> m_export;
    std::atomic<bool> m_exportCancelled { false };
    QString m_exportFile;
    HistoryExport::Result m_exportResult; // written by the export's thread, read once it ended
};
