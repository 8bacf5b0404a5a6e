#include "chrome/AboutDialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

const char *const AboutDialog::kProductName = "Varko网络传输客户端v1.0";
const char *const AboutDialog::kWebSite = "https://www.varko-gap.example/";

namespace {

const char *const kLogo = ":/res/login/128x128.png";

} // namespace

AboutDialog::AboutDialog(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("关于我们"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    setModal(true);

    auto *logo = new QLabel(this);
    logo->setObjectName(QStringLiteral("logo"));
    logo->setPixmap(QPixmap(QString::fromLatin1(kLogo)));

    auto *name = new QLabel(QString::fromUtf8(kProductName), this);
    name->setObjectName(QStringLiteral("productName"));
    QFont nameFont = name->font();
    nameFont.setPointSizeF(nameFont.pointSizeF() * 1.3);
    nameFont.setBold(true);
    name->setFont(nameFont);

    const QString site = QString::fromLatin1(kWebSite);
    auto *link = new QLabel(QStringLiteral("<a href=\"%1\">%1</a>").arg(site), this);
    link->setObjectName(QStringLiteral("webSite"));
    link->setTextFormat(Qt::RichText);
    link->setTextInteractionFlags(Qt::TextBrowserInteraction);
    link->setOpenExternalLinks(true); // QDesktopServices opens it in the user's browser

    auto *ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto *text = new QVBoxLayout;
    text->addStretch();
    text->addWidget(name);
    text->addWidget(link);
    text->addStretch();

    auto *top = new QHBoxLayout;
    top->setSpacing(24);
    top->addWidget(logo);
    top->addLayout(text);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 16);
    layout->addLayout(top);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}
