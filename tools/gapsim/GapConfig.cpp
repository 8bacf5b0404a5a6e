#include "GapConfig.h"

#include "model/BaseFunction.h"
#include "protocol/ControlPackets.h"

#include <QFileInfo>
#include <QSettings>

namespace {

constexpr int kMaxNameBytes = 19; // user names and passwords fill 20 bytes with the NUL
constexpr int kMaxPathKeyBytes = 39; // path keys fill 40 bytes with the NUL
constexpr int kMaxKeyLength = 1 << 20; // key data is drained from what the client has buffered
constexpr int kMaxKeyFileNameBytes = int(sizeof(key_info::name)) - 1;

// Reads the keys of one section and remembers the first error. A key the section does not know is
// reported first: a misspelt key must not pass silently as a default.
class SectionReader
{
public:
    SectionReader(
        QSettings &settings, const QString &section, const QStringList &keys, QString *error)
        : m_settings(settings)
        , m_section(section)
        , m_error(error)
    {
        m_settings.beginGroup(section);
        for (const QString &key : m_settings.childKeys()) {
            if (!keys.contains(key))
                fail(key, QStringLiteral("unknown key"));
        }
    }
    ~SectionReader() { m_settings.endGroup(); }

    bool has(const QString &key) const { return m_settings.contains(key); }

    QString text(const QString &key, const QString &fallback = QString())
    {
        const QVariant value = m_settings.value(key);
        if (!value.isValid())
            return fallback;
        // An unquoted value with commas reads as a list; a single text is meant here.
        return value.toStringList().join(QLatin1Char(',')).trimmed();
    }

    QStringList list(const QString &key)
    {
        QStringList items;
        const QStringList raw = m_settings.value(key).toStringList();
        for (const QString &item : raw) {
            const QString trimmed = item.trimmed();
            if (!trimmed.isEmpty())
                items << trimmed;
        }
        return items;
    }

    qint64 number(const QString &key, qint64 fallback, qint64 min, qint64 max)
    {
        const QString value = text(key);
        if (value.isEmpty())
            return fallback;
        bool ok = false;
        const qint64 n = value.toLongLong(&ok);
        if (!ok || n < min || n > max)
            fail(key,
                QStringLiteral("'%1' is not a number from %2 to %3").arg(value).arg(min).arg(max));
        return ok ? n : fallback;
    }

    bool flag(const QString &key)
    {
        const QString value = text(key).toLower();
        if (value.isEmpty() || value == QLatin1String("false") || value == QLatin1String("0"))
            return false;
        if (value != QLatin1String("true") && value != QLatin1String("1"))
            fail(key, QStringLiteral("'%1' is not true or false").arg(value));
        return true;
    }

    QHostAddress address(const QString &key)
    {
        const QString value = text(key);
        QHostAddress address;
        if (!value.isEmpty() && !address.setAddress(value))
            fail(key, QStringLiteral("'%1' is not an IPv4 or IPv6 address").arg(value));
        return address;
    }

    QByteArray latin1Name(const QString &key, const QString &value, int maxBytes)
    {
        const QByteArray bytes = value.toLatin1();
        if (bytes.isEmpty() || bytes.size() > maxBytes || bytes.contains('\0')
            || QString::fromLatin1(bytes) != value)
            fail(key,
                QStringLiteral("'%1' must be 1 to %2 Latin-1 characters").arg(value).arg(maxBytes));
        return bytes;
    }

    // A user name or password the client scrambles before sending: one whose scrambled form
    // would hold a NUL cannot be carried, so no client could ever log in with it.
    QByteArray scrambledName(const QString &key, const QString &value)
    {
        const QByteArray bytes = latin1Name(key, value, kMaxNameBytes);
        char field[BaseFunction::kCodecBufferSize] = {};
        std::memcpy(field, bytes.constData(), size_t(qMin(bytes.size(), kMaxNameBytes)));
        if (ok() && *BaseFunction::crypPasswd(field) == '\0')
            fail(key, QStringLiteral("'%1' cannot be scrambled for the wire").arg(value));
        return bytes;
    }

    void fail(const QString &key, const QString &message)
    {
        if (m_error->isEmpty())
            *m_error = QStringLiteral("[%1] %2: %3").arg(m_section, key, message);
    }

