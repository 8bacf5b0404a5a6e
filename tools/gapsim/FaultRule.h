#pragma once

#include <QMap>
#include <QString>

// One fault to inject, from a [fault.NAME] section of the configuration or a --fault option.
// The text form is "kind,key=value,key=value" (the section form has the same keys).
//
//   cut           bytes=N [answer=NAME] [file=GLOB] [count=N]
//                 without answer: a relay is cut (both connections aborted) once N bytes of the
//                 sender's stream have arrived; with answer=login|rules|keys|logout: only the
//                 first N bytes of that control answer are written, then the connection closes.
//   delay         answer=NAME ms=N [file=GLOB] [count=N]
//                 the named answer is held back N ms. Names: login rules keys logout type-check
//                 descriptor-response verdict confirmation.
//   flip          [offset=N] [file=GLOB] [count=N]
//                 the content byte at offset N (default 0) is inverted on its way to the receiver.
//   offline       [answer=type-check|descriptor-response] [file=GLOB] [count=N]
//                 the gap answers 404 in that phase without contacting the receiving client.
//   refuse-login  [after=EXCHANGE[:N]] [for_ms=N]
//                 the gap stops listening for the period: every new connection is refused.
//   ignore-login  [after=EXCHANGE[:N]] [for_ms=N]
//                 login requests get no answer for the period.
//
// file matches the transferred file's name (wildcards * ? [..]); count limits how many transfers
// or answers the fault hits (0: all). A period starts when the N-th exchange of the named kind
// (login, rules, keys, logout) has been answered, or at start without after; for_ms 0 lasts until
// the simulator stops.
struct FaultRule {
    enum class Kind { Cut, Delay, Flip, Offline, RefuseLogin, IgnoreLogin };

    QString name;
    Kind kind = Kind::Cut;
    QString fileGlob;
    QString answer;
    qint64 bytes = 0;
    qint64 offset = 0;
    int delayMs = 0;
    int count = 0;
    QString afterExchange;
    int afterCount = 1;
    int forMs = 0;

    // Parses one fault from its kind and its keys; false with a message on any unknown kind or
    // key, or a value out of range.
    static bool parse(
        const QString &name, const QMap<QString, QString> &values, FaultRule *rule, QString *error);
    static bool parseOption(
        const QString &name, const QString &text, FaultRule *rule, QString *error);

    // Whether this fault acts on file transfers, or on the named control answer.
    bool hitsTransfer() const;
    bool hitsControlAnswer(const QString &controlAnswer) const;

    static QString kindName(Kind kind);
};
