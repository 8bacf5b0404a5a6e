#pragma once

#include "GapContext.h"

#include <QByteArray>
#include <QObject>

class QTcpSocket;

// One control exchange: the request has arrived whole; the session answers it, lets the answer
// leave and deletes itself.
class ControlSession : public QObject
{
    Q_OBJECT

public:
    ControlSession(
        QTcpSocket *socket, const QByteArray &request, GapContext &context, QObject *parent);

    void start();

signals:
    // A control exchange of this kind (login, rules, keys, logout) has been answered.
    void answered(const QString &exchange);

private:
    void answerLogin();
    void answerRules();
    void answerKeys();
    void answerLogout();
    void ignoreLogin(const QString &userText);
    void sendAnswer(const QString &exchange, QByteArray answer);
    void writeAnswer(const QString &exchange, QByteArray answer, qint64 cutAfterBytes);
    void finish();
    QString peerText() const;

    QTcpSocket *m_socket;
    QByteArray m_request;
    GapContext &m_context;
    bool m_finished = false;
};
