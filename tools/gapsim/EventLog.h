#pragma once

#include <QByteArray>
#include <QFile>
#include <QPair>
#include <QString>
#include <QVector>

using EventFields = QVector<QPair<QByteArray, QString>>;

// One line per event: the event name, then key=value fields separated by blanks. A value that is
// empty or holds a blank, a quote, a backslash, an '=' or a control character is written in
// double quotes with \" \\ \n \r \t escapes, so every line splits unambiguously. Each line is
// flushed at once: tests and scripts read the log while the simulator runs.
class EventLog
{
public:
    EventLog();

    // An empty path writes to standard output.
    bool open(const QString &path, QString *error);
    void write(const QByteArray &event, const EventFields &fields = {});

private:
    QFile m_file;
};
