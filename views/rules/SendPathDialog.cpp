#include "views/rules/SendPathDialog.h"

#include "model/BaseFunction.h"
#include "model/GlobalData.h"
#include "views/rules/RuleFields.h"

#include <QComboBox>
#include <QLineEdit>
#include <QtDebug>
#include <memory>

namespace {

// The state a new or changed rule starts in until the status checker knows better.
constexpr qint32 kGapUnreachableState = 3;

// The login user of the first gap at this address that has one; empty when none has.
QByteArray loginUserOf(const QByteArray &gapAddress)
{
    const QList<_VKGAPIP_CONF *> gaps = g_GapInfoList.snapshot();
    for (const _VKGAPIP_CONF *gap : gaps) {
        qDebug() << "t_gapconf" << fieldBytes(gap->HostIP, kHostIPSize)
                 << fieldBytes(gap->LoginUserName, kUserNameSize);
    }
    for (const _VKGAPIP_CONF *gap : gaps) {
        const QByteArray user = fieldBytes(gap->LoginUserName, kUserNameSize);
        if (fieldBytes(gap->HostIP, kHostIPSize) == gapAddress && !user.isEmpty())
            return user;
    }
    return QByteArray();
}

// The level of the first send path of the gap that goes to toUser; fallback when none does.
qint32 levelOf(const _VKGAPIP_CONF *gap, const QString &toUser, qint32 fallback)
{
    if (!gap)
        return fallback;
    QMutexLocker lock(&g_Mutex);
    for (const _GAP_SEND_PATH &path : gap->sendPaths) {
        if (path.toUser.isEmpty())
            break;
        if (path.toUser == toUser)
            return path.level;
    }
    return fallback;
}

} // namespace

SendPathDialog::SendPathDialog(QWidget *parent)
    : RuleDialog(
        { QStringLiteral("发送路径"), QStringLiteral("接收者"), QStringLiteral("接收者不能为空"),
            QStringLiteral("发送路径不能为空"), QStringLiteral("发送路径已被使用") },
        parent)
{
    sendPathDisplayList();
    connect(this, &RuleDialog::ruleStored, this, &SendPathDialog::addSendPath);
}

void SendPathDialog::sendPathDisplayList() { fillGapCombo(); }

int SendPathDialog::offerCount(const _VKGAPIP_CONF &gap) const { return gap.sendPathCount; }

QList<RuleDialog::Offer> SendPathDialog::offers(const _VKGAPIP_CONF &gap, int count) const
{
    QList<Offer> offered;
    for (int i = 0; i < count; ++i)
        offered.append({ gap.sendPaths[i].pathID, gap.sendPaths[i].toUser });
    return offered;
}

bool SendPathDialog::pathInUse() const
{
    const QByteArray key
        = RuleFields::storedBytes(RuleFields::utf8Bytes(pathCombo()->currentText()), kPathIDSize);
    const QByteArray gapAddress
        = RuleFields::storedBytes(RuleFields::latin1Bytes(gapCombo()->currentText()), kHostIPSize);
    const QList<_SENDPATH_LISTDATA *> rules = g_SendPathList.snapshot();
    for (const _SENDPATH_LISTDATA *rule : rules) {
        if (fieldBytes(rule->SendPathID, kPathIDSize) == key
            && fieldBytes(rule->GapIP, kHostIPSize) == gapAddress)
            return true;
    }
    return false;
}

bool SendPathDialog::storeRule()
{
    // A change rewrites the listed record in place: the files it has sent stay recorded with it,
    // so that a file kept after sending is not sent again.
    _SENDPATH_LISTDATA *listed = index() >= 0 ? g_SendPathList.value(index()) : nullptr;
    auto fresh = listed ? nullptr : std::make_unique<_SENDPATH_LISTDATA>();
    _SENDPATH_LISTDATA *rule = listed ? listed : fresh.get();
    const QString gapText = gapCombo()->currentText();
    const QString toUser = userCombo()->currentText();
    _VKGAPIP_CONF *gap = BaseFunction::findVkgapinfo(gapText);
    const qint32 level = levelOf(gap, toUser, rule->RecviverLevel);
    {
        QMutexLocker lock(&sendTaskMutex);
        // The scanner may have reached the rule while the dialog was open: a rule in use keeps
        // its directory and path, as the list would have refused the change.
        if (rule->scanStarted)
            return false;
        copyToField(
            rule->SendPathID, kPathIDSize, RuleFields::utf8Bytes(pathCombo()->currentText()));
        copyToField(rule->GapIP, kHostIPSize, RuleFields::latin1Bytes(gapText));
        copyToField(rule->ToUser, kUserNameSize, RuleFields::latin1Bytes(toUser));
        rule->gapConf = gap;
        rule->SendPath = dirEdit()->text();
    }
    rule->RecviverLevel = level;
    qDebug() << "接收者" << fieldBytes(rule->ToUser, kUserNameSize);
    qDebug() << "用户等级" << level;
    const QByteArray fromUser = loginUserOf(fieldBytes(rule->GapIP, kHostIPSize));
    if (fromUser.isEmpty())
        qDebug() << "登录用户名获取为空";
    {
        QMutexLocker lock(&sendTaskMutex);
        copyToField(rule->FromUser, kUserNameSize, fromUser);
    }
    // The stop flag of a changed rule stays as it is: a worker of the last run may still be
    // ending on it.
    rule->sendState = kGapUnreachableState;
    {
        QMutexLocker lock(&statusMutex);
        rule->statusText = QStringLiteral("发送未启动");
    }
    if (fresh)
        g_SendPathList.append(fresh.release());
    return true;
}
