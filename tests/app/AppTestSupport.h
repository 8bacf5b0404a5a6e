#pragma once

// Shared pieces of the application-shell tests: free ports for the listeners, and a recorder for
// the message boxes that answers for the user.

#include "model/Prompt.h"

#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QTcpServer>
#include <QtGlobal>

namespace AppTest {

// A port that is free on every IPv4 address right now.
inline quint16 pickFreePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::AnyIPv4, 0);
    return probe.serverPort();
}

// Moves the client's two listeners to free ports; call before anything reads the ports.
inline void useFreeListenerPorts()
{
    const quint16 filePort = pickFreePort();
    quint16 confPort = pickFreePort();
    while (confPort == filePort)
        confPort = pickFreePort();
    qputenv("VARKO_FILE_PORT", QByteArray::number(filePort));
    qputenv("VARKO_CONF_PORT", QByteArray::number(confPort));
}

// Records every box while it exists and answers each with the answer set last.
class PromptRecorder
{
public:
    explicit PromptRecorder(int answer = PromptRequest::Yes)
        : m_answer(answer)
    {
        Prompt::setHandler([this](const PromptRequest &request) {
            QMutexLocker lock(&m_mutex);
            m_boxes << request;
            return m_answer;
        });
    }
    ~PromptRecorder() { Prompt::setHandler({}); }

    void setAnswer(int answer)
    {
        QMutexLocker lock(&m_mutex);
        m_answer = answer;
    }
    QList<PromptRequest> boxes() const
    {
        QMutexLocker lock(&m_mutex);
        return m_boxes;
    }
    QStringList texts() const
    {
        QStringList texts;
        for (const PromptRequest &box : boxes())
            texts << box.text;
        return texts;
    }
    void clear()
    {
        QMutexLocker lock(&m_mutex);
        m_boxes.clear();
    }

private:
    mutable QMutex m_mutex;
    QList<PromptRequest> m_boxes;
    int m_answer;
};

} // namespace AppTest