    bool ok() const { return m_error->isEmpty(); }

private:
    QSettings &m_settings;
    QString m_section;
    QString *m_error;
};

const QString kUserPrefix = QStringLiteral("user.");
const QString kPathPrefix = QStringLiteral("path.");

// Qt reads the bytes of a section name as Latin-1 whatever the file's codec, so a name typed in
// UTF-8 arrives as one character per byte; only an escaped name (%U...) has wider characters.
QByteArray sectionNameBytes(const QString &name)
{
    for (const QChar c : name) {
        if (c.unicode() > 0xff)
            return name.toUtf8();
    }
    return name.toLatin1();
}
const QString kFaultPrefix = QStringLiteral("fault.");

void readGap(QSettings &settings, GapConfig *config, QString *error)
{
    SectionReader r(settings, QStringLiteral("gap"),
        { "listen", "port", "log", "timeout_ms", "connect_timeout_ms", "confirm_timeout_ms" },
        error);
    const QString listen = r.text(QStringLiteral("listen"));
    if (!listen.isEmpty() && listen != QLatin1String("any"))
        config->listenAddress = r.address(QStringLiteral("listen"));
    config->port = quint16(r.number(QStringLiteral("port"), config->port, 0, 65535));
    config->logFile = r.text(QStringLiteral("log"));
    config->timeoutMs
        = int(r.number(QStringLiteral("timeout_ms"), config->timeoutMs, 100, INT_MAX));
    config->connectTimeoutMs = int(
        r.number(QStringLiteral("connect_timeout_ms"), config->connectTimeoutMs, 100, INT_MAX));
    config->confirmTimeoutMs = int(
        r.number(QStringLiteral("confirm_timeout_ms"), config->confirmTimeoutMs, 100, INT_MAX));
}

void readUser(QSettings &settings, const QString &section, GapConfig *config, QString *error)
{
    SectionReader r(settings, section,
        { "password", "level", "state", "address", "file_port", "conf_port" }, error);
    GapUser user;
    user.name = r.scrambledName(QStringLiteral("name"), section.mid(kUserPrefix.size()));
    user.password = r.scrambledName(QStringLiteral("password"), r.text(QStringLiteral("password")));
    user.level = qint32(r.number(QStringLiteral("level"), 0, INT_MIN, INT_MAX));
    const QString state = r.text(QStringLiteral("state"), QStringLiteral("normal"));
    if (state == QLatin1String("first-login"))
        user.state = AccountState::FirstLogin;
    else if (state == QLatin1String("expired"))
        user.state = AccountState::Expired;
    else if (state != QLatin1String("normal"))
        r.fail(QStringLiteral("state"),
            QStringLiteral("'%1' is not normal, first-login or expired").arg(state));
    user.address = r.address(QStringLiteral("address"));
    user.filePort = quint16(r.number(QStringLiteral("file_port"), user.filePort, 1, 65535));
    user.confPort = quint16(r.number(QStringLiteral("conf_port"), user.confPort, 1, 65535));
    if (r.ok())
        config->users << user;
}

void readPath(QSettings &settings, const QString &section, GapConfig *config, QString *error)
{
    SectionReader r(settings, section, { "from", "to", "level" }, error);
    GapPath path;
    path.key = sectionNameBytes(section.mid(kPathPrefix.size()));
    if (path.key.isEmpty() || path.key.size() > kMaxPathKeyBytes)
        r.fail(QStringLiteral("key"),
            QStringLiteral("a path key has 1 to %1 bytes").arg(kMaxPathKeyBytes));
    path.fromUser = r.text(QStringLiteral("from")).toLatin1();
    path.toUser = r.text(QStringLiteral("to")).toLatin1();
    const GapUser *from = config->findUser(path.fromUser);
    const GapUser *to = config->findUser(path.toUser);
    if (!from)
        r.fail(QStringLiteral("from"),
            QStringLiteral("'%1' is not a configured user")
                .arg(QString::fromLatin1(path.fromUser)));
    if (!to)
        r.fail(QStringLiteral("to"),
            QStringLiteral("'%1' is not a configured user").arg(QString::fromLatin1(path.toUser)));
    path.toLevel = qint32(r.number(QStringLiteral("level"), to ? to->level : 0, INT_MIN, INT_MAX));
    if (config->findPath(path.key))
        r.fail(QStringLiteral("key"), QStringLiteral("path defined twice"));
    if (r.ok())
        config->paths << path;
}

void readPolicy(QSettings &settings, GapPolicy *policy, QString *error)
{
    SectionReader r(settings, QStringLiteral("policy"),
        { "refused_suffixes", "max_size", "keywords", "virus_signature", "verdict_at", "key_flag",
            "key_length", "key_file" },
        error);
    for (const QString &suffix : r.list(QStringLiteral("refused_suffixes")))
        policy->refusedSuffixes << (suffix.startsWith(QLatin1Char('.')) ? suffix.mid(1) : suffix);
    policy->maxSize = r.number(QStringLiteral("max_size"), 0, 0, LLONG_MAX);
    for (const QString &keyword : r.list(QStringLiteral("keywords")))
        policy->keywords << keyword.toUtf8();
    policy->virusSignature = r.text(QStringLiteral("virus_signature")).toUtf8();
    const QString timing = r.text(QStringLiteral("verdict_at"), QStringLiteral("data"));
    if (timing == QLatin1String("end"))
        policy->verdictTiming = VerdictTiming::AtFileEnd;
    else if (timing != QLatin1String("data"))
        r.fail(QStringLiteral("verdict_at"), QStringLiteral("'%1' is not data or end").arg(timing));
    policy->keyFlag = r.flag(QStringLiteral("key_flag"));
    policy->keyLength = int(r.number(QStringLiteral("key_length"), 0, 0, kMaxKeyLength));
    policy->keyFileName = r.text(QStringLiteral("key_file"), policy->keyFileName);
    if (policy->keyFileName.toUtf8().size() > kMaxKeyFileNameBytes)
        r.fail(QStringLiteral("key_file"),
            QStringLiteral("longer than %1 bytes").arg(kMaxKeyFileNameBytes));
}

void readFault(QSettings &settings, const QString &section, GapConfig *config, QString *error)
{
    settings.beginGroup(section);
    QMap<QString, QString> values;
    for (const QString &key : settings.childKeys())
        values.insert(key, settings.value(key).toStringList().join(QLatin1Char(',')));
    settings.endGroup();
    FaultRule rule;
    if (FaultRule::parse(section.mid(kFaultPrefix.size()), values, &rule, error))
        config->faults << rule;
}

} // namespace

