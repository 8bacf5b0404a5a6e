#include "views/rules/ConfigurationFile.h"

#include "gap/GapInput.h"
#include "model/AtomicIniFile.h"
#include "model/BaseFunction.h"
#include "model/GlobalData.h"
#include "model/Prompt.h"
#include "receive/RecvPartFiles.h"
#include "views/rules/RuleDirectories.h"
#include "views/rules/RuleFields.h"

#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <QtDebug>
#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <memory>

namespace {

const char *const kGapGroup = "VKGAPINFO";
const char *const kGapCount = "GapIPCount";
const char *const kGapIP = "GapIP_";
const char *const kGapUser = "LoginUserName_";
const char *const kGapPassword = "LoginPswd_";
const char *const kGapHost = "HostIP_";

const char *const kSendGroup = "SENDINFO";
const char *const kSendCount = "SendInfoNum";
const char *const kSendPath = "SendPath_";
const char *const kSendPathID = "SendPathID_";
const char *const kSendGapIP = "SendPathGapIP_";
const char *const kSendToUser = "ToUser_";
const char *const kSendLevel = "RecviverLevel_";
const char *const kSendFromUser = "FromUser_";

const char *const kRecvGroup = "RECVINO";
const char *const kRecvCount = "RecvInfoNum";
const char *const kRecvPath = "RecvPath_";
const char *const kRecvPathID = "RecvPathID_";
const char *const kRecvGapIP = "RecvPathGapIP_";
const char *const kRecvFromUser = "FromUser_";

// A rule made outside the rule dialog starts as one made in it: gap not yet reached.
constexpr int kNewRuleSendState = 3;

const char *const kUnreadable = "配置文件无法读取-恢复失败";
const char *const kDamaged = "配置文件已损坏-恢复失败";
const char *const kGapInvalid = "隔离器-配置无效-恢复失败";

// What the user is told when a rule is refused.
struct Refusals {
    const char *noGap;
    const char *noDirectory;
    const char *invalid;
};
const Refusals kSendRefusals { "发送目录-隔离器地址未连接-恢复失败",
    "发送目录-文件路径已不存在-恢复失败", "发送目录-配置无效-恢复失败" };
const Refusals kRecvRefusals { "接收目录-隔离器地址未连接-恢复失败",
    "接收目录-文件路径已不存在-恢复失败", "接收目录-配置无效-恢复失败" };

// The parts of the two kinds of rule that the import compares and fills alike.
const QString &localPath(const _SENDPATH_LISTDATA &rule) { return rule.SendPath; }
RuleDirectories::Kind kindOf(const _SENDPATH_LISTDATA &) { return RuleDirectories::Send; }
RuleDirectories::Kind kindOf(const _RECVPATH_LISTDATA &) { return RuleDirectories::Recv; }
const QString &localPath(const _RECVPATH_LISTDATA &rule) { return rule.RecvPath; }
const char *ruleKey(const _SENDPATH_LISTDATA &rule) { return rule.SendPathID; }
const char *ruleKey(const _RECVPATH_LISTDATA &rule) { return rule.RecvPathID; }
void attachGap(_SENDPATH_LISTDATA &rule, _VKGAPIP_CONF *gap) { rule.gapConf = gap; }
void attachGap(_RECVPATH_LISTDATA &, _VKGAPIP_CONF *) { }

// One group of the file: its count key and the keys every entry has.
struct Section {
    const char *group;
    const char *count;
    QStringList entryKeys;
};

const Section kSections[] = {
    { kGapGroup, kGapCount, { kGapIP, kGapUser, kGapPassword, kGapHost } },
    { kSendGroup, kSendCount,
        { kSendPath, kSendPathID, kSendGapIP, kSendToUser, kSendLevel, kSendFromUser } },
    { kRecvGroup, kRecvCount, { kRecvPath, kRecvPathID, kRecvGapIP, kRecvFromUser } },
};

QString entryKey(const char *name, int index)
{
    return QLatin1String(name) + QString::number(index);
}

// Fields are written as text in the encoding the rest of the client reads them in (see
// RuleFields): path keys and the sending users of receive paths hold the gap's UTF-8, the
// addresses and the other user names Latin-1. Either way the bytes come back unchanged.
QString latin1Text(const char *field, int size) { return RuleFields::latin1Text(field, size); }
QString utf8Text(const char *field, int size) { return RuleFields::utf8Text(field, size); }

// Fills a fixed field; false when the text does not fit (with its terminator) or, for a Latin-1
// field, holds a character beyond Latin-1.
bool fillLatin1(char *field, int size, const QString &text)
{
    const QByteArray bytes = RuleFields::latin1Bytes(text);
    return QString::fromLatin1(bytes) == text && copyToField(field, size, bytes);
}

bool fillUtf8(char *field, int size, const QString &text)
{
    return copyToField(field, size, RuleFields::utf8Bytes(text));
}

// Every check of the list is made (a braced list evaluates all its elements): each one also
// fills a field that later checks read.
bool allOf(std::initializer_list<bool> checks)
{
    return std::all_of(checks.begin(), checks.end(), [](bool check) { return check; });
}

bool isDirectory(const QString &path) { return !path.isEmpty() && QFileInfo(path).isDir(); }

// The entry count of a group, or -1 when it is missing or not a count.
int entryCount(QSettings &settings, const Section &section)
{
    settings.beginGroup(QLatin1String(section.group));
    bool ok = false;
    const int count = settings.value(QLatin1String(section.count)).toInt(&ok);
    settings.endGroup();
    return ok && count >= 0 ? count : -1;
}

// A file the export wrote has every count, and every counted entry has keys. Checking this
// first keeps a truncated or foreign file from being half imported, and a forged count from
// driving a loop of billions of missing entries.
bool isComplete(QSettings &settings)
{
    for (const Section &section : kSections) {
        const int count = entryCount(settings, section);
        if (count < 0)
            return false;
        settings.beginGroup(QLatin1String(section.group));
        const QStringList keys = settings.childKeys();
        settings.endGroup();
        for (int index = 0; index < count; ++index) {
            bool present = false;
            for (const QString &key : section.entryKeys)
                present = present || keys.contains(key + QString::number(index));
            if (!present)
                return false;
        }
    }
    return true;
}

// Reads the entries of one group in order; each entry is read with the group open.
class GroupReader
{
public:
    GroupReader(QSettings &settings, const char *group, const char *countKey)
        : m_settings(settings)
    {
        m_settings.beginGroup(QLatin1String(group));
        m_count = m_settings.value(QLatin1String(countKey)).toInt();
    }
    ~GroupReader() { m_settings.endGroup(); }
    GroupReader(const GroupReader &) = delete;
    GroupReader &operator=(const GroupReader &) = delete;

