#include "views/rules/RuleDialog.h"

#include "model/BaseFunction.h"
#include "model/GlobalData.h"
#include "model/Prompt.h"
#include "protocol/PacketCommon.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <QtDebug>
#include <algorithm>

namespace {

const QString kErrorTitle = QStringLiteral("error");
const QString kHintTitle = QStringLiteral("提示");
const QString kGapMissing = QStringLiteral("隔离器地址不能为空");
const QString kDirMissing = QStringLiteral("文件目录不能为空");
const QString kDirNotFound = QStringLiteral("文件目录不存在,请重新选择！");
const QString kRuleBusy = QStringLiteral("该规则路径正在使用");
const QString kStartDir = QStringLiteral("/home");
const QString kGapIcon = QStringLiteral(":/res/centerwidget/combobox_ip.svg");
const QString kUserIcon = QStringLiteral(":/res/centerwidget/combobox_user.svg");
const QString kPathIcon = QStringLiteral(":/res/centerwidget/combobox_rule.svg");
constexpr int kFieldMinimumWidth = 320;

RuleDialog::DirectoryChooser directoryChooser;

QString chooseDirectory(QWidget *parent)
{
    if (directoryChooser)
        return directoryChooser(parent);
    return QFileDialog::getExistingDirectory(parent, QStringLiteral("选择目录"), kStartDir,
        QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
}

void addUnique(QComboBox *combo, const QIcon &icon, const QString &text)
{
    if (combo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive) < 0)
        combo->addItem(icon, text);
}

QLabel *formLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setAttribute(Qt::WA_TranslucentBackground);
    return label;
}

} // namespace

void RuleDialog::setDirectoryChooser(DirectoryChooser chooser)
{
    directoryChooser = std::move(chooser);
}

QString RuleDialog::ruleBusyText() { return kRuleBusy; }

RuleDialog::RuleDialog(const Texts &texts, QWidget *parent)
    : QDialog(parent)
    , m_texts(texts)
    , m_gapCombo(new QComboBox(this))
    , m_pathCombo(new QComboBox(this))
    , m_userCombo(new QComboBox(this))
    , m_dirEdit(new QLineEdit(this))
    , m_browseButton(new QPushButton(QStringLiteral("浏览"), this))
    , m_cancelButton(new QPushButton(QStringLiteral("取消"), this))
    , m_okButton(new QPushButton(QStringLiteral("确定"), this))
{
    buildForm();
    dialogInit();
    connect(m_okButton, &QPushButton::clicked, this, &RuleDialog::onOKClicked);
    connect(m_cancelButton, &QPushButton::clicked, this, &RuleDialog::onCancelCliked);
    connect(m_browseButton, &QPushButton::clicked, this, &RuleDialog::on_pushButton_clicked);
    connect(m_gapCombo, &QComboBox::currentTextChanged, this, &RuleDialog::onSeletedGapCombo);
}

void RuleDialog::buildForm()
{
    auto *fields = new QGridLayout;
    fields->setHorizontalSpacing(12);
    fields->setVerticalSpacing(14);
    fields->addWidget(formLabel(QStringLiteral("隔离器ip"), this), 0, 0);
    fields->addWidget(m_gapCombo, 0, 1, 1, 2);
    fields->addWidget(formLabel(m_texts.pathLabel, this), 1, 0);
    fields->addWidget(m_pathCombo, 1, 1, 1, 2);
    fields->addWidget(formLabel(m_texts.userLabel, this), 2, 0);
    fields->addWidget(m_userCombo, 2, 1, 1, 2);
    fields->addWidget(formLabel(QStringLiteral("文件目录"), this), 3, 0);
    fields->addWidget(m_dirEdit, 3, 1);
    fields->addWidget(m_browseButton, 3, 2);
    fields->setColumnMinimumWidth(1, kFieldMinimumWidth);
    fields->setColumnStretch(1, 1);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cancelButton);
    buttons->addWidget(m_okButton);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 18);
    layout->setSpacing(20);
    layout->addLayout(fields);
    layout->addLayout(buttons);
    m_okButton->setDefault(true);
}

void RuleDialog::dialogInit()
{
    setModal(true);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    m_browseButton->setAttribute(Qt::WA_TranslucentBackground);
}

void RuleDialog::fillGapCombo()
{
    // Filling is not choosing: no gap is chosen until the user picks one.
    const QSignalBlocker quiet(m_gapCombo);
    const QIcon icon(kGapIcon);
    const QList<_VKGAPIP_CONF *> gaps = g_GapInfoList.snapshot();
    for (const _VKGAPIP_CONF *gap : gaps) {
        if (gap && offerCount(*gap) > 0)
            addUnique(m_gapCombo, icon, QString::fromLatin1(fieldBytes(gap->HostIP, kHostIPSize)));
    }
    m_gapCombo->setCurrentIndex(-1);
}

void RuleDialog::onSeletedGapCombo()
{
    m_pathCombo->clear();
    m_userCombo->clear();
    const _VKGAPIP_CONF *gap = BaseFunction::findVkgapinfo(m_gapCombo->currentText());
    if (!gap || gap->connState != 1)
        return;
    QList<Offer> offered;
    {
        QMutexLocker lock(&g_Mutex);
        offered = offers(*gap, qBound(0, offerCount(*gap), kMaxPathsPerGap));
    }
    qDebug() << "path count:" << offered.size();
    const QIcon pathIcon(kPathIcon);
    const QIcon userIcon(kUserIcon);
    for (const Offer &offer : offered) {
        addUnique(m_userCombo, userIcon, offer.second);
        addUnique(m_pathCombo, pathIcon, offer.first);
    }
    m_pathCombo->setCurrentIndex(-1);
    m_userCombo->setCurrentIndex(-1);
}

void RuleDialog::on_pushButton_clicked()
{
    // A cancelled chooser empties the field on purpose: the user sees that no directory is set.
    m_dirEdit->setText(chooseDirectory(this));
}

QPair<QString, QString> RuleDialog::failedCheck() const
{
    const QString dir = m_dirEdit->text();
    if (m_gapCombo->currentText().isEmpty())
        return { kErrorTitle, kGapMissing };
    if (m_userCombo->currentText().isEmpty())
        return { kErrorTitle, m_texts.userMissing };
    if (m_pathCombo->currentText().isEmpty())
        return { kErrorTitle, m_texts.pathMissing };
    if (dir.isEmpty())
        return { kErrorTitle, kDirMissing };
    // A send directory that is not there would read as "searching" for ever, a receive
    // directory would fail every file.
    if (!QFileInfo(dir).isDir())
        return { kErrorTitle, kDirNotFound };
    if (!m_modify && pathInUse())
        return { kHintTitle, m_texts.pathInUse };
    // The rule being changed counts too: a change has to pick a directory no rule uses.
    const QString conflict = RuleDirectories::conflict(
        kind(), dir, RuleDirectories::ofRegistries(m_modify ? m_index : -1));
    if (!conflict.isEmpty())
        return { kHintTitle, conflict };
    return {};
}

void RuleDialog::onOKClicked()
{
    QPair<QString, QString> failed = failedCheck();
    if (failed.second.isEmpty() && !storeRule())
        failed = { kHintTitle, kRuleBusy };
    if (!failed.second.isEmpty()) {
        PromptRequest request;
        request.icon = PromptRequest::Critical;
        request.title = failed.first;
        request.text = failed.second;
        request.buttons = PromptRequest::Yes;
        Prompt::show(request);
        return;
    }
    emit ruleStored();
    close();
}

void RuleDialog::onCancelCliked() { close(); }
