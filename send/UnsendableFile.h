#pragma once

#include <QString>

// A file the scanner cannot hand over as it is, and why: its row and its log line say so once,
// when it is first seen, and it stays where it is.
struct UnsendableFile {
    QString filePath; // as shown; a name that cannot be read has its unreadable parts replaced
    qint64 size = 0;
    QString reason; // one of the texts below
};

namespace UnsendableReason {
// Neither UTF-8 nor GB18030 reads the name: the receiver could not be given a faithful one.
inline const char *const kNameEncoding = "文件名编码无法识别";
// The path below the send directory is longer than the receiver takes (254 bytes of UTF-8).
inline const char *const kPathTooLong = "文件路径过长";
inline const char *const kNotRegular = "不是普通文件（管道或设备），不能发送";
inline const char *const kUnreadable = "文件无法读取，请检查权限";
} // namespace UnsendableReason
