#include "views/rules/RememberedRules.h"

#include "views/rules/ConfigurationFile.h"

#include <QDir>
#include <QFile>
#include <QtDebug>

namespace {

const char *const kDirectory = "/config";
const char *const kFileName = "/config/rules.vkg";
const char *const kDamagedSuffix = ".damaged";

} // namespace

QString RememberedRules::filePath() { return QDir::currentPath() + QLatin1String(kFileName); }

void RememberedRules::restore(const Import &import)
{
    const QString file = filePath();
    if (QFile::exists(file)) {
        QString restored = file;
        if (!ConfigurationFile::canRestore(file)) {
            restored = file + QLatin1String(kDamagedSuffix);
            QFile::remove(restored);
            QFile::rename(file, restored);
            qWarning().noquote() << "remembered rules unreadable, kept as" << restored;
        }
        // The import tells the user of a damaged file and of every entry it refuses.
        import(restored);
    }
    m_restored = true;
    remember();
}

bool RememberedRules::remember() const
{
    if (!m_restored)
        return false;
    QDir().mkpath(QDir::currentPath() + QLatin1String(kDirectory));
    return ConfigurationFile::saveConf(filePath());
}
