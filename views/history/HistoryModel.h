#pragma once

#include "audit/AuditFilter.h"
#include "views/history/HistoryLoader.h"

#include <QAbstractTableModel>
#include <QThread>
#include <QVector>

// The history page's rows: the audit events a filter lets through, newest first, read in pages by
// a HistoryLoader in its own thread as the view scrolls down (fetchMore), and, on request, the
// events stored since the last look put on top. Nothing here waits for the store.
class HistoryModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { Time, Kind, Gap, User, Outcome, File, Peer, Message, ColumnCount };
    enum State { Idle, Loading, Loaded, NoStore, Failed };

    static constexpr int kPageSize = 200;

    explicit HistoryModel(QObject *parent = nullptr);
    ~HistoryModel() override;

    // The store to read. The loader's thread starts with the first read.
    void setDatabase(const QString &path) { m_database = path; }
    QString database() const { return m_database; }
    void setPageSize(int rows) { m_pageSize = rows; }

    // Drops the rows and reads the newest page of what the filter lets through.
    void setFilter(const AuditFilter &filter);
    AuditFilter filter() const { return m_filter; }
    void reload();
    // Reads the events stored since the last look and puts them on top; after a failure, or
    // while there is no store, reads again from the newest. Does nothing while a read runs.
    void followNewEvents();

    const HistoryRow &historyRow(int row) const { return m_rows.at(row); }
    State state() const { return m_state; }
    QString errorString() const { return m_error; }
    bool atEnd() const { return m_atEnd; }
    bool reading() const { return m_reading; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(
        int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;

signals:
    void stateChanged();
    // Queued to the loader's thread (a connection made before the thread starts, rather than a
    // functor per request, whose hand-over ThreadSanitizer cannot see).
    void loadRequested(const HistoryRequest &request);

private:
    void startLoader();
    void request(const AuditEvent &after, qint64 afterId);
    void onLoaded(const HistoryRequest &request, const HistoryBatch &batch);
    void appendPage(const HistoryRequest &request, const HistoryBatch &batch);
    void prependNews(const HistoryBatch &batch);
    void setState(State state, const QString &error = QString());
    QVariant display(const HistoryRow &row, int column) const;

    QThread m_thread;
    HistoryLoader *m_loader = nullptr; // lives in m_thread; deleted when it finishes
    QString m_database;
    AuditFilter m_filter;
    QVector<HistoryRow> m_rows;
    quint64 m_epoch = 0;
    bool m_reading = false;
    bool m_atEnd = true;
    qint64 m_lastId = 0;
    State m_state = Idle;
    QString m_error;
    int m_pageSize = kPageSize;
};