    int count() const { return m_count; }
    QString text(const char *name, int index) const
    {
        return m_settings.value(entryKey(name, index)).toString();
    }
    int number(const char *name, int index) const
    {
        return m_settings.value(entryKey(name, index)).toInt();
    }

private:
    QSettings &m_settings;
    int m_count = 0;
};

// ---- export

void writeGaps(QSettings &settings, const QList<_VKGAPIP_CONF *> &gaps)
{
    settings.beginGroup(QLatin1String(kGapGroup));
    settings.setValue(QLatin1String(kGapCount), gaps.size());
    for (int i = 0; i < gaps.size(); ++i) {
        const _VKGAPIP_CONF &gap = *gaps.at(i);
        // Scrambled on a copy: the record keeps its password in clear for the next login.
        char password[BaseFunction::kCodecBufferSize];
        copyToField(password, sizeof password,
            QByteArray(gap.LoginPswd, int(strnlen(gap.LoginPswd, kUserNameSize))));
        BaseFunction::crypPasswd(password);
        settings.setValue(entryKey(kGapIP, i), latin1Text(gap.HostIP, kHostIPSize));
        settings.setValue(entryKey(kGapUser, i), latin1Text(gap.LoginUserName, kUserNameSize));
        settings.setValue(entryKey(kGapPassword, i), QString::fromLatin1(password));
        settings.setValue(entryKey(kGapHost, i), gap.hostIPStr);
    }
    settings.endGroup();
}

void writeSendRules(QSettings &settings, const QList<_SENDPATH_LISTDATA *> &rules)
{
    settings.beginGroup(QLatin1String(kSendGroup));
    settings.setValue(QLatin1String(kSendCount), rules.size());
    for (int i = 0; i < rules.size(); ++i) {
        const _SENDPATH_LISTDATA &rule = *rules.at(i);
        settings.setValue(entryKey(kSendPath, i), rule.SendPath);
        settings.setValue(entryKey(kSendPathID, i), utf8Text(rule.SendPathID, kPathIDSize));
        settings.setValue(entryKey(kSendGapIP, i), latin1Text(rule.GapIP, kHostIPSize));
        settings.setValue(entryKey(kSendToUser, i), latin1Text(rule.ToUser, kUserNameSize));
        settings.setValue(entryKey(kSendLevel, i), rule.RecviverLevel.load());
        settings.setValue(entryKey(kSendFromUser, i), latin1Text(rule.FromUser, kUserNameSize));
    }
    settings.endGroup();
}

void writeRecvRules(QSettings &settings, const QList<_RECVPATH_LISTDATA *> &rules)
{
    settings.beginGroup(QLatin1String(kRecvGroup));
    settings.setValue(QLatin1String(kRecvCount), rules.size());
    for (int i = 0; i < rules.size(); ++i) {
        const _RECVPATH_LISTDATA &rule = *rules.at(i);
        settings.setValue(entryKey(kRecvPath, i), rule.RecvPath);
        settings.setValue(entryKey(kRecvPathID, i), utf8Text(rule.RecvPathID, kPathIDSize));
        settings.setValue(entryKey(kRecvGapIP, i), latin1Text(rule.GapIP, kHostIPSize));
        settings.setValue(entryKey(kRecvFromUser, i), utf8Text(rule.FromUser, kUserNameSize));
    }
    settings.endGroup();
}

// ---- import

// What became of one entry: added, skipped as already listed, or refused with the reason.
struct Verdict {
    enum Outcome { Added, Duplicate, Refused };
    Outcome outcome = Added;
    QString reason;

