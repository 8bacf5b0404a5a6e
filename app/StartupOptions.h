#pragma once

#include <QString>
#include <QStringList>

// What the command line asks of this run: the log level (a number as the first argument) and the
// unattended start, "--import FILE" to import a configuration right after the login and "--send" to
// switch sending on afterwards; or, instead of a run, "--help" ("-h") for the manual or
// "--version". Options may stand anywhere; a first argument that is an option leaves the log level
// at 0. Unknown arguments are kept in problems() for the log and ignored.
//
// main() parses the arguments once and publishes them with setCurrent(); the main window reads
// current() once it is shown and acts on it.
class StartupOptions
{
public:
    // arguments as QCoreApplication::arguments() gives them, the program first.
    static StartupOptions parse(const QStringList &arguments);

    static const StartupOptions &current();
    static void setCurrent(const StartupOptions &options);

    int logLevel() const { return m_logLevel; }
    QString importFile() const { return m_importFile; }
    bool send() const { return m_send; }
    bool help() const { return m_help; }
    bool version() const { return m_version; }
    const QStringList &problems() const { return m_problems; }

    // Writes every problem as a warning, so that it reaches the log file.
    void logProblems() const;

    // The manual of the program, as --help prints it.
    static QString helpText();
    // The program's name and version, as --version prints it.
    static QString versionText();

private:
    int m_logLevel = 0;
    QString m_importFile;
    bool m_send = false;
    bool m_help = false;
    bool m_version = false;
    QStringList m_problems;
};
