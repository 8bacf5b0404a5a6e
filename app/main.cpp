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

// Read before the application object exists: the manual needs no display.
bool helpAsked(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return StartupOptions::parse(arguments).help();
}

} // namespace

int main(int argc, char *argv[])
{
    if (helpAsked(argc, argv)) {
        std::fputs(StartupOptions::helpText().toLocal8Bit().constData(), stdout);
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
    Startup::loadQtTranslations();
    installWidgetPrompt();

    LoginView login;
    login.show();
    Startup::centreOnDesktop(&login);
    return QApplication::exec();
}