    static Verdict added() { return {}; }
    static Verdict duplicate() { return { Duplicate, QString() }; }
    static Verdict refuse(const char *reason) { return refuse(QString::fromUtf8(reason)); }
    static Verdict refuse(const QString &reason) { return { Refused, reason }; }
};

QString describeGap(const QString &address, const QString &user)
{
    return QStringLiteral("隔离器 %1（用户 %2）").arg(address, user);
}

QString describeRule(const char *kind, const QString &dir, const char *gap, const QString &key)
{
    return QStringLiteral("%1 %2（隔离器 %3，路径 %4）")
        .arg(QString::fromUtf8(kind), dir, latin1Text(gap, kHostIPSize), key);
}

// Imports one entry after the other and then tells the user, in one box, what was refused and
// why, and, when the user asked for the import, what was added and what was already listed. A
// box runs an event loop and g_MainMutex is not recursive, so nothing is shown under the lock.
class Importer
{
public:
    Importer(QSettings &settings, ConfigurationFile::Import kind)
        : m_settings(settings)
        , m_kind(kind)
    {
    }

    bool run(const QString &fileName)
    {
        importGaps();
        importSendRules();
        importRecvRules();
        tell(fileName);
        return m_refused.isEmpty();
    }

private:
    void note(const Verdict &verdict, const QString &entry)
    {
        switch (verdict.outcome) {
        case Verdict::Added:
            ++m_added;
            return;
        case Verdict::Duplicate:
            m_skipped << entry;
            return;
        case Verdict::Refused:
            m_refused << entry + QStringLiteral("：") + verdict.reason;
            qWarning().noquote() << "import refused:" << m_refused.last();
            return;
        }
    }

    void tell(const QString &fileName) const
    {
        const bool asked = m_kind == ConfigurationFile::Asked;
        if (!asked && m_refused.isEmpty())
            return;
        QStringList lines;
        if (asked)
            lines << QStringLiteral("已从 %1 恢复 %2 项配置。").arg(fileName).arg(m_added);
        if (asked && !m_waiting.isEmpty())
            lines << QStringLiteral("以下发送目录尚不存在，出现后即开始发送：") << m_waiting;
        if (asked && !m_skipped.isEmpty())
            lines << QStringLiteral("以下条目已存在，未重复添加：") << m_skipped;
        if (!m_refused.isEmpty())
            lines << QStringLiteral("以下条目未能恢复：") << m_refused;
        PromptRequest request;
        request.icon = m_refused.isEmpty() ? PromptRequest::Information : PromptRequest::Warning;
        request.title = QStringLiteral("恢复配置");
        request.text = lines.join(QLatin1Char('\n'));
        request.buttons = PromptRequest::Ok;
        Prompt::show(request);
    }

