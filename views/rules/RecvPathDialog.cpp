#include "views/rules/RecvPathDialog.h"

#include "model/GlobalData.h"
#include "receive/RecvPartFiles.h"
#include "views/rules/RuleFields.h"

#include <QComboBox>
#include <QLineEdit>

RecvPathDialog::RecvPathDialog(QWidget *parent)
    : RuleDialog(
        { QStringLiteral("接收路径"), QStringLiteral("发送者"), QStringLiteral("发送者不能为空"),
            QStringLiteral("接收路径不能为空"), QStringLiteral("该接收路径已被使用") },
        parent)
{
    recvPathDisplayList();
    connect(this, &RuleDialog::ruleStored, this, &RecvPathDialog::addRecvPath);
}

void RecvPathDialog::recvPathDisplayList() { fillGapCombo(); }

int RecvPathDialog::offerCount(const _VKGAPIP_CONF &gap) const { return gap.recvPathCount; }

QList<RuleDialog::Offer> RecvPathDialog::offers(const _VKGAPIP_CONF &gap, int count) const
{
    QList<Offer> offered;
    for (int i = 0; i < count; ++i)
        offered.append({ gap.recvPaths[i].pathID, gap.recvPaths[i].fromUser });
    return offered;
}

bool RecvPathDialog::pathInUse() const
{
    // A receive path key names one rule whichever gap delivers it.
    const QByteArray key
        = RuleFields::storedBytes(RuleFields::utf8Bytes(pathCombo()->currentText()), kPathIDSize);
    const QList<_RECVPATH_LISTDATA *> rules = g_RecvPathList.snapshot();
    for (const _RECVPATH_LISTDATA *rule : rules) {
        if (fieldBytes(rule->RecvPathID, kPathIDSize) == key)
            return true;
    }
    return false;
}

bool RecvPathDialog::storeRule()
{
    // A change fills a fresh record and swaps it in: a running transfer keeps the record it found,
    // with its directory and in-use count, and releases that one when it ends.
    auto *rule = new _RECVPATH_LISTDATA;
    rule->RecvPath = dirEdit()->text();
    rule->statusText = QStringLiteral("空闲中");
    rule->useCount = 0;
    copyToField(rule->RecvPathID, kPathIDSize, RuleFields::utf8Bytes(pathCombo()->currentText()));
    copyToField(rule->GapIP, kHostIPSize, RuleFields::latin1Bytes(gapCombo()->currentText()));
    copyToField(rule->FromUser, kUserNameSize, RuleFields::utf8Bytes(userCombo()->currentText()));

    if (index() >= 0 && g_RecvPathList.value(index()))
        g_RecvPathList.replace(index(), rule);
    else
        g_RecvPathList.append(rule);
    // The directory may hold part files of a run that ended mid-file.
    RecvPartFiles::sweep(rule->RecvPath);
    return true;
}
