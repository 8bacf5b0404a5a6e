#pragma once

#include <QString>

// Progress of one send attempt, shared by its stages.
struct _SENDSTATUS_INFO {
    QString md5; // the file's digest text
    qint32 burstsSent = 0; // bursts written in this attempt
    qint64 fileSize = 0;
    qint64 bytesSent = 0; // content bytes written in this attempt
};
