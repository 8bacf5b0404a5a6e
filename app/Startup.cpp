#include "app/Startup.h"

#include "model/TransferStateInfo.h"

#include <QApplication>
#include <QDesktopWidget>
#include <QLibraryInfo>
#include <QMetaType>
#include <QTranslator>
#include <QVector>
#include <QWidget>
#include <QtDebug>
#include <cerrno>
#include <sys/resource.h>

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

void registerCrossThreadTypes()
{
    qRegisterMetaType<TransferStateInfo>("TransferStateInfo");
    qRegisterMetaType<QVector<int>>("QVector<int>");
}

void raiseOpenFileLimit()
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max)
        return;
    limit.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
        qWarning().noquote() << "open-file limit not raised to" << limit.rlim_max << "errno"
                             << errno;
}

void centreOnDesktop(QWidget *window)
{
    const QWidget *desktop = QApplication::desktop();
    window->move(
        (desktop->width() - window->width()) / 2, (desktop->height() - window->height()) / 2);
}

} // namespace Startup
