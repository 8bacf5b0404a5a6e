#pragma once

#include "audit/AuditFilter.h"
#include "model/HandOver.h"
#include "views/history/HistoryRow.h"

#include <QObject>
#include <QVector>
#include <atomic>
#include <memory>

class AuditQuery;

// One read the history page asks for: a page of events newest first after the row shown last,
// or (filter.afterId set) the events stored since the last look.
struct HistoryRequest {
    quint64 epoch = 0; // of the filter it was made for
    AuditFilter filter;
    AuditEvent after; // the last row shown; id 0: from the newest
    int limit = 0;
    HandOver::Mark handOver; // last: see model/HandOver.h
};

// What a read found.
struct HistoryBatch {
    enum Status { Loaded, NoStore, Failed };

    Status status = Loaded;
    QVector<HistoryRow> rows;
    qint64 lastId = 0; // the event stored last when the rows were read
    QString error;
    HandOver::Mark handOver; // last: see model/HandOver.h
};

Q_DECLARE_METATYPE(HistoryRequest)
Q_DECLARE_METATYPE(HistoryBatch)

// Reads the audit store for the history page in a thread of its own, through a read-only
// connection that it opens on the first request (and again after a store appears). Requests run
// in turn; one made for an older epoch than the current gives up as soon as it can and answers
// nothing, so that a new filter is not kept waiting behind a long search.
class HistoryLoader : public QObject
{
    Q_OBJECT

public:
    explicit HistoryLoader(const QString &database);
    ~HistoryLoader() override;

    // Any thread.
    void setEpoch(quint64 epoch) { m_epoch = epoch; }

public slots:
    void load(const HistoryRequest &request);

signals:
    void loaded(const HistoryRequest &request, const HistoryBatch &batch);

private:
    bool current(quint64 epoch) const { return m_epoch == epoch; }
    bool openStore(HistoryBatch *batch);

    const QString m_database;
    std::unique_ptr<AuditQuery> m_query;
    std::atomic<quint64> m_epoch { 0 };
};
