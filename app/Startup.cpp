#include "app/Startup.h"

#include "model/TransferStateInfo.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QMetaType>
#include <QProcessEnvironment>
#include <QRect>
#include <QScreen>
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

QByteArray chineseUnlessAsked(const QProcessEnvironment &environment)
{
    for (const char *variable : { "LC_ALL", "LC_MESSAGES", "LC_TIME", "LANG" }) {
        const QString value = environment.value(QLatin1String(variable));
        const QString name = value.section(QLatin1Char('.'), 0, 0);
        if (!value.isEmpty() && name != QLatin1String("C") && name != QLatin1String("POSIX"))
            return QByteArray();
    }
    return QByteArrayLiteral("zh_CN.UTF-8");
}

void useChineseUnlessAsked()
{
    const QByteArray lang = chineseUnlessAsked(QProcessEnvironment::systemEnvironment());
    if (!lang.isEmpty())
        qputenv("LANG", lang);
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
