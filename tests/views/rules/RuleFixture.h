#pragma once

// Gaps with offers, rules, and driving a rule dialog, shared by the rule page tests.

#include "model/GlobalData.h"
#include "views/rules/RuleDialog.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>

namespace RuleFixture {

inline _VKGAPIP_CONF *addGap(
    const QByteArray &address, int connState, const QByteArray &loginUser = "alice")
{
    auto *gap = new _VKGAPIP_CONF;
    copyToField(gap->HostIP, kHostIPSize, address);
    copyToField(gap->LoginUserName, kUserNameSize, loginUser);
    gap->hostIPStr = QString::fromLatin1(address);
    gap->connState = connState;
    gap->confGetted = connState == 1;
    g_GapInfoList.append(gap);
    return gap;
}

inline void offerSend(_VKGAPIP_CONF *gap, const QString &key, const QString &toUser, int level)
{
    QMutexLocker lock(&g_Mutex);
    _GAP_SEND_PATH &path = gap->sendPaths[gap->sendPathCount];
    path.pathID = key;
    path.toUser = toUser;
    path.level = level;
    ++gap->sendPathCount;
}

inline void offerRecv(_VKGAPIP_CONF *gap, const QString &key, const QString &fromUser)
{
    QMutexLocker lock(&g_Mutex);
    _GAP_RECV_PATH &path = gap->recvPaths[gap->recvPathCount];
    path.pathID = key;
    path.fromUser = fromUser;
    ++gap->recvPathCount;
}

inline _SENDPATH_LISTDATA *addSendRule(const QByteArray &gap, const QByteArray &key,
    const QString &dir, const QByteArray &toUser = "bob")
{
    auto *rule = new _SENDPATH_LISTDATA;
    copyToField(rule->GapIP, kHostIPSize, gap);
    copyToField(rule->SendPathID, kPathIDSize, key);
    copyToField(rule->ToUser, kUserNameSize, toUser);
    rule->SendPath = dir;
    g_SendPathList.append(rule);
    return rule;
}

inline _RECVPATH_LISTDATA *addRecvRule(const QByteArray &gap, const QByteArray &key,
    const QString &dir, const QByteArray &fromUser = "dave")
{
    auto *rule = new _RECVPATH_LISTDATA;
    copyToField(rule->GapIP, kHostIPSize, gap);
    copyToField(rule->RecvPathID, kPathIDSize, key);
    copyToField(rule->FromUser, kUserNameSize, fromUser);
    rule->RecvPath = dir;
    g_RecvPathList.append(rule);
    return rule;
}

// Unlisted records stay allocated by design; the tests collect every record they have seen
// listed and free them all at the end, once nothing walks the lists any more.
class Records
{
public:
    void keep()
    {
        for (auto *gap : g_GapInfoList.snapshot())
            m_gaps.insert(gap);
        for (auto *rule : g_SendPathList.snapshot())
            m_sendRules.insert(rule);
        for (auto *rule : g_RecvPathList.snapshot())
            m_recvRules.insert(rule);
    }
    void freeAll()
    {
        keep();
        g_GapInfoList.clear();
        g_SendPathList.clear();
        g_RecvPathList.clear();
        qDeleteAll(m_gaps);
        qDeleteAll(m_sendRules);
        qDeleteAll(m_recvRules);
        m_gaps.clear();
        m_sendRules.clear();
        m_recvRules.clear();
    }

private:
    QSet<_VKGAPIP_CONF *> m_gaps;
    QSet<_SENDPATH_LISTDATA *> m_sendRules;
    QSet<_RECVPATH_LISTDATA *> m_recvRules;
};

// A directory below root, made if needed: the dialogs accept only directories that exist.
inline QString madeDir(const QString &root, const QString &name)
{
    const QString dir = QDir(root).filePath(name);
    QDir().mkpath(dir);
    return dir;
}

// Picks the item with this text, or no item for an empty text.
inline void choose(QComboBox *combo, const QString &text)
{
    combo->setCurrentIndex(text.isEmpty() ? -1 : combo->findText(text));
}

// Fills the form as a user would (the gap first, which refills the other combos) and presses
// "确定".
inline void fillAndConfirm(RuleDialog *dialog, const QString &gap, const QString &path,
    const QString &user, const QString &dir)
{
    choose(dialog->gapCombo(), gap);
    choose(dialog->pathCombo(), path);
    choose(dialog->userCombo(), user);
    dialog->dirEdit()->setText(dir);
    dialog->okButton()->click();
}

} // namespace RuleFixture
