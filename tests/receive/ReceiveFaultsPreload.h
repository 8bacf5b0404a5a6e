#pragma once

#include <QCoreApplication>
#include <QProcessEnvironment>
#include <QString>

// Puts the fault library (ReceiveFaults.h) into a program started with this environment, with the
// faults listed ("no-tmpfile,dir-fsync-einval"). A program built with AddressSanitizer then has the
// library before the sanitizer's runtime, which the runtime allows only when told so.
inline void preloadReceiveFaults(QProcessEnvironment &environment, const QString &faults)
{
    QString binDir = qEnvironmentVariable("GAP_BIN_DIR");
    if (binDir.isEmpty())
        binDir = QCoreApplication::applicationDirPath();
    environment.insert(QStringLiteral("LD_PRELOAD"), binDir + QStringLiteral("/libgapfaults.so"));
    environment.insert(QStringLiteral("GAP_FAULTS"), faults);
    const QString asan = environment.value(QStringLiteral("ASAN_OPTIONS"));
    environment.insert(QStringLiteral("ASAN_OPTIONS"),
        (asan.isEmpty() ? QString() : asan + ':') + QStringLiteral("verify_asan_link_order=0"));
}
