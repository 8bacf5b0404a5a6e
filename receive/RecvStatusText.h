#pragma once

#include <QString>

// Final status texts of a receiving row that ends on a stream this side cannot vouch for, or on
// content that could not be made safe on disk. Each such end also sets the end time and the rate
// "0 Mbps", so that no ended transfer looks like one still running.
namespace RecvStatusText {

// A second descriptor on a connection that carries one file.
inline const QString kSecondDescriptor = QStringLiteral("重复的文件描述信息|关闭连接");
// Data, a file end or a verdict before any descriptor.
inline const QString kNoDescriptor = QStringLiteral("缺少文件描述信息|关闭连接");
// More data packets than the announced size allows.
inline const QString kBeyondSize = QStringLiteral("文件数据超出声明大小|关闭连接");
// A file end whose tail length lies outside 0 to 1443.
inline const QString kBadTail = QStringLiteral("文件尾包长度错误|关闭连接");
// A packet of a type the receiver does not take.
inline const QString kUnknownPacket = QStringLiteral("未知的数据包类型|关闭连接");
// The verified content could not be synced to disk or given a name; the sender keeps its copy.
inline const QString kSaveFailed = QStringLiteral("文件保存失败|关闭连接");
// The peer moved less than a minimum within a minute, however it spaced its bytes.
inline const QString kTooSlow = QStringLiteral("接收速度过慢|关闭连接");
// The announced size does not fit the receive directory's free space; the sender keeps its file.
inline const QString kNoRoom = QStringLiteral("接收目录空间不足");
// The receiving thread could not be started.
inline const QString kNoThread = QStringLiteral("接收线程启动失败|关闭连接");

} // namespace RecvStatusText
