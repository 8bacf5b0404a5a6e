#include "model/BaseFunction.h"

#include "model/GlobalData.h"
#include "model/Md5Digest.h"

#include <QFile>
#include <QFileInfo>
#include <QtDebug>
#include <cstring>

namespace {

constexpr qint64 kSecondsPerDay = 86400;
constexpr qint64 kSecondsPerHour = 3600;
constexpr qint64 kSecondsPerMinute = 60;

constexpr qint64 kKiB = 1024;
constexpr qint64 kMiB = 1024 * kKiB;
constexpr qint64 kGiB = 1024 * kMiB;

constexpr qint64 kMd5ChunkSize = 102400;

// Two-digit fields get a leading zero below ten.
QString clockField(qint64 value, bool withSeparator)
{
    const QString pattern = value < 10 ? QStringLiteral("0%1") : QStringLiteral("%1");
    return pattern.arg(value) + (withSeparator ? QStringLiteral(":") : QString());
}

// Length of the text the codec works on: up to the terminator, never more than the codec carries.
int codecLength(const char *text)
{
    return int(strnlen(text, size_t(BaseFunction::kCodecMaxLength)));
}

unsigned char codecShift(int length) { return static_cast<unsigned char>((length ^ 3) % 127); }

// p2 p3 ... p(n-1) p1 p0
void scrambleOrder(const char *in, char *out, int n)
{
    if (n < 2) {
        std::memcpy(out, in, size_t(n));
        return;
    }
    std::memcpy(out, in + 2, size_t(n - 2));
    out[n - 2] = in[1];
    out[n - 1] = in[0];
}

// e(n-1) e(n-2) e0 e1 ... e(n-3)
void restoreOrder(const char *in, char *out, int n)
{
    if (n < 2) {
        std::memcpy(out, in, size_t(n));
        return;
    }
    out[0] = in[n - 1];
    out[1] = in[n - 2];
    std::memcpy(out + 2, in, size_t(n - 2));
}

void shiftBytes(char *bytes, int n, int delta)
{
    for (int i = 0; i < n; ++i)
        bytes[i] = char(static_cast<unsigned char>(static_cast<unsigned char>(bytes[i]) + delta));
}

} // namespace

QString BaseFunction::formatDateTime(qint64 secs)
{
    // A negative duration (a clock set back during a transfer) shows as zero, not as garbage.
    secs = qMax<qint64>(secs, 0);
    const qint64 days = secs / kSecondsPerDay;
    const qint64 hours = (secs % kSecondsPerDay) / kSecondsPerHour;
    const qint64 minutes = (secs % kSecondsPerHour) / kSecondsPerMinute;
    const qint64 seconds = secs % kSecondsPerMinute;

    QString text;
    if (secs >= kSecondsPerDay)
        text = QStringLiteral("%1天:").arg(days);
    return text + clockField(hours, true) + clockField(minutes, true) + clockField(seconds, false);
}

QString BaseFunction::calcSize(qint64 bytes)
{
    if (bytes > kGiB)
        return QString::asprintf("%.2fGB", double(bytes) / double(kGiB));
    if (bytes > kMiB)
        return QString::asprintf("%.2fMB", double(bytes) / double(kMiB));
    if (bytes <= kKiB)
        return QString::asprintf("%d bytes", qint32(bytes));
    return QString::asprintf("%.2fKB", double(bytes) / double(kKiB));
}

QString BaseFunction::readableRate(quint64 rate)
{
    if (rate < quint64(kKiB))
        return QStringLiteral("%1 byte/s").arg(rate);
    if (rate < quint64(kMiB))
        return QStringLiteral("%1 KB/s").arg(double(rate) / double(kKiB));
    if (rate < quint64(kGiB))
        return QStringLiteral("%1 MB/s").arg(double(rate) / double(kMiB));
    return QStringLiteral("%1 GB/s").arg(double(rate) / double(kGiB));
}

QByteArray BaseFunction::getFileMd5(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qDebug() << "MD5 file open error.";
        return QByteArray();
    }
    return getFileMd5(file);
}

QByteArray BaseFunction::getFileMd5(QFileDevice &file)
{
    if (!file.seek(0))
        return QByteArray();
    return md5OfOpenFile(file, file.size());
}

QByteArray BaseFunction::md5OfOpenFile(
    QIODevice &file, qint64 size, const std::atomic<bool> *stop, const std::atomic<bool> *stopToo)
{
    Md5Digest hash;
    QByteArray chunk(int(kMd5ChunkSize), Qt::Uninitialized);
    qint64 done = 0;
    while (done < size) {
        if ((stop && *stop) || (stopToo && *stopToo))
            return QByteArray();
        const qint64 got = file.read(chunk.data(), qMin(kMd5ChunkSize, size - done));
        if (got <= 0) {
            // The file shrank or could not be read: a digest of part of it would describe no
            // file, so there is none.
            return QByteArray();
        }
        hash.addData(chunk.constData(), got);
        done += got;
    }
    return hash.hexResult();
}

bool BaseFunction::DeleteFileOrFolder(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    if (!info.exists())
        return false;
    if (info.isFile())
        QFile::remove(path);
    return true;
}

_VKGAPIP_CONF *BaseFunction::findVkgapinfo(const QString &address)
{
    const QByteArray wanted = address.toLatin1();
    QMutexLocker lock(&g_Mutex);
    const QList<_VKGAPIP_CONF *> gaps = g_GapInfoList.snapshot();
    for (_VKGAPIP_CONF *gap : gaps) {
        if (gap && QByteArray(gap->HostIP, int(strnlen(gap->HostIP, kHostIPSize))) == wanted)
            return gap;
    }
    return nullptr;
}

bool BaseFunction::canScramble(const QByteArray &passwd)
{
    const int n = passwd.size();
    if (n > kCodecMaxLength || passwd.contains('\0'))
        return false;
    const unsigned char k = codecShift(n);
    for (char c : passwd) {
        if (static_cast<unsigned char>(static_cast<unsigned char>(c) + k) == 0)
            return false;
    }
    return true;
}

char *BaseFunction::crypPasswd(char *passwd)
{
    if (!passwd)
        return passwd;
    const int n = codecLength(passwd);
    char scrambled[kCodecMaxLength];
    scrambleOrder(passwd, scrambled, n);
    shiftBytes(scrambled, n, codecShift(n));
    if (std::memchr(scrambled, 0, size_t(n))) {
        // A byte that wrapped to NUL would end the scrambled text early, and the shorter text
        // would restore to a different password. Such a password cannot be carried: it is
        // stored and sent as empty, so it fails visibly instead of silently becoming another.
        qWarning() << "a character of this text cannot be scrambled; the text is left empty";
        std::memset(passwd, 0, size_t(n) + 1);
        return passwd;
    }
    std::memcpy(passwd, scrambled, size_t(n));
    passwd[n] = '\0';
    return passwd;
}

char *BaseFunction::deCrypPasswd(char *passwd)
{
    if (!passwd)
        return passwd;
    const int n = codecLength(passwd);
    char restored[kCodecMaxLength];
    restoreOrder(passwd, restored, n);
    shiftBytes(restored, n, -int(codecShift(n)));
    std::memcpy(passwd, restored, size_t(n));
    passwd[n] = '\0';
    return passwd;
}
