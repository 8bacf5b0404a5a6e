#include "send/SendAudit.h"

#include "model/AuditLog.h"
#include "model/GlobalData.h"
#include "protocol/PacketCommon.h"
#include "send/SendLog.h"

#include <cstring>

namespace {

constexpr int kAuditDetailMax = 1023;
const char *const kAuditCategory = "CLIENT_SEND";
const char *const kAuditOperation = "发送";

template <int N> QByteArray fieldText(const char (&field)[N]) { return fieldBytes(field, N); }

} // namespace

namespace SendAudit {

void record(const _SEND_LOG &log, const QString &message, int result)
{
    QByteArray detail = "'" + fieldText(log.localip) + "', '" + fieldText(log.filename) + "', '"
        + fieldText(log.touser) + "', '" + message.toUtf8() + "'";
    detail.truncate(kAuditDetailMax);
    static QMutex auditMutex;
    QMutexLocker lock(&auditMutex);
    AuditLog::record(fieldText(log.host), kAuditCategory, fieldText(log.fromuser), kAuditOperation,
        result, detail);
}

void recordForRule(_SENDPATH_LISTDATA *rule, const QString &fileName, const QString &message)
{
    _SEND_LOG log;
    std::memset(&log, 0, sizeof log);
    {
        QMutexLocker lock(&sendTaskMutex); // a rule is changed in place under it
        putField(log.host, kHostIPSize, fieldText(rule->GapIP));
        putField(log.fromuser, kUserNameSize, fieldText(rule->FromUser));
        putField(log.touser, kUserNameSize, fieldText(rule->ToUser));
    }
    putField(log.filename, int(sizeof log.filename), fileName.toUtf8());
    record(log, message, 0);
}

} // namespace SendAudit
