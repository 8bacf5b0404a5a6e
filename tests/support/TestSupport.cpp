#include "TestSupport.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QMutexLocker>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTemporaryDir>
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace TestSupport {

namespace {

// Ports handed out lie below the kernel's range of ephemeral ports, so that no outgoing connection
// of this machine takes one as its source port, and each is claimed by a name in the abstract Unix
// socket namespace that this process holds until it ends: tests that run at the same time never
// share a port, even while a test has closed the port on purpose (a gap that is down) and means to
// open it again.
constexpr int kFirstPort = 10000;
constexpr int kPortCount = 22000;

bool claim(quint16 port)
{
    const QByteArray name = "varko-test-port-" + QByteArray::number(port);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.constData(), size_t(name.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size_t(name.size()));
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), length) != 0) {
        ::close(fd);
        return false;
    }
    return true; // the socket stays open: the claim lasts as long as this process
}

} // namespace

quint16 pickFreePort(const QHostAddress &address)
{
    static QMutex mutex;
    QMutexLocker lock(&mutex);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const auto port = quint16(kFirstPort + QRandomGenerator::global()->bounded(kPortCount));
        if (!claim(port))
            continue;
        QTcpServer probe;
        if (probe.listen(address, port))
            return port;
    }
    return 0;
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
    return ownCopy(m_boxes);
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
