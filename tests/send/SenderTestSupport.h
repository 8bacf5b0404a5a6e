#pragma once

// What the sender tests share: the gap port of the process, gapsim's configuration, and the
// audit events of one file.

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

class GapsimProcess;

namespace SenderTestSupport {

// Points the process's gap port at a free port; call before anything reads the port.
quint16 claimGapPort();
// Sends the audit events of this process to a database in dir.
void useAuditDatabase(const QString &dir);
QString auditDatabase();

// alice sends under "docs" to bob, whose client listens on receiverPort; policy lines follow.
QString gapsimConfig(quint16 receiverPort, const QString &policy = QString());
// Starts gapsim on the process's gap port.
bool startGapsim(GapsimProcess &gapsim, const QString &config, const QStringList &faults = {});
// How many transfers of the file gapsim has started.
int relayStarts(GapsimProcess &gapsim, const QString &fileName);

// The audit events naming the file: outcome and detail, oldest first.
QList<QPair<int, QString>> auditEvents(const QString &fileName);
// The detail text the sender writes for a message about the file.
QString auditDetail(const QString &fileName, const QString &message);

} // namespace SenderTestSupport
