#include "views/transfers/SendDrop.h"

#include "model/GlobalData.h"
#include "model/Prompt.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>

namespace {

constexpr int kTickMs = 100;
constexpr int kPercent = 100;
constexpr int kMargin = 6;
const QString kNoRule = QStringLiteral("请先配置发送目录 ");

// The local files and folders a drag carries; empty when it carries anything else.
QStringList localPaths(const QMimeData *data)
{
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl &url : data->urls()) {
        if (!url.isLocalFile())
            return {};
        paths.append(url.toLocalFile());
    }
    return paths;
}

QString describe(const _SENDPATH_LISTDATA *rule)
{
    return QStringLiteral("%1 → %2（%3）")
        .arg(QString::fromUtf8(rule->SendPathID, int(strnlen(rule->SendPathID, kPathIDSize))),
            QString::fromLatin1(rule->ToUser, int(strnlen(rule->ToUser, kUserNameSize))),
            rule->SendPath);
}

} // namespace

SendDrop::SendDrop(QWidget *parent)
    : QObject(parent)
    , m_parent(parent)
    , m_strip(new QWidget(parent))
    , m_label(new QLabel(m_strip))
    , m_bar(new QProgressBar(m_strip))
    , m_cancel(new QPushButton(QStringLiteral("取消"), m_strip))
{
    qRegisterMetaType<DropCopy::Result>();
    auto *row = new QHBoxLayout(m_strip);
    row->setContentsMargins(kMargin, 0, kMargin, 0);
    row->addWidget(m_label, 1);
    row->addWidget(m_bar);
    row->addWidget(m_cancel);
    m_label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_bar->setRange(0, kPercent);
    m_cancel->setAutoDefault(false);
    m_strip->hide();
    connect(m_cancel, &QPushButton::clicked, this, &SendDrop::cancel);
    m_tick.setInterval(kTickMs);
    connect(&m_tick, &QTimer::timeout, this, &SendDrop::onTick);
    m_chooseRule = [this](const QStringList &rules) {
        bool chosen = false;
        const QString rule = QInputDialog::getItem(m_parent, QStringLiteral("选择发送目录"),
            QStringLiteral("发送到哪个发送目录？"), rules, 0, false, &chosen);
        return chosen ? rules.indexOf(rule) : -1;
    };
    m_chooseFiles = [this] {
        return QFileDialog::getOpenFileNames(m_parent, QStringLiteral("添加文件"));
    };
}

SendDrop::~SendDrop()
{
    m_queue.clear();
    if (m_copy)
        m_copy->cancel();
    if (m_thread.joinable())
        m_thread.join();
}

void SendDrop::acceptDropsOn(QWidget *widget, RuleAt ruleAt)
{
    widget->setAcceptDrops(true);
    widget->installEventFilter(this);
    m_watched.insert(widget, std::move(ruleAt));
}

bool SendDrop::eventFilter(QObject *watched, QEvent *event)
{
    const auto found = m_watched.constFind(watched);
    if (found == m_watched.constEnd())
        return false;
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *drag = static_cast<QDragMoveEvent *>(event);
        if (localPaths(drag->mimeData()).isEmpty())
            return false;
        drag->setDropAction(Qt::CopyAction);
        drag->accept();
        return true;
    }
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        const QStringList paths = localPaths(drop->mimeData());
        if (paths.isEmpty())
            return false;
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        send(paths, found.value() ? found.value()(drop->pos()) : nullptr);
        return true;
    }
    default:
        return false;
    }
}

void SendDrop::addFiles()
{
    const QStringList files = m_chooseFiles();
    if (!files.isEmpty())
        send(files);
}

void SendDrop::send(const QStringList &paths, _SENDPATH_LISTDATA *rule)
{
    if (!rule)
        rule = chooseRule();
    if (!rule)
        return;
    m_queue.append({ paths, rule->SendPath });
    if (!isBusy())
        startNext();
}

_SENDPATH_LISTDATA *SendDrop::chooseRule()
{
    const QList<_SENDPATH_LISTDATA *> rules = g_SendPathList.snapshot();
    if (rules.isEmpty()) {
        Prompt::error(kNoRule);
        return nullptr;
    }
    if (rules.size() == 1)
        return rules.first();
    QStringList descriptions;
    for (const _SENDPATH_LISTDATA *rule : rules)
        descriptions.append(describe(rule));
    return rules.value(m_chooseRule(descriptions));
}

void SendDrop::cancel()
{
    m_queue.clear();
    if (m_copy)
        m_copy->cancel();
}

void SendDrop::startNext()
{
    if (m_queue.isEmpty())
        return;
    const Batch batch = m_queue.takeFirst();
    m_directory = batch.directory;
    m_copy = std::make_unique<DropCopy>(batch.sources, batch.directory);
    m_copied = false;
    m_thread = std::thread([this, copy = m_copy.get()] {
        m_result = copy->run();
        m_copied = true;
    });
    m_label->setToolTip(QString());
    m_label->setText(QStringLiteral("正在复制到发送目录 %1…").arg(m_directory));
    m_bar->setValue(0);
    m_bar->show();
    m_cancel->show();
    m_strip->show();
    m_tick.start();
    emit started();
}

void SendDrop::onTick()
{
    if (m_copied) {
        finishCopy();
        return;
    }
    const qint64 total = m_copy->bytesTotal();
    m_bar->setValue(total > 0 ? int(m_copy->bytesDone() * kPercent / total) : 0);
}

void SendDrop::finishCopy()
{
    m_tick.stop();
    m_thread.join();
    m_copy.reset();
    const DropCopy::Result result = m_result;
    m_bar->hide();
    m_cancel->hide();
    showNotice(outcomeText(result, m_directory), result.skipped.join(QLatin1Char('\n')));
    emit finished(result);
    startNext();
}

QString SendDrop::outcomeText(const DropCopy::Result &result, const QString &directory) const
{
    QString text;
    if (result.cancelled)
        text = QStringLiteral("已取消复制，未复制完的文件已删除");
    else if (!result.error.isEmpty())
        text = QStringLiteral("复制失败：%1").arg(result.error);
    else
        text = QStringLiteral("已复制 %1 个文件到发送目录 %2").arg(result.files).arg(directory);
    if (!result.placed.isEmpty() && (result.cancelled || !result.error.isEmpty()))
        text += QStringLiteral("（已放入 %1 项）").arg(result.placed.size());
    if (!result.skipped.isEmpty())
        text += QStringLiteral("，跳过 %1 项").arg(result.skipped.size());
    if (!result.placed.isEmpty() && m_sending && !m_sending())
        text += QStringLiteral("；启动发送后发送");
    return text;
}

void SendDrop::showNotice(const QString &text, const QString &details)
{
    m_label->setText(text);
    m_label->setToolTip(details);
    m_strip->show();
}

QString SendDrop::noticeText() const { return m_label->text(); }
