#pragma once

#include <QString>

struct _SEND_LOG;
struct _SENDPATH_LISTDATA;

// The audit events of sending, written the one way every send event is: category "CLIENT_SEND",
// operation "发送", the sending user, and the detail "'local address', 'file name', 'receiving
// user', 'message'". Writes are serialised among themselves, never under sendTaskMutex: one may
// wait seconds for a busy store, and the window takes that lock.
namespace SendAudit {

void record(const _SEND_LOG &log, const QString &message, int result);

// An event about a file of the rule that never reached a worker (the scanner refused it): the
// gap is named by the rule's address, there is no connection yet.
void recordForRule(_SENDPATH_LISTDATA *rule, const QString &fileName, const QString &message);

} // namespace SendAudit
