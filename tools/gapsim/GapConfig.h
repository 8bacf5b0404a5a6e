#pragma once

#include "FaultRule.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <QVector>

enum class AccountState { Normal, FirstLogin, Expired };

struct GapUser {
    QByteArray name; // Latin-1, as the client sends it
    QByteArray password;
    qint32 level = 0;
    AccountState state = AccountState::Normal;
    QHostAddress address; // null: the address of the user's last login
    quint16 filePort = 5188;
    quint16 confPort = 5189;
};

struct GapPath {
    QByteArray key; // UTF-8
    QByteArray fromUser;
    QByteArray toUser;
    qint32 toLevel = 0; // the receiving user's level, sent with the send entry
};

enum class VerdictTiming { DuringData, AtFileEnd };

struct GapPolicy {
    QStringList refusedSuffixes; // compared without regard to case
    qint64 maxSize = 0; // 0: no limit
    QVector<QByteArray> keywords; // UTF-8, case-sensitive
    QByteArray virusSignature; // empty: no virus scan
    VerdictTiming verdictTiming = VerdictTiming::DuringData;
    bool keyFlag = false;
    int keyLength = 0;
    QString keyFileName = QStringLiteral("gapkey"); // the same default with or without [policy]
};

// The whole simulated gap, as read from one INI file (README.md documents every key).
struct GapConfig {
    QHostAddress listenAddress = QHostAddress::Any;
    quint16 port = 5188;
    QString logFile;
    int timeoutMs = 30000;
    int connectTimeoutMs = 5000;
    int confirmTimeoutMs = 180000;
    QVector<GapUser> users;
    QVector<GapPath> paths;
    GapPolicy policy;
    QVector<FaultRule> faults;

    const GapUser *findUser(const QByteArray &name) const;
    const GapPath *findPath(const QByteArray &key) const;

    // False with a message naming the section and key on any unknown section or key, or any
    // value out of range.
    static bool load(const QString &fileName, GapConfig *config, QString *error);
};
