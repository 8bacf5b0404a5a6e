#pragma once

#include "views/transfers/DropCopy.h"

#include <QHash>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>
#include <thread>

class QLabel;
class QPoint;
class QProgressBar;
class QPushButton;
class QWidget;
struct _SENDPATH_LISTDATA;

// Sends what the user drops on the send pages, or picks with "添加文件…": the files and folders
// are copied into the directory of a send rule (asked which when there are several) in the
// background, one batch after another, and the scanner sends them from there. A strip of its own
// shows the copy's progress, with a way to cancel it, and then what was done.
class SendDrop : public QObject
{
    Q_OBJECT

public:
    // The index of the rule chosen among their descriptions, or -1 for none.
    using RuleChooser = std::function<int(const QStringList &rules)>;
    // The files chosen to send; none when the user cancelled.
    using FileChooser = std::function<QStringList()>;
    // The rule under a point of a watched widget, or null to ask.
    using RuleAt = std::function<_SENDPATH_LISTDATA *(const QPoint &)>;

    // parent: the widget that dialogs belong to.
    explicit SendDrop(QWidget *parent);
    ~SendDrop() override;

    QWidget *strip() const { return m_strip; }
    // Takes drops of local files and folders on the widget.
    void acceptDropsOn(QWidget *widget, RuleAt ruleAt = {});
    // By default a list box and Qt's file dialog; tests answer for the user.
    void setRuleChooser(RuleChooser chooser) { m_chooseRule = std::move(chooser); }
    void setFileChooser(FileChooser chooser) { m_chooseFiles = std::move(chooser); }
    // Whether sending is on, for what the strip says once files are in place.
    void setSendingCheck(std::function<bool()> sending) { m_sending = std::move(sending); }

    bool isBusy() const { return m_copy != nullptr; }
    QString noticeText() const;

public slots:
    void addFiles();
    // Copies the paths into the rule's directory; with no rule, into the only one or the one the
    // user chooses.
    void send(const QStringList &paths, _SENDPATH_LISTDATA *rule = nullptr);
    void cancel();

signals:
    // A batch began to be copied.
    void started();
    // A batch ended, whole, cancelled or stopped by an error.
    void finished(const DropCopy::Result &result);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Batch {
        QStringList sources;
        QString directory;
    };

    _SENDPATH_LISTDATA *chooseRule();
    void startNext();
    void onTick();
    void finishCopy();
    void showNotice(const QString &text, const QString &details);
    QString outcomeText(const DropCopy::Result &result, const QString &directory) const;

    QWidget *m_parent;
    QWidget *m_strip;
    QLabel *m_label;
    QProgressBar *m_bar;
    QPushButton *m_cancel;
    QHash<QObject *, RuleAt> m_watched;
    RuleChooser m_chooseRule;
    FileChooser m_chooseFiles;
    std::function<bool()> m_sending;
    QList<Batch> m_queue;
    QString m_directory; // of the batch being copied
    std::unique_ptr<DropCopy> m_copy;
    std::thread m_thread;
    std::atomic<bool> m_copied { false };
    DropCopy::Result m_result; // written by the copy's thread, read once it was joined
    QTimer m_tick;
};
