#pragma once

#include "views/rules/RuleDialog.h"

// Builds a send rule from the send paths a gap offers: gap, path key, receiving user and the
// local directory whose files are sent.
class SendPathDialog : public RuleDialog
{
    Q_OBJECT

public:
    explicit SendPathDialog(QWidget *parent = nullptr);

signals:
    void addSendPath();

public slots:
    void sendPathDisplayList();

protected:
    int offerCount(const _VKGAPIP_CONF &gap) const override;
    QList<Offer> offers(const _VKGAPIP_CONF &gap, int count) const override;
    bool pathInUse() const override;
    RuleDirectories::Kind kind() const override { return RuleDirectories::Send; }
    bool storeRule() override;
};
