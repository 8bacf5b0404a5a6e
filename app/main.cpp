#include "app/QT_LOG.h"
#include "app/Startup.h"
#include "app/StartupOptions.h"
#include "chrome/WidgetPrompt.h"
#include "gap/LoginView.h"

#include <QApplication>
#include <QIcon>
#include <QStringList>
#include <cstdio>

namespace {

// Read before the application object exists: the manual and the version need no display.
QString textInsteadOfRun(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const StartupOptions options = StartupOptions::parse(arguments);
    if (options.help())
        return StartupOptions::helpText();
    if (options.version())
        return StartupOptions::versionText();
    return QString();
}

} // namespace

int main(int argc, char *argv[])
{
    const QString text = textInsteadOfRun(argc, argv);
    if (!text.isEmpty()) {
        std::fputs(text.toLocal8Bit().constData(), stdout);
        return 0;
    }
    Startup::raiseOpenFileLimit();
    QApplication::setAttribute(Qt::AA_ShareOpenGLContexts, true);
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QApplication::setAttribute(Qt::AA_UseHighDpiPixmaps, true);
    QApplication app(argc, argv);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/res/login/128x128.png")));
    Startup::registerCrossThreadTypes();

    const StartupOptions options = StartupOptions::parse(QApplication::arguments());
    QT_LOG::logInit(QT_LOG::logFileNameFor(QString::fromLocal8Bit(argv[0])), options.logLevel());
    options.logProblems();
    StartupOptions::setCurrent(options);
    Startup::setApplicationLocale();
    Startup::loadQtTranslations();
    installWidgetPrompt();

    LoginView login;
    login.show();
    Startup::fitOnScreen(&login);
    return QApplication::exec();
}
