#pragma once

#include "views/rules/RuleDialog.h"

// Builds a receive rule from the receive paths a gap offers: gap, path key, sending user and the
// local directory that arriving files are written into.
class RecvPathDialog : public RuleDialog
{
    Q_OBJECT

public:
    explicit RecvPathDialog(QWidget *parent = nullptr);

signals:
    void addRecvPath();

public slots:
    void recvPathDisplayList();

protected:
    int offerCount(const _VKGAPIP_CONF &gap) const override;
    QList<Offer> offers(const _VKGAPIP_CONF &gap, int count) const override;
    bool pathInUse() const override;
    RuleDirectories::Kind kind() const override { return RuleDirectories::Recv; }
    bool storeRule() override;
};