    void importGaps()
    {
        const GroupReader group(m_settings, kGapGroup, kGapCount);
        for (int i = 0; i < group.count(); ++i) {
            note(importGap(group, i), describeGap(group.text(kGapIP, i), group.text(kGapUser, i)));
        }
    }

    static Verdict importGap(const GroupReader &group, int i)
    {
        auto gap = std::make_unique<_VKGAPIP_CONF>();
        const QString address = group.text(kGapIP, i);
        const QString host = group.text(kGapHost, i);
        const QString user = group.text(kGapUser, i);
        char password[BaseFunction::kCodecBufferSize];
        if (!GapInput::isGapAddress(address) || !GapInput::isGapAddress(host) || user.isEmpty()
            || !fillLatin1(gap->HostIP, kHostIPSize, address)
            || !fillLatin1(gap->LoginUserName, kUserNameSize, user)
            || !fillLatin1(password, sizeof password, group.text(kGapPassword, i)))
            return Verdict::refuse(kGapInvalid);
        copyToField(gap->LoginPswd, kUserNameSize, BaseFunction::deCrypPasswd(password));
        gap->hostIPStr = host;

        QMutexLocker lock(&g_MainMutex);
        const QList<_VKGAPIP_CONF *> listed = g_GapInfoList.snapshot();
        for (const _VKGAPIP_CONF *other : listed) {
            if (std::strncmp(other->HostIP, gap->HostIP, kHostIPSize) == 0
                && std::strncmp(other->LoginUserName, gap->LoginUserName, kUserNameSize) == 0)
                return Verdict::duplicate();
        }
        // Not logged in here: the heartbeat logs it in.
        g_GapInfoList.append(gap.release());
        return Verdict::added();
    }

    void importSendRules()
    {
        const GroupReader group(m_settings, kSendGroup, kSendCount);
        for (int i = 0; i < group.count(); ++i) {
            auto rule = std::make_unique<_SENDPATH_LISTDATA>();
            rule->SendPath = group.text(kSendPath, i);
            const QString pathID = group.text(kSendPathID, i);
            const bool fits
                = allOf({ !pathID.isEmpty(), fillUtf8(rule->SendPathID, kPathIDSize, pathID),
                    fillLatin1(rule->GapIP, kHostIPSize, group.text(kSendGapIP, i)),
                    fillLatin1(rule->ToUser, kUserNameSize, group.text(kSendToUser, i)),
                    fillLatin1(rule->FromUser, kUserNameSize, group.text(kSendFromUser, i)) });
            rule->RecviverLevel = group.number(kSendLevel, i);
            rule->sendState = kNewRuleSendState;
            const QString entry = describeRule("发送目录", rule->SendPath, rule->GapIP, pathID);
            const QString dir = rule->SendPath;
            const Verdict verdict = admitRule(g_SendPathList, std::move(rule), fits, kSendRefusals);
            // Kept: a mount that is not up yet, a disk not plugged in. The rule starts once its
            // directory is there.
            if (verdict.outcome == Verdict::Added && !isDirectory(dir)) {
                m_waiting << entry;
                qWarning().noquote() << "send directory not there yet:" << dir;
            }
            note(verdict, entry);
        }
    }

    void importRecvRules()
    {
        const GroupReader group(m_settings, kRecvGroup, kRecvCount);
        for (int i = 0; i < group.count(); ++i) {
            auto rule = std::make_unique<_RECVPATH_LISTDATA>();
            rule->RecvPath = group.text(kRecvPath, i);
            const QString pathID = group.text(kRecvPathID, i);
            const bool fits
                = allOf({ !pathID.isEmpty(), fillUtf8(rule->RecvPathID, kPathIDSize, pathID),
                    fillLatin1(rule->GapIP, kHostIPSize, group.text(kRecvGapIP, i)),
                    fillUtf8(rule->FromUser, kUserNameSize, group.text(kRecvFromUser, i)) });
            const QString dir = rule->RecvPath;
            const QString entry = describeRule("接收目录", dir, rule->GapIP, pathID);
            const Verdict verdict = admitRule(g_RecvPathList, std::move(rule), fits, kRecvRefusals);
            // The directory may hold part files of a run that ended mid-file.
            if (verdict.outcome == Verdict::Added)
                RecvPartFiles::sweep(dir);
            note(verdict, entry);
        }
    }

