#pragma once

#include <QString>

// A small tmpfs mounted over a directory for one test, so that a disk can fill; unmounted by the
// destructor. Mounting needs root: where it is impossible, mount() says why.
class TmpfsMount
{
public:
    TmpfsMount() = default;
    ~TmpfsMount();
    TmpfsMount(const TmpfsMount &) = delete;
    TmpfsMount &operator=(const TmpfsMount &) = delete;

    bool mount(const QString &directory, int sizeKiB);
    QString error() const { return m_error; }

private:
    QString m_directory;
    QString m_error;
};
