#include "FaultRule.h"

#include <QStringList>

namespace {

const QMap<QString, FaultRule::Kind> &kindsByName()
{
    static const QMap<QString, FaultRule::Kind> kinds {
        { QStringLiteral("cut"), FaultRule::Kind::Cut },
        { QStringLiteral("delay"), FaultRule::Kind::Delay },
        { QStringLiteral("flip"), FaultRule::Kind::Flip },
        { QStringLiteral("offline"), FaultRule::Kind::Offline },
        { QStringLiteral("refuse-login"), FaultRule::Kind::RefuseLogin },
        { QStringLiteral("ignore-login"), FaultRule::Kind::IgnoreLogin },
    };
    return kinds;
}

const QStringList kControlAnswers { QStringLiteral("login"), QStringLiteral("rules"),
    QStringLiteral("keys"), QStringLiteral("logout") };
const QStringList kRelayAnswers { QStringLiteral("type-check"),
    QStringLiteral("descriptor-response"), QStringLiteral("verdict"),
    QStringLiteral("confirmation") };

QStringList allowedKeys(FaultRule::Kind kind)
{
    switch (kind) {
    case FaultRule::Kind::Cut:
        return { "bytes", "answer", "file", "count" };
    case FaultRule::Kind::Delay:
        return { "answer", "ms", "file", "count" };
    case FaultRule::Kind::Flip:
        return { "offset", "file", "count" };
    case FaultRule::Kind::Offline:
        return { "answer", "file", "count" };
    case FaultRule::Kind::RefuseLogin:
    case FaultRule::Kind::IgnoreLogin:
        return { "after", "for_ms" };
    }
    return {};
}

bool toNumber(const QString &text, qint64 min, qint64 max, qint64 *out)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || value < min || value > max)
        return false;
    *out = value;
    return true;
}

bool checkAnswer(FaultRule *rule, QString *error)
{
    const bool control = kControlAnswers.contains(rule->answer);
    const bool relay = kRelayAnswers.contains(rule->answer);
    bool ok = false;
    switch (rule->kind) {
    case FaultRule::Kind::Cut:
        ok = rule->answer.isEmpty() || control;
        break;
    case FaultRule::Kind::Delay:
        ok = control || relay;
        break;
    case FaultRule::Kind::Offline:
        if (rule->answer.isEmpty())
            rule->answer = QStringLiteral("type-check");
        ok = rule->answer == QLatin1String("type-check")
            || rule->answer == QLatin1String("descriptor-response");
        break;
    default:
        ok = true;
    }
    if (!ok)
        *error = QStringLiteral("fault %1: answer '%2' does not apply to %3")
                     .arg(rule->name, rule->answer, FaultRule::kindName(rule->kind));
    return ok;
}

bool parseAfter(const QString &text, FaultRule *rule)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() > 2 || !kControlAnswers.contains(parts.first()))
        return false;
    rule->afterExchange = parts.first();
    qint64 n = 1;
    if (parts.size() == 2 && !toNumber(parts.at(1), 1, INT_MAX, &n))
        return false;
    rule->afterCount = int(n);
    return true;
}

bool applyKey(const QString &key, const QString &value, FaultRule *rule)
{
    qint64 n = 0;
    if (key == QLatin1String("bytes"))
        return toNumber(value, 0, LLONG_MAX, &rule->bytes);
    if (key == QLatin1String("offset"))
        return toNumber(value, 0, LLONG_MAX, &rule->offset);
    if (key == QLatin1String("answer")) {
        rule->answer = value;
        return true;
    }
    if (key == QLatin1String("file")) {
        rule->fileGlob = value;
        return !value.isEmpty();
    }
    if (key == QLatin1String("after"))
        return parseAfter(value, rule);
    const bool ok = toNumber(value, 0, INT_MAX, &n);
    if (key == QLatin1String("ms"))
        rule->delayMs = int(n);
    else if (key == QLatin1String("count"))
        rule->count = int(n);
    else if (key == QLatin1String("for_ms"))
        rule->forMs = int(n);
    return ok;
}

} // namespace

bool FaultRule::parse(
    const QString &name, const QMap<QString, QString> &values, FaultRule *rule, QString *error)
{
    *rule = FaultRule();
    rule->name = name;
    const QString kind = values.value(QStringLiteral("kind"));
    if (!kindsByName().contains(kind)) {
        *error = QStringLiteral("fault %1: unknown kind '%2'").arg(name, kind);
        return false;
    }
    rule->kind = kindsByName().value(kind);
    const QStringList allowed = allowedKeys(rule->kind);
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        if (it.key() == QLatin1String("kind"))
            continue;
        if (!allowed.contains(it.key())) {
            *error = QStringLiteral("fault %1: key '%2' does not apply to %3")
                         .arg(name, it.key(), kind);
            return false;
        }
        if (!applyKey(it.key(), it.value().trimmed(), rule)) {
            *error
                = QStringLiteral("fault %1: bad value '%2' for %3").arg(name, it.value(), it.key());
            return false;
        }
    }
    if (rule->kind == Kind::Delay && !values.contains(QStringLiteral("ms"))) {
        *error = QStringLiteral("fault %1: delay needs ms").arg(name);
        return false;
    }
    if (rule->kind == Kind::Cut && !values.contains(QStringLiteral("bytes"))) {
        *error = QStringLiteral("fault %1: cut needs bytes").arg(name);
        return false;
    }
    return checkAnswer(rule, error);
}

bool FaultRule::parseOption(
    const QString &name, const QString &text, FaultRule *rule, QString *error)
{
    const QStringList parts = text.split(QLatin1Char(','));
    QMap<QString, QString> values { { QStringLiteral("kind"), parts.first().trimmed() } };
    for (int i = 1; i < parts.size(); ++i) {
        const int eq = parts.at(i).indexOf(QLatin1Char('='));
        if (eq <= 0) {
            *error = QStringLiteral("fault %1: '%2' is not key=value").arg(name, parts.at(i));
            return false;
        }
        values.insert(parts.at(i).left(eq).trimmed(), parts.at(i).mid(eq + 1));
    }
    return parse(name, values, rule, error);
}

bool FaultRule::hitsTransfer() const
{
    switch (kind) {
    case Kind::Cut:
        return answer.isEmpty();
    case Kind::Delay:
        return kRelayAnswers.contains(answer);
    case Kind::Flip:
    case Kind::Offline:
        return true;
    default:
        return false;
    }
}

bool FaultRule::hitsControlAnswer(const QString &controlAnswer) const
{
    return (kind == Kind::Cut || kind == Kind::Delay) && answer == controlAnswer
        && kControlAnswers.contains(answer);
}

QString FaultRule::kindName(Kind kind) { return kindsByName().key(kind); }
