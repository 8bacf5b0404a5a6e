#pragma once

// Control packets of the gap connection: login, rules request and configuration data, keys and
// logout. One request and one answer per TCP connection to the gap's control port.

#include "protocol/PacketCommon.h"

#include <QByteArray>
#include <QString>
#include <QVector>

enum ControlPacketType : quint64 {
    kTypeRulesRequest = 7,
    kTypeConfData = 8,
    kTypeLoginRequest = 20,
    kTypeLoginResponse = 21,
    kTypeLogoutRequest = 22,
    kTypeLogoutResponse = 23,
    kTypeKeyRequest = 34,
    kTypeKeyInfo = 35,
};

enum LoginResponseCode : qint32 {
    kLoginAccepted = 101,
    kLoginUnknownUser = 102,
    kLoginWrongPassword = 103,
    kLoginFirstLogin = 105,
    kLoginExpired = 106,
};

constexpr int kConfEntriesPerPacket = 22;

#pragma pack(push, 1)

struct _PACKET_LOGIN {           // type 20
    quint64_le type;
    char userName[20];           // scrambled with the password codec
    char password[20];           // scrambled with the password codec
    char hostIP[46];             // plain
    char reserved[1366];
};

struct _PACKET_LOGIN_RESPONSE {  // type 21; only the first 16 bytes mean anything
    quint64_le type;
    qint32_le response;
    qint32_le rightLevel;
    char reserved[1444];
};

struct _PACKET_USER_REQUEST {    // type 7 (rules), 22 (logout), 34 (keys)
    quint64_le type;
    char userName[20];           // plain
    char reserved[1432];
};

struct _CONF_ENTRY {
    char userName[20];
    char pathID[40];
    qint32_le level;             // send entries only
};

struct _PACKET_CONF_DATA {       // type 8
    quint64_le type;
    quint64_le scount;
    quint64_le dcount;
    char reserved1[8];
    _CONF_ENTRY entries[kConfEntriesPerPacket];
    char reserved2[20];
};

struct key_info {                // type 35, followed by `length` bytes of key data
    quint64_le type;
    quint64_le length;
    quint64_le flag;
    char name[1436];
};

#pragma pack(pop)

static_assert(sizeof(_PACKET_LOGIN) == kPacketSize, "login request size");
PACKET_LAYOUT(_PACKET_LOGIN, userName, 8);
PACKET_LAYOUT(_PACKET_LOGIN, password, 28);
PACKET_LAYOUT(_PACKET_LOGIN, hostIP, 48);
PACKET_LAYOUT(_PACKET_LOGIN, reserved, 94);

static_assert(sizeof(_PACKET_LOGIN_RESPONSE) == kPacketSize, "login response size");
PACKET_LAYOUT(_PACKET_LOGIN_RESPONSE, response, 8);
PACKET_LAYOUT(_PACKET_LOGIN_RESPONSE, rightLevel, 12);

static_assert(sizeof(_PACKET_USER_REQUEST) == kPacketSize, "user request size");
PACKET_LAYOUT(_PACKET_USER_REQUEST, userName, 8);
PACKET_LAYOUT(_PACKET_USER_REQUEST, reserved, 28);

static_assert(sizeof(_CONF_ENTRY) == 64, "configuration entry size");
PACKET_LAYOUT(_CONF_ENTRY, pathID, 20);
PACKET_LAYOUT(_CONF_ENTRY, level, 60);

static_assert(sizeof(_PACKET_CONF_DATA) == kPacketSize, "configuration data size");
PACKET_LAYOUT(_PACKET_CONF_DATA, scount, 8);
PACKET_LAYOUT(_PACKET_CONF_DATA, dcount, 16);
PACKET_LAYOUT(_PACKET_CONF_DATA, entries, 32);
PACKET_LAYOUT(_PACKET_CONF_DATA, reserved2, 1440);

static_assert(sizeof(key_info) == kPacketSize, "key information size");
PACKET_LAYOUT(key_info, length, 8);
PACKET_LAYOUT(key_info, flag, 16);
PACKET_LAYOUT(key_info, name, 24);

// Building and reading control packets. Every packet is built zero-filled; texts are copied up to
// their terminator and cut to their field with a terminator kept.

struct ConfSendEntry {
    QByteArray user;     // the receiving user
    QByteArray pathID;
    qint32 level = 0;    // the receiving user's security level
};

struct ConfRecvEntry {
    QByteArray user;     // the sending user
    QByteArray pathID;
};

// Login request: user name and password scrambled with the password codec, the address plain.
_PACKET_LOGIN buildLoginRequest(const QByteArray &userName, const QByteArray &password,
                                const QByteArray &hostIP);
// Rules, key and logout requests carry the plain user name.
_PACKET_USER_REQUEST buildUserRequest(quint64 type, const QByteArray &userName);
_PACKET_LOGIN_RESPONSE buildLoginResponse(qint32 code, qint32 rightLevel);
// Send entries first, then receive entries, kConfEntriesPerPacket in all: entries beyond that are
// not carried, and the counts say what the packet holds.
_PACKET_CONF_DATA buildConfData(const QVector<ConfSendEntry> &sends,
                                const QVector<ConfRecvEntry> &recvs);
key_info buildKeyInfo(quint64 length, bool flag, const QByteArray &name);

// The entries a configuration-data packet carries, read as a receiver does: at most
// kConfEntriesPerPacket in all, the receive entries right behind all send entries.
QVector<ConfSendEntry> readConfSendEntries(const _PACKET_CONF_DATA &pkt);
QVector<ConfRecvEntry> readConfRecvEntries(const _PACKET_CONF_DATA &pkt);

// The key data length as the client counts it: the low 32 bits, signed.
qint32 keyDataLength(const key_info &info);
// The key file name (UTF-8); false when the field holds no terminator.
bool readKeyFileName(const key_info &info, QString *name);
