#include "app/StartupOptions.h"

#include <QtDebug>

namespace {

const QString kImportOption = QStringLiteral("--import");
const QString kImportPrefix = QStringLiteral("--import=");
const QString kSendOption = QStringLiteral("--send");

bool isOption(const QString &argument) { return argument.startsWith(QLatin1Char('-')); }

StartupOptions &currentOptions()
{
    static StartupOptions options;
    return options;
}

} // namespace

StartupOptions StartupOptions::parse(const QStringList &arguments)
{
    StartupOptions options;
    // The first argument is the log level unless it is an option; text that is not a number
    // counts as 0, and a level the logger does not know is its business.
    int next = 1;
    if (arguments.size() > 1 && !isOption(arguments.at(1))) {
        options.m_logLevel = int(arguments.at(1).toUInt());
        next = 2;
    }
    for (int i = next; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == kSendOption) {
            options.m_send = true;
        } else if (argument == kImportOption || argument.startsWith(kImportPrefix)) {
            QString file = argument.mid(kImportPrefix.size());
            if (argument == kImportOption && i + 1 < arguments.size()
                && !isOption(arguments.at(i + 1)))
                file = arguments.at(++i);
            if (file.isEmpty())
                options.m_problems << QStringLiteral("%1 needs a file name; ignored").arg(argument);
            else
                options.m_importFile = file;
        } else {
            options.m_problems << QStringLiteral("unknown argument %1 ignored").arg(argument);
        }
    }
    return options;
}

const StartupOptions &StartupOptions::current() { return currentOptions(); }

void StartupOptions::setCurrent(const StartupOptions &options) { currentOptions() = options; }

void StartupOptions::logProblems() const
{
    for (const QString &problem : m_problems)
        qWarning().noquote() << "command line:" << problem;
}
