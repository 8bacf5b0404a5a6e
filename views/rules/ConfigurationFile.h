#pragma once

#include <QList>
#include <QString>

struct _VKGAPIP_CONF;
struct _SENDPATH_LISTDATA;
struct _RECVPATH_LISTDATA;

// The exportable configuration: the gaps with their accounts, the send rules and the receive
// rules, in one INI file ("*.vkg"). Export writes the three registries; import adds to them what
// is new and usable, and tells the user about every entry it refuses.
class ConfigurationFile
{
public:
    // Writes the registries into fileName, replacing it in one step (AtomicIniFile); the file is
    // readable by its owner only, as it holds the scrambled passwords. False when it could not be
    // written.
    static bool saveConf(const QString &fileName);
    // The same for the records given instead of the registries: tools that prepare a client's
    // working directory write its rules file through here.
    static bool saveConf(const QString &fileName, const QList<_VKGAPIP_CONF *> &gaps,
        const QList<_SENDPATH_LISTDATA *> &sendRules, const QList<_RECVPATH_LISTDATA *> &recvRules);

    // Whether the file reads as a whole configuration, as the export writes one.
    static bool canRestore(const QString &fileName);

    // Who asked for an import: the user ("恢复配置"), the command line at every start
    // (--import), or the start itself bringing back the remembered rules.
    enum Import { Asked, Unattended, Remembered };

    // Adds the file's gaps, then its send rules, then its receive rules, each checked as the rule
    // dialogs check them; a send rule whose directory is not there yet is kept (it starts once
    // the directory appears). An empty name (a cancelled file dialog) imports nothing and says
    // nothing. A file that cannot be read or is damaged imports nothing, with a box saying so.
    // Then one box names every refused entry with its reason (also in the log) and, when the
    // user asked, says what was added and what was already listed. True when the file was read
    // and no entry was refused; duplicates of listed entries are skipped without counting as
    // refusals.
    static bool reStoreConf(const QString &fileName, Import kind = Asked);
};
