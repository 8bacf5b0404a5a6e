#pragma once

#include "views/rules/RuleListView.h"

// The page of the send rules: each rule's directory, gap, path key, state and receiving user.
// A rule the scanner serves can be neither changed nor deleted.
class SendPathView : public RuleListView
{
    Q_OBJECT

public:
    explicit SendPathView(QWidget *parent = nullptr);

public slots:
    void setSendPathTableItem(int row, QString text);

protected:
    int ruleCount() const override;
    QList<QStringList> ruleCells() const override;
    bool isBusy(int row) const override;
    void removeRule(int row) override;
    RuleDialog *createDialog() override;
};
