#include "gap/LoginFile.h"

#include "model/BaseFunction.h"
#include "model/GlobalData.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPair>
#include <QSettings>
#include <QtDebug>

namespace {

const char *const kConfFile = "/config/login.conf";
const char *const kConfGroup = "config";
const char *const kFalse = "false";

QString applyCodec(const QString &text, char *(*codec)(char *))
{
    char buffer[BaseFunction::kCodecBufferSize];
    copyToField(buffer, sizeof buffer, text.toLatin1());
    return QString::fromLatin1(codec(buffer));
}

} // namespace

const char *const LoginFile::kAddressKey = "ip";
const char *const LoginFile::kUserKey = "username";
const char *const LoginFile::kPasswordKey = "password";
const char *const LoginFile::kRememberKey = "isrember";
const char *const LoginFile::kAutoLoginKey = "isauto";
const char *const LoginFile::kTrue = "true";

QString LoginFile::pathIn(const QString &workingDirectory)
{
    return workingDirectory + QLatin1String(kConfFile);
}

LoginFile::LoginFile(const QString &path)
    : m_path(path)
{
}

bool LoginFile::exists() const { return QFileInfo::exists(m_path); }

QString LoginFile::read(const QString &key) const
{
    QSettings settings(m_path, QSettings::IniFormat);
    return settings.value(QLatin1String(kConfGroup) + '/' + key).toString();
}

bool LoginFile::write(const QString &key, const QString &value)
{
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    // Created owner-only before the password goes in, so that it is never readable by others.
    if (!exists()) {
        QFile file(m_path);
        if (file.open(QIODevice::WriteOnly))
            file.close();
        protect();
    }
    QSettings::Status status;
    {
        QSettings settings(m_path, QSettings::IniFormat);
        settings.beginGroup(QLatin1String(kConfGroup));
        settings.setValue(key, value);
        settings.endGroup();
        settings.sync();
        status = settings.status();
    }
    // The file holds the password, and its scrambling is no protection: owner only.
    const bool written = status == QSettings::NoError && protect();
    if (!written)
        qWarning().noquote() << "cannot write" << m_path;
    return written;
}

bool LoginFile::remember(
    const QString &address, const QString &user, const QString &password, bool autoLogin)
{
    // Every key is written even after a failure, as the login window always did; the result
    // tells whether all of them were.
    const QPair<const char *, QString> values[] = {
        { kAddressKey, address },
        { kUserKey, user },
        { kPasswordKey, scramble(password) },
        { kRememberKey, QLatin1String(kTrue) },
        { kAutoLoginKey, QLatin1String(autoLogin ? kTrue : kFalse) },
    };
    bool written = true;
    for (const auto &value : values)
        written = write(QLatin1String(value.first), value.second) && written;
    return written;
}

bool LoginFile::remove() { return QFile::remove(m_path); }

QString LoginFile::scramble(const QString &password)
{
    return applyCodec(password, BaseFunction::crypPasswd);
}

QString LoginFile::unscramble(const QString &stored)
{
    return applyCodec(stored, BaseFunction::deCrypPasswd);
}

bool LoginFile::protect() const
{
    return QFile::setPermissions(m_path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}
