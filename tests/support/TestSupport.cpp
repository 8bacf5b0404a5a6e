#include "TestSupport.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QMutexLocker>
#include <QTcpServer>
#include <QTemporaryDir>

namespace TestSupport {

quint16 pickFreePort(const QHostAddress &address)
{
    QTcpServer probe;
    return probe.listen(address, 0) ? probe.serverPort() : 0;
}

void useFreeListenerPorts()
{
    const quint16 filePort = pickFreePort();
    quint16 confPort = pickFreePort();
    while (confPort == filePort)
        confPort = pickFreePort();
    qputenv("VARKO_FILE_PORT", QByteArray::number(filePort));
    qputenv("VARKO_CONF_PORT", QByteArray::number(confPort));
}

bool enterDir(const QTemporaryDir &dir) { return dir.isValid() && QDir::setCurrent(dir.path()); }

PromptRecorder::PromptRecorder(int answer)
    : m_answer(answer)
{
    Prompt::setHandler([this](const PromptRequest &request) {
        QMutexLocker lock(&m_mutex);
        m_boxes << request;
        return m_answer;
    });
}

PromptRecorder::~PromptRecorder() { Prompt::setHandler({}); }

void PromptRecorder::setAnswer(int answer)
{
    QMutexLocker lock(&m_mutex);
    m_answer = answer;
}

QList<PromptRequest> PromptRecorder::boxes() const
{
    QMutexLocker lock(&m_mutex);
    return m_boxes;
}

QStringList PromptRecorder::texts() const
{
    QStringList texts;
    for (const PromptRequest &box : boxes())
        texts << box.text;
    return texts;
}

QStringList PromptRecorder::errorTexts() const
{
    QStringList texts;
    for (const PromptRequest &box : boxes()) {
        texts << (box.title == QLatin1String("error") && box.parent == nullptr
                    && box.buttons == PromptRequest::Yes && box.icon == PromptRequest::Critical
                ? box.text
                : QStringLiteral("unexpected box: ") + box.text);
    }
    return texts;
}

void PromptRecorder::clear()
{
    QMutexLocker lock(&m_mutex);
    m_boxes.clear();
}

qint64 bytesReadByProcess()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = io.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("rchar:"))
            return line.mid(int(qstrlen("rchar:"))).trimmed().toLongLong();
    }
    return -1;
}

} // namespace TestSupport
