#include "app/QT_LOG.h"
#include "app/Startup.h"
#include "app/StartupOptions.h"
#include "chrome/WidgetPrompt.h"
#include "gap/LoginView.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
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
