#include "model/GlobalData.h"

Registry<_VKGAPIP_CONF> g_GapInfoList;
Registry<_SENDPATH_LISTDATA> g_SendPathList;
Registry<_RECVPATH_LISTDATA> g_RecvPathList;
_SYS_BASE_CONF g_sysbaseconf;

QMutex g_Mutex;
QMutex g_MainMutex;
QMutex g_SockMutex;
QMutex sendTaskMutex;
QMutex recvWorkMutex;
QMutex statusMutex;

void _VKGAPIP_CONF::resetState()
{
    sendPathCount = 0;
    recvPathCount = 0;
    rightLevel = 0;
    connectTime = 0;
    heartOk = 0;
    connState = 0;
    busyCount = 0;
    sendFileNum = 0;
    recvFileNum = 0;
    isLogin = false;
    hasSendPath = false;
    confGetted = false;
    restart = false;
    sendBytes = 0;
    recvBytes = 0;
}

bool copyToField(char *field, int fieldSize, const QByteArray &text)
{
    std::memset(field, 0, size_t(fieldSize));
    const int n = qMin(text.size(), fieldSize - 1);
    std::memcpy(field, text.constData(), size_t(n));
    return n == text.size();
}
