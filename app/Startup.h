#pragma once

class QLocale;
class QWidget;

// The steps of start-up that main() runs, kept here so that main() stays a list of them.
namespace Startup {

// Makes Qt's own texts (standard buttons, file dialogs) Chinese like the rest of the client, from
// Qt's installed translations; false, with a line in the log, when they are not installed.
bool loadQtTranslations();

// The locale of the client's dates, calendars and numbers: Chinese, like its texts, unless the
// environment names a locale of its own (LANG, LC_ALL, LC_* other than C or POSIX).
QLocale applicationLocale(const QLocale &system);
// Makes applicationLocale() of the system's locale the default of every widget made afterwards.
void setApplicationLocale();

// Registers the value types that travel through queued signals between threads.
void registerCrossThreadTypes();

// Moves a shown window to the centre of the whole virtual desktop. The halves are integer
// divisions, so an odd difference leans left and up, and a window larger than the desktop gets a
// negative position.
void centreOnDesktop(QWidget *window);

} // namespace Startup
