#include "views/transfers/TransferOutcome.h"

#include "model/TransferStateInfo.h"

#include <QHash>
#include <QModelIndex>

namespace {

struct StatusText {
    const char *text;
    TransferOutcome::Kind kind;
};

// Every status text a worker writes into a row, with what it means for the row. A new text goes
// here with its outcome (a row waiting to be offered again is told by its prefix instead). Texts that carry an error number ("文件打开失败/错误代码%1",
// "错误代码 %1") are failures written with an end time, which the fallback already counts as
// failed. Texts of an attempt that will be retried count as running: the row goes on.
const StatusText kStatusTexts[] = {
    // Sending: the stages of an attempt.
    { "文件正在校验中,请稍候 ", TransferOutcome::Running },
    { "发送文件描述符", TransferOutcome::Running },
    { "正在发送中", TransferOutcome::Running },
    { "文件已发送/等待确认", TransferOutcome::Running },
    // Sending: an attempt failed and another follows.
    { "链路故障稍后重发（错误代码:type 0", TransferOutcome::Running },
    { "链路故障稍后重发（错误代码:type 1）", TransferOutcome::Running },
    { "文件类型判断出错", TransferOutcome::Running },
    { "文件描述符响应接收失败/稍后重发", TransferOutcome::Running },
    { "文件描述符响应接收失败/检查网络", TransferOutcome::Running },
    { "未知的接收文件描述符/稍后重传", TransferOutcome::Running },
    { "校验文件元数据：发送路径不一致", TransferOutcome::Running },
    { "尾包链路故障/稍后重发(错误代码:002)", TransferOutcome::Running },
    { "确认报文接收失败/稍后重发(错误代码:05)", TransferOutcome::Running },
    { "接收端文件校验失败/稍后重发(错误代码:15)", TransferOutcome::Running },
    // Sending: the end of the file's road.
    { "文件发送成功 ", TransferOutcome::Done },
    { "文件大小超出文件落地范围", TransferOutcome::Refused },
    { "文件名太长 ", TransferOutcome::Refused },
    { "接收方未配置接收路径", TransferOutcome::Refused },
    { "传输失败,发送方没有权限发送该文件", TransferOutcome::Refused },
    { "接收方没有权限接收该文件", TransferOutcome::Refused },
    { "文件多次发送失败/暂停发送", TransferOutcome::Failed },
    { "用户停止发送", TransferOutcome::Failed },
    { "用户停止发送 ", TransferOutcome::Failed },
    { "设备掉线请检查网络 ", TransferOutcome::Failed },
    // The file changed or was empty: this row ends, and a later scan offers the file again.
    { "文件发送期间被修改/稍后重发", TransferOutcome::Failed },
    { "文件为空/稍后重发", TransferOutcome::Failed },
    // Delivered, but the file could not be removed from its send directory.
    { "已发送，无法删除源文件", TransferOutcome::Done },
    // Refused, and the refused file removed from its send directory.
    { "文件大小超出文件落地范围，已从发送目录删除", TransferOutcome::Refused },
    { "文件名太长，已从发送目录删除", TransferOutcome::Refused },
    { "接收方未配置接收路径，已从发送目录删除", TransferOutcome::Refused },
    { "传输失败,发送方没有权限发送该文件，已从发送目录删除", TransferOutcome::Refused },
    { "接收方没有权限接收该文件，已从发送目录删除", TransferOutcome::Refused },
    { "不允许发送的文件类型，已从发送目录删除", TransferOutcome::Refused },
    { "文件存在过滤关键字，已从发送目录删除", TransferOutcome::Refused },
    { "文件存在病毒，已从发送目录删除", TransferOutcome::Refused },
    // The scanner cannot hand the file over as it is; it stays where it is.
    { "文件名编码无法识别", TransferOutcome::Failed },
    { "文件路径过长", TransferOutcome::Failed },
    { "不是普通文件（管道或设备），不能发送", TransferOutcome::Failed },
    { "文件无法读取，请检查权限", TransferOutcome::Failed },
    // The gap's verdicts on the content, on either side.
    { "不允许发送的文件类型", TransferOutcome::Refused },
    { "文件存在过滤关键字", TransferOutcome::Refused },
    { "文件存在病毒", TransferOutcome::Refused },
    // Receiving: the stages of a file. "文件接收完毕" comes with an end time, yet the digest
    // check is still to come.
    { "接收文件描述信息", TransferOutcome::Running },
    { "接收文件描述符响应", TransferOutcome::Running },
    { "正在接收中", TransferOutcome::Running },
    { "文件接收完毕", TransferOutcome::Running },
    { "正在校验文件", TransferOutcome::Running },
    // Receiving: the end of the file's road.
    { "接收完毕", TransferOutcome::Done },
    { "未知接收路径|关闭连接", TransferOutcome::Refused },
    { "文件所需路径超出范围|关闭连接", TransferOutcome::Refused },
    { "Socket断连", TransferOutcome::Failed },
    { "文件描述符响应发送失败", TransferOutcome::Failed },
    { "发生了致命错误", TransferOutcome::Failed },
    { "系统资源不足", TransferOutcome::Failed },
    { "打开文件失败/关闭连接", TransferOutcome::Failed },
    { "写入文件时发生错误，检查内存是否充足", TransferOutcome::Failed },
    { "写入文件时发生错误，检查内存是否充足 ", TransferOutcome::Failed },
    { "发生意外错误", TransferOutcome::Failed },
    { "文件校验错误|稍后重传", TransferOutcome::Failed },
    { "重复的文件描述信息|关闭连接", TransferOutcome::Failed },
    { "缺少文件描述信息|关闭连接", TransferOutcome::Failed },
    { "文件数据超出声明大小|关闭连接", TransferOutcome::Failed },
    { "文件尾包长度错误|关闭连接", TransferOutcome::Failed },
    { "未知的数据包类型|关闭连接", TransferOutcome::Failed },
    { "文件保存失败|关闭连接", TransferOutcome::Failed },
    { "接收速度过慢|关闭连接", TransferOutcome::Failed },
    { "接收目录空间不足", TransferOutcome::Failed },
    { "接收线程启动失败|关闭连接", TransferOutcome::Failed },
};


// The messages of the audit events of files that are not the status texts above. An event's
// message that is a status text means what the text means, except that a failed attempt which a
// worker tries again (Running) reads as waiting: the event is written as the attempt ends.
const StatusText kEventTexts[] = {
    // Sending: an attempt failed and another follows.
    { "链路故障稍错误代码:type 0", TransferOutcome::Running },
    { "链路故障稍错误代码:type 1", TransferOutcome::Running },
    { "链路故障稍错误代码:type 5", TransferOutcome::Running },
    { "校验发送路径不一致", TransferOutcome::Running },
    // Sending: the gap or the far side refused the file.
    { "文件名太长", TransferOutcome::Refused },
    // Receiving: the file was refused before any content came.
    { "文件所需路径超出范围", TransferOutcome::Refused },
    { "未配置接收路径", TransferOutcome::Refused },
};

struct Vocabulary {
    const char *label;
    const char *name;
    quint32 colour; // ARGB
    quint32 barColour;
};

// By Kind. The bars of running rows keep the progress bar's own blue; a success is green, a
// refusal amber, a failure red, a file that waits violet.
const Vocabulary kVocabulary[TransferOutcome::kKinds] = {
    { "进行中", "running", 0xFF2F6FD6, 0xFF77AAEE },
    { "成功", "success", 0xFF2E7D32, 0xFF8BCB8E },
    { "已拒绝", "refused", 0xFFB26A00, 0xFFE6A23C },
    { "失败", "failed", 0xFFC62828, 0xFFE5484D },
    { "等待重发", "waiting", 0xFF6B5FB5, 0xFFB7AEEA },
};

const QString kWaitingPrefix = QStringLiteral("等待重发");
const QString kUserStop = QStringLiteral("用户停止发送");

using TextTable = QHash<QString, TransferOutcome::Kind>;

template <size_t N> TextTable tableOf(const StatusText (&texts)[N])
{
    TextTable byText;
    for (const StatusText &entry : texts)
        byText.insert(QString::fromUtf8(entry.text), entry.kind);
    return byText;
}

const TextTable &outcomeByText()
{
    static const TextTable table = tableOf(kStatusTexts);
    return table;
}

const TextTable &outcomeByEventText()
{
    static const TextTable table = tableOf(kEventTexts);
    return table;
}

} // namespace

