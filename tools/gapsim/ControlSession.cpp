#include "ControlSession.h"

#include "SocketUtil.h"
#include "model/BaseFunction.h"
#include "protocol/ControlPackets.h"
#include "protocol/TransferPackets.h"

#include <QTcpSocket>
#include <QTimer>

namespace {

// The user name or password as the client puts it on the wire: scrambled by the password codec.
QByteArray scrambled(const QByteArray &text)
{
    char field[BaseFunction::kCodecBufferSize] = {};
    putField(field, sizeof field, text);
    BaseFunction::crypPasswd(field);
    return fieldBytes(field, sizeof field);
}

// For the event line only: what a scrambled field says in clear.
QString unscrambledText(const char *wireField)
{
    char field[BaseFunction::kCodecBufferSize] = {};
    std::memcpy(field, wireField, sizeof field - 1);
    BaseFunction::deCrypPasswd(field);
    return QString::fromLatin1(fieldBytes(field, sizeof field));
}

// Deterministic key data, so that a test can tell a complete stream from a shifted one.
QByteArray keyData(int length)
{
    QByteArray data(length, Qt::Uninitialized);
    for (int i = 0; i < length; ++i)
        data[i] = char((i * 131 + 17) & 0xff);
    return data;
}

} // namespace

ControlSession::ControlSession(
    QTcpSocket *socket, const QByteArray &request, GapContext &context, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
    , m_request(request)
    , m_context(context)
{
    m_socket->setParent(this);
}

void ControlSession::start()
{
    switch (packetType(m_request.constData())) {
    case kTypeLoginRequest:
        answerLogin();
        break;
    case kTypeRulesRequest:
        answerRules();
        break;
    case kTypeKeyRequest:
        answerKeys();
        break;
    case kTypeLogoutRequest:
        answerLogout();
        break;
    default:
        finish();
    }
}

QString ControlSession::peerText() const
{
    return SocketUtil::plainAddress(m_socket->peerAddress()).toString();
}

void ControlSession::answerLogin()
{
    const auto request = packetFrom<_PACKET_LOGIN>(m_request);
    const QByteArray wireName = fieldBytes(request.userName, sizeof request.userName);
    const QByteArray wirePassword = fieldBytes(request.password, sizeof request.password);
    const GapUser *user = nullptr;
    for (const GapUser &candidate : m_context.config.users) {
        if (!wireName.isEmpty() && scrambled(candidate.name) == wireName)
            user = &candidate;
    }
    const QString userText
        = user ? QString::fromLatin1(user->name) : unscrambledText(request.userName);
    if (m_context.faults.ignoresLogins()) {
        ignoreLogin(userText);
        return;
    }
    qint32 code = kLoginAccepted;
    if (!user)
        code = kLoginUnknownUser;
    else if (scrambled(user->password) != wirePassword)
        code = kLoginWrongPassword;
    else if (user->state == AccountState::FirstLogin)
        code = kLoginFirstLogin;
    else if (user->state == AccountState::Expired)
        code = kLoginExpired;
    const qint32 level = code == kLoginAccepted ? user->level : 0;
    if (code == kLoginAccepted)
        m_context.lastAddress.insert(user->name, SocketUtil::plainAddress(m_socket->peerAddress()));
    m_context.log.write("login",
        { { "user", userText }, { "from", peerText() }, { "result", QString::number(code) },
            { "level", QString::number(level) } });
    sendAnswer(QStringLiteral("login"), packetBytes(buildLoginResponse(code, level)));
}

void ControlSession::ignoreLogin(const QString &userText)
{
    m_context.log.write("fault",
        { { "kind", QStringLiteral("ignore-login") }, { "user", userText },
            { "from", peerText() } });
    // No answer: the connection stays open until the client gives up or the time-out ends it.
    connect(m_socket, &QAbstractSocket::disconnected, this, &ControlSession::finish);
    QTimer::singleShot(m_context.config.timeoutMs, this, &ControlSession::finish);
}

void ControlSession::answerRules()
{
    const auto request = packetFrom<_PACKET_USER_REQUEST>(m_request);
    const QByteArray name = fieldBytes(request.userName, sizeof request.userName);
    QVector<ConfSendEntry> sends;
    QVector<ConfRecvEntry> recvs;
    for (const GapPath &path : m_context.config.paths) {
        if (path.fromUser == name)
            sends << ConfSendEntry { path.toUser, path.key, path.toLevel };
        if (path.toUser == name)
            recvs << ConfRecvEntry { path.fromUser, path.key };
    }
    if (m_context.config.findUser(name))
        m_context.lastAddress.insert(name, SocketUtil::plainAddress(m_socket->peerAddress()));
    const _PACKET_CONF_DATA answer = buildConfData(sends, recvs);
    const int dropped = sends.size() + recvs.size() - int(answer.scount + answer.dcount);
    m_context.log.write("rules",
        { { "user", QString::fromLatin1(name) }, { "from", peerText() },
            { "send", QString::number(quint64(answer.scount)) },
            { "recv", QString::number(quint64(answer.dcount)) },
            { "dropped", QString::number(dropped) } });
    sendAnswer(QStringLiteral("rules"), packetBytes(answer));
}

void ControlSession::answerKeys()
{
    const auto request = packetFrom<_PACKET_USER_REQUEST>(m_request);
    const GapPolicy &policy = m_context.config.policy;
    m_context.log.write("keys",
        { { "user", QString::fromLatin1(fieldBytes(request.userName, sizeof request.userName)) },
            { "length", QString::number(policy.keyLength) },
            { "flag", QString::number(policy.keyFlag ? 1 : 0) } });
    // Packet and key data leave in one write: the client drains only what has already arrived.
    sendAnswer(QStringLiteral("keys"),
        packetBytes(
            buildKeyInfo(quint64(policy.keyLength), policy.keyFlag, policy.keyFileName.toUtf8()))
            + keyData(policy.keyLength));
}

void ControlSession::answerLogout()
{
    const auto request = packetFrom<_PACKET_USER_REQUEST>(m_request);
    m_context.log.write("logout",
        { { "user", QString::fromLatin1(fieldBytes(request.userName, sizeof request.userName)) },
            { "from", peerText() } });
    sendAnswer(QStringLiteral("logout"), packetBytes(buildReply(kTypeLogoutResponse)));
}

void ControlSession::sendAnswer(const QString &exchange, QByteArray answer)
{
    const ControlFaults faults = m_context.faults.takeForAnswer(exchange);
    if (faults.delayMs <= 0) {
        writeAnswer(exchange, answer, faults.cutAfterBytes);
        return;
    }
    m_context.log.write("fault",
        { { "kind", QStringLiteral("delay") }, { "answer", exchange },
            { "ms", QString::number(faults.delayMs) } });
    connect(m_socket, &QAbstractSocket::disconnected, this, &ControlSession::finish);
    QTimer::singleShot(faults.delayMs, this,
        [this, exchange, answer, faults] { writeAnswer(exchange, answer, faults.cutAfterBytes); });
}

void ControlSession::writeAnswer(const QString &exchange, QByteArray answer, qint64 cutAfterBytes)
{
    if (m_finished)
        return;
    if (cutAfterBytes >= 0 && cutAfterBytes < answer.size()) {
        m_context.log.write("fault",
            { { "kind", QStringLiteral("cut") }, { "answer", exchange },
                { "bytes", QString::number(cutAfterBytes) } });
        answer.truncate(int(cutAfterBytes));
    }
    m_socket->write(answer);
    emit answered(exchange);
    finish();
}

void ControlSession::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    SocketUtil::closeWhenFlushed(m_socket, this, m_context.config.timeoutMs);
    deleteLater();
}
