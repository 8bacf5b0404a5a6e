#pragma once

#include "views/rules/RuleDirectories.h"

#include <QDialog>
#include <QPair>
#include <QString>
#include <functional>

class QComboBox;
class QLineEdit;
class QPushButton;
struct _VKGAPIP_CONF;

// What the send and receive rule dialogs have in common: the form (gap, path, user, directory),
// filling the combos from the gaps' offers, the directory chooser and the order of the checks.
// The rule kind decides which offers count, which rules conflict and what is stored.
class RuleDialog : public QDialog
{
    Q_OBJECT

public:
    // Asks for a directory; returns an empty text when the user cancels.
    using DirectoryChooser = std::function<QString(QWidget *parent)>;
    // Replaces the directory dialog (tests); an empty chooser restores it.
    static void setDirectoryChooser(DirectoryChooser chooser);
    // The answer to a change of a rule that is in use.
    static QString ruleBusyText();

    void setModify(bool modify) { m_modify = modify; }
    void setIndex(int index) { m_index = index; }
    bool isModify() const { return m_modify; }
    int index() const { return m_index; }

    QComboBox *gapCombo() const { return m_gapCombo; }
    QComboBox *pathCombo() const { return m_pathCombo; }
    QComboBox *userCombo() const { return m_userCombo; }
    QLineEdit *dirEdit() const { return m_dirEdit; }
    QPushButton *browseButton() const { return m_browseButton; }
    QPushButton *okButton() const { return m_okButton; }
    QPushButton *cancelButton() const { return m_cancelButton; }

signals:
    // A rule was stored; the dialog closes right after.
    void ruleStored();

public slots:
    void onSeletedGapCombo();
    void on_pushButton_clicked();
    void onOKClicked();
    void onCancelCliked();

protected:
    // The texts that differ between the two kinds of rule.
    struct Texts {
        QString pathLabel;
        QString userLabel;
        QString userMissing;
        QString pathMissing;
        QString pathInUse;
    };
    // A path the gap offers: its key and the user on the other end.
    using Offer = QPair<QString, QString>;

    RuleDialog(const Texts &texts, QWidget *parent);

    void dialogInit();
    // Adds every gap with offers of this kind to the gap combo, each address once.
    void fillGapCombo();

    // The number of offers of this kind the gap holds.
    virtual int offerCount(const _VKGAPIP_CONF &gap) const = 0;
    // The first count offers of the gap; called with g_Mutex held.
    virtual QList<Offer> offers(const _VKGAPIP_CONF &gap, int count) const = 0;
    // Whether a rule of this kind already uses the chosen path (checked only when adding).
    virtual bool pathInUse() const = 0;
    virtual RuleDirectories::Kind kind() const = 0;
    // False, and nothing stored, when the rule to be changed has come into use meanwhile.
    virtual bool storeRule() = 0;

private:
    void buildForm();
    // The text of the first check that fails, with the title of its box; empty when all pass.
    QPair<QString, QString> failedCheck() const;

    Texts m_texts;
    bool m_modify = false;
    int m_index = -1;
    QComboBox *m_gapCombo;
    QComboBox *m_pathCombo;
    QComboBox *m_userCombo;
    QLineEdit *m_dirEdit;
    QPushButton *m_browseButton;
    QPushButton *m_cancelButton;
    QPushButton *m_okButton;
};
