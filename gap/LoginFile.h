#pragma once

#include <QString>

// The remembered login, "config/login.conf" under a client's working directory: the gap address,
// the user name, the password scrambled by the password codec, and the two flags. The login window
// reads and writes it through here, and so do the tools that prepare a client's working directory
// for an unattended start, so that both write the same file.
class LoginFile
{
public:
    // The login window's fields take at most this many characters of an address, and of a user
    // name or password.
    static constexpr int kAddressLength = 39;
    static constexpr int kFieldLength = 16;
    // The keys of the group "config", and the text of a set flag.
    static const char *const kAddressKey;
    static const char *const kUserKey;
    static const char *const kPasswordKey;
    static const char *const kRememberKey;
    static const char *const kAutoLoginKey;
    static const char *const kTrue;

    // The login file of a working directory.
    static QString pathIn(const QString &workingDirectory);

    explicit LoginFile(const QString &path);

    QString path() const { return m_path; }
    bool exists() const;

    // The stored value of a key of the group "config", as text; empty when absent.
    QString read(const QString &key) const;
    // Stores one value as given (a password must be scrambled already); the file and its folder
    // are created when missing, and the file is kept readable by its owner only.
    bool write(const QString &key, const QString &value);
    // Writes every key of a remembered login in their order, the password scrambled.
    bool remember(
        const QString &address, const QString &user, const QString &password, bool autoLogin);
    bool remove();

    // The password codec over Latin-1 text, never past its fixed buffer.
    static QString scramble(const QString &password);
    static QString unscramble(const QString &stored);

private:
    bool protect() const;

    QString m_path;
};
