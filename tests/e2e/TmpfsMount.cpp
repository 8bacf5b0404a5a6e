#include "TmpfsMount.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <sys/mount.h>

TmpfsMount::~TmpfsMount()
{
    // Lazily: a client that still has the directory open must not keep it mounted.
    if (!m_directory.isEmpty())
        ::umount2(QFile::encodeName(m_directory).constData(), MNT_DETACH);
}

bool TmpfsMount::mount(const QString &directory, int sizeKiB)
{
    const QByteArray options = "size=" + QByteArray::number(sizeKiB) + "k,mode=0700";
    if (::mount("tmpfs", QFile::encodeName(directory).constData(), "tmpfs", 0, options.constData())
        != 0) {
        m_error = QStringLiteral("mount -t tmpfs on %1: %2")
                      .arg(directory, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    m_directory = directory;
    return true;
}