TransferOutcome::Kind TransferOutcome::of(const QString &status, const QString &endTime)
{
    const auto known = outcomeByText().constFind(status);
    if (known != outcomeByText().constEnd())
        return known.value();
    if (isWaitingForRetry(status))
        return Waiting;
    return endTime.isEmpty() ? Running : Failed;
}

TransferOutcome::Kind TransferOutcome::ofRow(const QModelIndex &index)
{
    const QString status = index.siblingAtColumn(TransferStateInfo::Status).data().toString();
    const QString endTime = index.siblingAtColumn(TransferStateInfo::EndTime).data().toString();
    return of(status, endTime);
}

TransferOutcome::Kind TransferOutcome::ofEvent(int flag, const QString &message)
{
    if (flag == 1)
        return Done;
    Kind kind = Failed;
    const auto event = outcomeByEventText().constFind(message);
    const auto status = outcomeByText().constFind(message);
    if (event != outcomeByEventText().constEnd())
        kind = event.value();
    else if (status != outcomeByText().constEnd())
        kind = status.value();
    else if (isWaitingForRetry(message))
        kind = Waiting;
    if (kind == Running || kind == Waiting)
        return Waiting;
    // A success text with a failure's flag: the flag has the last word.
    return kind == Refused ? Refused : Failed;
}

QStringList TransferOutcome::knownTexts() { return outcomeByText().keys(); }

bool TransferOutcome::isWaitingForRetry(const QString &status)
{
    return status.startsWith(kWaitingPrefix);
}

bool TransferOutcome::isStoppedByUser(const QString &status)
{
    return status.trimmed() == kUserStop;
}

QString TransferOutcome::label(Kind kind) { return QString::fromUtf8(kVocabulary[kind].label); }

QString TransferOutcome::name(Kind kind) { return QLatin1String(kVocabulary[kind].name); }

bool TransferOutcome::parse(const QString &text, Kind *kind)
{
    for (int candidate = 0; candidate < kKinds; ++candidate) {
        if (text == label(Kind(candidate)) || text == name(Kind(candidate))) {
            *kind = Kind(candidate);
            return true;
        }
    }
    return false;
}

quint32 TransferOutcome::colour(Kind kind) { return kVocabulary[kind].colour; }

quint32 TransferOutcome::barColour(Kind kind) { return kVocabulary[kind].barColour; }