    // Lists a rule unless its gap is not listed, a field did not fit, a rule of the same gap and
    // key is listed already (skipped), or its directory fails the checks of the rule dialogs. A
    // send directory that is not there yet is kept; a receive directory must be there, but for
    // the remembered rules.
    template <typename Rule>
    Verdict admitRule(
        Registry<Rule> &registry, std::unique_ptr<Rule> rule, bool fits, const Refusals &refusals)
    {
        QMutexLocker lock(&g_MainMutex);
        _VKGAPIP_CONF *gap = BaseFunction::findVkgapinfo(latin1Text(rule->GapIP, kHostIPSize));
        if (!gap)
            return Verdict::refuse(refusals.noGap);
        if (!fits)
            return Verdict::refuse(refusals.invalid);
        const QList<Rule *> listed = registry.snapshot();
        for (const Rule *other : listed) {
            if (std::strncmp(other->GapIP, rule->GapIP, kHostIPSize) == 0
                && std::strncmp(ruleKey(*other), ruleKey(*rule), kPathIDSize) == 0)
                return Verdict::duplicate();
        }
        // A receive rule whose directory is not there yet is kept among the remembered rules:
        // without it, the receiving client would answer that it takes nothing on that path, and
        // the sender would delete its file.
        const RuleDirectories::Kind kind = kindOf(*rule);
        if (kind == RuleDirectories::Recv && !isDirectory(localPath(*rule))
            && m_kind != ConfigurationFile::Remembered)
            return Verdict::refuse(refusals.noDirectory);
        // A rules file of an older version may hold a send rule inside another one: the scanner
        // gives each file to the innermost, and the remembered rules are kept as they are.
        const QString conflict = RuleDirectories::conflict(kind, localPath(*rule),
            RuleDirectories::ofRegistries(), m_kind != ConfigurationFile::Remembered);
        if (!conflict.isEmpty())
            return Verdict::refuse(conflict);
        attachGap(*rule, gap);
        registry.append(rule.release());
        return Verdict::added();
    }

    QSettings &m_settings;
    ConfigurationFile::Import m_kind;
    int m_added = 0;
    QStringList m_waiting; // send rules kept whose directory is not there yet
    QStringList m_skipped; // already listed
    QStringList m_refused; // each with its reason
};

} // namespace

bool ConfigurationFile::saveConf(const QString &fileName)
{
    return saveConf(
        fileName, g_GapInfoList.snapshot(), g_SendPathList.snapshot(), g_RecvPathList.snapshot());
}

bool ConfigurationFile::saveConf(const QString &fileName, const QList<_VKGAPIP_CONF *> &gaps,
    const QList<_SENDPATH_LISTDATA *> &sendRules, const QList<_RECVPATH_LISTDATA *> &recvRules)
{
    const bool written = AtomicIniFile::write(fileName, [&](QSettings &settings) {
        writeGaps(settings, gaps);
        writeSendRules(settings, sendRules);
        writeRecvRules(settings, recvRules);
    });
    if (!written)
        qWarning().noquote() << "cannot write the configuration" << fileName;
    return written;
}

bool ConfigurationFile::canRestore(const QString &fileName)
{
    const QFileInfo info(fileName);
    if (!info.isFile() || !info.isReadable())
        return false;
    QSettings settings(fileName, QSettings::IniFormat);
    return settings.status() == QSettings::NoError && isComplete(settings);
}

bool ConfigurationFile::reStoreConf(const QString &fileName, Import kind)
{
    if (fileName.isEmpty())
        return false;
    const QFileInfo info(fileName);
    if (!info.isFile() || !info.isReadable()) {
        qWarning().noquote() << "cannot read the configuration" << fileName;
        Prompt::error(QString::fromUtf8(kUnreadable));
        return false;
    }
    QSettings settings(fileName, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError || !isComplete(settings)) {
        qWarning().noquote() << "damaged configuration" << fileName;
        Prompt::error(QString::fromUtf8(
            settings.status() == QSettings::AccessError ? kUnreadable : kDamaged));
        return false;
    }
    return Importer(settings, kind).run(fileName);
}
