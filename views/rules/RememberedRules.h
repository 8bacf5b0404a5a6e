#pragma once

#include <QString>
#include <functional>

// The gaps and rules the client keeps across restarts: "config/rules.vkg" under the working
// directory, in the export format, owner-only. Once restored after the login, every change of
// the lists is written to it at once, so that the next start brings back the same rules.
class RememberedRules
{
public:
    using Import = std::function<void(const QString &fileName)>;

    static QString filePath();

    // Brings back the remembered gaps and rules through import (the same import as "恢复配置"),
    // then writes the file anew. A file that does not read as a configuration is first set
    // aside as "rules.vkg.damaged", so that writing does not destroy what may be mended by hand.
    void restore(const Import &import);
    bool isRestored() const { return m_restored; }

    // Writes the registries to the file. Nothing is written before restore(): the lists of a
    // start that has not restored yet must not replace the remembered ones.
    bool remember() const;

private:
    bool m_restored = false;
};
