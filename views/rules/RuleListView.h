#pragma once

#include "model/Prompt.h"
#include "views/rules/RuleDialog.h"

#include <QColor>
#include <QPointer>
#include <QStringList>
#include <QWidget>

class QMenu;
class QPushButton;
class QTableWidget;

// What the send and receive rule pages have in common: the table of rules with their states, the
// add, change and delete actions with their refusals, and the context menu. The rule kind
// decides the look, the texts, when a rule is busy and which dialog edits it.
class RuleListView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kDirColumn = 1;
    static constexpr int kStatusColumn = 4;

    QTableWidget *table() const { return m_table; }
    QPushButton *addButton() const { return m_addButton; }
    QPushButton *modifyButton() const { return m_modifyButton; }
    QPushButton *deleteButton() const { return m_deleteButton; }
    QMenu *contextMenu() const { return m_menu; }
    // The dialog opened last, while it is open.
    RuleDialog *dialog() const { return m_dialog; }

signals:
    // A rule was added, changed or deleted here.
    void listChanged();

public slots:
    void onDisPlayList();
    void onAddBtnClicked();
    void onModiBtnClicked();
    void onDelBtnClicked();
    void onActionOpenDirClicked();
    void onMenuRequest(const QPoint &pos);

protected:
    struct Look {
        QStringList headers;
        QList<int> columnWidths;
        QColor baseColour;
        QString addTitle;
        QString modifyTitle;
        QString noRulesText;
        QString modifyUnselectedText;
        bool busyBlocksModify;
    };

    RuleListView(const Look &look, QWidget *parent);

    // Writes a rule's status text unless the row has no rule (a late report about a deleted one).
    void setStatusCell(int row, const QString &text);

    virtual int ruleCount() const = 0;
    // Columns 1 to 5 of every rule, in list order.
    virtual QList<QStringList> ruleCells() const = 0;
    virtual bool isBusy(int row) const = 0;
    virtual void removeRule(int row) = 0;
    // A new dialog without parent, its stored signal already connected to onDisPlayList.
    virtual RuleDialog *createDialog() = 0;

private:
    void setUpTable();
    void openDialog(const QString &title, int modifiedRow);
    // The row of the selected cell, or -1 when no cell is selected.
    int selectedRow() const;
    // Shows a refusal or question box on this page and returns the answer.
    int ask(PromptRequest::Icon icon, const QString &title, const QString &text, int buttons);
    bool refuseWhenEmpty();
    bool refuseWhenBusy(int row);

    Look m_look;
    QTableWidget *m_table;
    QPushButton *m_addButton;
    QPushButton *m_modifyButton;
    QPushButton *m_deleteButton;
    QMenu *m_menu;
    QPointer<RuleDialog> m_dialog;
};
