#pragma once

#include <QString>

// The gap's verdicts on a file (a refused type, a filtered keyword, a virus), in the words both
// ends of a transfer show: the sender when the gap answers it, the receiver when the gap tells it
// why its stream stops.
namespace TransferVerdict {

inline const QString kTypeRefused = QStringLiteral("不允许发送的文件类型");
inline const QString kKeyword = QStringLiteral("文件存在过滤关键字");
inline const QString kVirus = QStringLiteral("文件存在病毒");

// The text of a verdict type (4, 10 or 11); empty for any other type.
QString text(quint64 type);

} // namespace TransferVerdict
