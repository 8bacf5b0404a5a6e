#include "views/history/HistoryLoader.h"

#include "audit/AuditQuery.h"

HistoryLoader::HistoryLoader(const QString &database)
    : m_database(database)
{
    qRegisterMetaType<HistoryRequest>();
    qRegisterMetaType<HistoryBatch>();
}

HistoryLoader::~HistoryLoader() = default;

void HistoryLoader::load(const HistoryRequest &request)
{
    request.handOver.taken();
    if (!current(request.epoch))
        return;
    HistoryBatch batch;
    if (!openStore(&batch)) {
        emit loaded(request, batch);
        return;
    }
    const quint64 epoch = request.epoch;
    m_query->setCancelCheck([this, epoch] { return !current(epoch); });
    AuditPage page;
    const bool read = m_query->newestFirst(request.filter, request.after, request.limit, &page);
    if (m_query->cancelled())
        return;
    if (!read) {
        batch.status = HistoryBatch::Failed;
        batch.error = m_query->errorString();
    }
    batch.lastId = page.lastId;
    batch.rows.reserve(page.events.size());
    for (const AuditEvent &event : qAsConst(page.events))
        batch.rows.append(HistoryRow::from(event));
    emit loaded(request, batch);
}

bool HistoryLoader::openStore(HistoryBatch *batch)
{
    if (m_query)
        return true;
    auto query = std::make_unique<AuditQuery>();
    if (!query->open(m_database)) {
        batch->status = query->missing() ? HistoryBatch::NoStore : HistoryBatch::Failed;
        batch->error = query->errorString();
        return false;
    }
    m_query = std::move(query);
    return true;
}
