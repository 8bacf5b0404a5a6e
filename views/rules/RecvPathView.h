#pragma once

#include "views/rules/RuleListView.h"

// The page of the receive rules: each rule's directory, gap, path key, state and sending user.
// A rule with a transfer running cannot be deleted.
class RecvPathView : public RuleListView
{
    Q_OBJECT

public:
    explicit RecvPathView(QWidget *parent = nullptr);

public slots:
    void setRecvPathTableItem(int row, QString text);

protected:
    int ruleCount() const override;
    QList<QStringList> ruleCells() const override;
    bool isBusy(int row) const override;
    void removeRule(int row) override;
    RuleDialog *createDialog() override;
};