const GapUser *GapConfig::findUser(const QByteArray &name) const
{
    for (const GapUser &user : users) {
        if (user.name == name)
            return &user;
    }
    return nullptr;
}

const GapPath *GapConfig::findPath(const QByteArray &key) const
{
    for (const GapPath &path : paths) {
        if (path.key == key)
            return &path;
    }
    return nullptr;
}

bool GapConfig::load(const QString &fileName, GapConfig *config, QString *error)
{
    if (!QFileInfo(fileName).isReadable()) {
        *error = QStringLiteral("cannot read configuration file %1").arg(fileName);
        return false;
    }
    QSettings settings(fileName, QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    if (settings.status() != QSettings::NoError) {
        *error = QStringLiteral("%1 is not a valid INI file").arg(fileName);
        return false;
    }
    *config = GapConfig();
    error->clear();
    if (!settings.childKeys().isEmpty())
        *error
            = QStringLiteral("key '%1' lies outside any section").arg(settings.childKeys().first());
    const QStringList sections = settings.childGroups();
    // Users first: paths name them.
    for (const QString &section : sections) {
        if (section.startsWith(kUserPrefix))
            readUser(settings, section, config, error);
    }
    for (const QString &section : sections) {
        if (!error->isEmpty())
            break;
        if (section == QLatin1String("gap"))
            readGap(settings, config, error);
        else if (section == QLatin1String("policy"))
            readPolicy(settings, &config->policy, error);
        else if (section.startsWith(kPathPrefix))
            readPath(settings, section, config, error);
        else if (section.startsWith(kFaultPrefix))
            readFault(settings, section, config, error);
        else if (!section.startsWith(kUserPrefix))
            *error = QStringLiteral("unknown section [%1]").arg(section);
    }
    if (error->isEmpty() && config->users.isEmpty())
        *error = QStringLiteral("no [user.NAME] section");
    return error->isEmpty();
}
