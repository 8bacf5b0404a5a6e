#pragma once

class QLocale;
class QRect;
class QSize;
class QWidget;

// The steps of start-up that main() runs, kept here so that main() stays a list of them.
namespace Startup {

// Makes Qt's own texts (standard buttons, file dialogs) Chinese like the rest of the client, from
// Qt's installed translations; false, with a line in the log, when they are not installed.
bool loadQtTranslations();

// The locale of the client's dates, calendars and numbers: Chinese, like its texts, unless the
// environment names a locale of its own (the system's locale is then other than C). The
// environment is left as it is: a locale the system does not have would take the C library back
// to plain ASCII, and with it the window titles and input methods.
QLocale applicationLocale(const QLocale &system);
// Makes applicationLocale() of the system's locale the default of every widget made afterwards.
void setApplicationLocale();

// Registers the value types that travel through queued signals between threads.
void registerCrossThreadTypes();

// Raises the soft limit of open files to the hard limit: every transfer holds descriptors, and
// the usual soft limit of 1024 is far below what the system allows.
void raiseOpenFileLimit();

// Where a window of the wanted size goes in the available area of a screen: no larger than the
// area (nor smaller than its minimum, where the area allows), centred in it, and never above or
// left of it, so that its title bar stays within reach.
QRect placement(const QSize &wanted, const QSize &minimum, const QRect &available);
// Sizes and moves a shown window by placement() within the available area of its screen.
void fitOnScreen(QWidget *window);

} // namespace Startup
