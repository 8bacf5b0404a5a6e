#include "SenderTestSupport.h"

#include "audit/AuditTestSupport.h"
#include "model/Ports.h"
#include "support/TestSupport.h"
#include "tools/gapsim/GapsimProcess.h"

#include <QDir>

namespace SenderTestSupport {

quint16 claimGapPort()
{
    const quint16 port = TestSupport::pickFreePort(QHostAddress(QHostAddress::LocalHost));
    qputenv("VARKO_GAP_PORT", QByteArray::number(port));
    return Ports::gapPort();
}

void useAuditDatabase(const QString &dir)
{
    qputenv("DLOG_DB", QDir(dir).filePath(QStringLiteral("audit.db")).toLocal8Bit());
}

QString auditDatabase() { return qEnvironmentVariable("DLOG_DB"); }

QString gapsimConfig(quint16 receiverPort, const QString &policy)
{
    return QStringLiteral("[gap]\nconnect_timeout_ms = 3000\n"
                          "[user.alice]\npassword = alice-pass\naddress = 127.0.0.1\n"
                          "[user.bob]\npassword = bob-pass\naddress = 127.0.0.1\nfile_port = %1\n"
                          "[path.docs]\nfrom = alice\nto = bob\n"
                          "[policy]\n%2\n")
        .arg(receiverPort)
        .arg(policy);
}

bool startGapsim(GapsimProcess &gapsim, const QString &config, const QStringList &faults)
{
    QStringList arguments { QStringLiteral("--port"), QString::number(Ports::gapPort()) };
    for (const QString &fault : faults)
        arguments << QStringLiteral("--fault") << fault;
    return gapsim.start(config, arguments) && gapsim.port() == Ports::gapPort();
}

int relayStarts(GapsimProcess &gapsim, const QString &fileName)
{
    int count = 0;
    const QStringList events = gapsim.events();
    for (const QString &event : events) {
        if (event.startsWith(QLatin1String("relay-start "))
            && GapsimProcess::field(event, QStringLiteral("file")).endsWith(fileName))
            ++count;
    }
    return count;
}

QList<QPair<int, QString>> auditEvents(const QString &fileName)
{
    QList<QPair<int, QString>> events;
    if (!QFile::exists(auditDatabase()))
        return events;
    QString error;
    const QVector<AuditTestSupport::Row> rows = AuditTestSupport::query(auditDatabase(),
        "SELECT outcome, detail FROM events WHERE category = 'CLIENT_SEND' AND user = 'alice'"
        " AND operation = '发送' ORDER BY id",
        &error);
    for (const AuditTestSupport::Row &row : rows) {
        const QString detail = QString::fromUtf8(row.value(1));
        if (detail.contains(QStringLiteral("'%1'").arg(fileName)))
            events.append({ row.value(0).toInt(), detail });
    }
    return events;
}

QString auditDetail(const QString &fileName, const QString &message)
{
    return QStringLiteral("'127.0.0.1', '%1', 'bob', '%2'").arg(fileName, message);
}

} // namespace SenderTestSupport
