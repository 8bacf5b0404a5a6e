#pragma once

#include <QMutex>
#include <QString>
#include <QtMessageHandler>

// The process-wide diagnostic logger: warning-class messages only, one whole line each, appended
// to a file named after the program.
class QT_LOG
{
public:
    static void logInit(const QString &fileName, int level);
    static void customMessageHandler(
        QtMsgType type, const QMessageLogContext &context, const QString &msg);

    // The log file name for a program started as argv0 ("/opt/app/gapclient" -> "gapclient.log").
    static QString logFileNameFor(const QString &argv0);

    static QString m_LogFile;
    static QMutex m_LogMutex;
    static int m_LogLevel;
};
