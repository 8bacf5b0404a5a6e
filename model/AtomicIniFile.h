#pragma once

#include <QString>
#include <functional>

class QSettings;

// Writes an INI file of the client's state so that a crash or a full disk never leaves it half
// written: the settings go into an owner-only temporary file beside it, which is synced and then
// renamed over the file. Readers see the old file or the new one, never a mix.
class AtomicIniFile
{
public:
    // Fills a fresh INI file through fill and puts it in place of fileName, readable and writable
    // by its owner only. False, with the file unchanged, when any step fails.
    static bool write(const QString &fileName, const std::function<void(QSettings &)> &fill);
};
