#pragma once

// Pieces every test folder needs: free ports, a fresh working directory, and a recorder for the
// message boxes that answers for the user.

#include "model/Prompt.h"

#include <QHostAddress>
#include <QList>
#include <QMutex>
#include <QStringList>

class QTemporaryDir;

namespace TestSupport {

// A port that is free on the address right now and that no other test process will pick while
// this one runs (see TestSupport.cpp), or 0 when none could be had.
quint16 pickFreePort(const QHostAddress &address = QHostAddress(QHostAddress::AnyIPv4));

// Moves the client's two listeners to free ports; call before anything reads the ports.
void useFreeListenerPorts();

// Makes the directory the current one; false when it could not be created or entered.
bool enterDir(const QTemporaryDir &dir);

// The bytes this process has read so far from files and sockets (rchar of /proc/self/io); -1
// when unknown. Tells how much of a file a worker read before it stopped, whatever the speed.
qint64 bytesReadByProcess();

// Records every box while it exists and answers each with the answer set last.
class PromptRecorder
{
public:
    explicit PromptRecorder(int answer = PromptRequest::Yes);
    ~PromptRecorder();
    PromptRecorder(const PromptRecorder &) = delete;
    PromptRecorder &operator=(const PromptRecorder &) = delete;

    void setAnswer(int answer);
    QList<PromptRequest> boxes() const;
    QStringList texts() const;
    // The texts, each marked unless its box is the client's plain error box.
    QStringList errorTexts() const;
    void clear();

private:
    mutable QMutex m_mutex;
    QList<PromptRequest> m_boxes;
    int m_answer;
};

// A copy that shares nothing with the original, for a list a peer thread appends to under a lock:
// made under that lock, it is never detached later, outside it (Qt checks sharing with a relaxed
// read, so a later detach would race with the append).
template <typename List> List ownCopy(const List &list)
{
    List copy = list;
    copy.detach();
    return copy;
}

} // namespace TestSupport
