#include "app/QT_LOG.h"

#include <QDateTime>
#include <QFile>
#include <QMutexLocker>
#include <QTextStream>

namespace {

const QString kTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");
constexpr int kDefaultLevel = 1;
constexpr unsigned kLevelCount = 4;

QString now() { return QDateTime::currentDateTime().toString(kTimeFormat); }

} // namespace

QString QT_LOG::m_LogFile = QStringLiteral("%1.log").arg(now());
QMutex QT_LOG::m_LogMutex;
int QT_LOG::m_LogLevel = kDefaultLevel;

void QT_LOG::logInit(const QString &fileName, int level)
{
    m_LogLevel = unsigned(level) < kLevelCount ? level : kDefaultLevel;
    if (!fileName.isEmpty())
        m_LogFile = fileName;
    qInstallMessageHandler(customMessageHandler);
}

void QT_LOG::customMessageHandler(
    QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    Q_UNUSED(context)
    if (int(type) < m_LogLevel || type != QtWarningMsg)
        return;
    // One multi-argument pass, so that a "%" in the time or the message is not expanded again.
    const QString line = QStringLiteral("%1[Warning]:%2").arg(now(), msg);

    QMutexLocker lock(&m_LogMutex);
    QFile file(m_LogFile);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return;
    QTextStream stream(&file);
    // UTF-8 whatever the locale: a service started with the C locale would otherwise write every
    // Chinese message as question marks.
    stream.setCodec("UTF-8");
    stream << line << Qt::endl;
    file.close();
}

QString QT_LOG::logFileNameFor(const QString &argv0)
{
    QString name = argv0.split(QLatin1Char('/')).last();
    name.remove(QStringLiteral(".exe"));
    return name + QStringLiteral(".log");
}
