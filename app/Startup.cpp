#include "app/Startup.h"

#include "model/TransferStateInfo.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QMetaType>
#include <QRect>
#include <QScreen>
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

QRect placement(const QSize &wanted, const QSize &minimum, const QRect &available)
{
    const QSize size = wanted.boundedTo(available.size()).expandedTo(minimum);
    const int x = available.x() + qMax(0, (available.width() - size.width()) / 2);
    const int y = available.y() + qMax(0, (available.height() - size.height()) / 2);
    return QRect(QPoint(x, y), size);
}

void fitOnScreen(QWidget *window)
{
    const QScreen *screen = window->screen();
    const QRect available = screen->availableGeometry();
    window->setGeometry(placement(window->size(), window->minimumSize(), available));
}

} // namespace Startup
