#include "app/Startup.h"

#include "model/TransferStateInfo.h"

#include <QApplication>
#include <QDesktopWidget>
#include <QLibraryInfo>
#include <QLocale>
#include <QMetaType>
#include <QTranslator>
#include <QVector>
#include <QWidget>
#include <QtDebug>

namespace Startup {

bool loadQtTranslations()
{
    const QString directory = QLibraryInfo::location(QLibraryInfo::TranslationsPath);
    auto *translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QStringLiteral("qtbase_zh_CN"), directory)
        || !QCoreApplication::installTranslator(translator)) {
        qWarning().noquote() << "Qt's Chinese translations not found in" << directory;
        delete translator;
        return false;
    }
    return true;
}

QLocale applicationLocale(const QLocale &system)
{
    if (system.language() == QLocale::C)
        return QLocale(QLocale::Chinese, QLocale::China);
    return system;
}

void setApplicationLocale() { QLocale::setDefault(applicationLocale(QLocale::system())); }

void registerCrossThreadTypes()
{
    qRegisterMetaType<TransferStateInfo>("TransferStateInfo");
    qRegisterMetaType<QVector<int>>("QVector<int>");
}

void centreOnDesktop(QWidget *window)
{
    const QWidget *desktop = QApplication::desktop();
    window->move(
        (desktop->width() - window->width()) / 2, (desktop->height() - window->height()) / 2);
}

} // namespace Startup
