#pragma once

class QByteArray;
class QLocale;
class QProcessEnvironment;
class QRect;
class QSize;
class QWidget;

// The steps of start-up that main() runs, kept here so that main() stays a list of them.
namespace Startup {

// Makes Qt's own texts (standard buttons, file dialogs) Chinese like the rest of the client, from
// Qt's installed translations; false, with a line in the log, when they are not installed.
bool loadQtTranslations();

// The client speaks Chinese: unless the environment names a locale of its own (LC_ALL,
// LC_MESSAGES, LC_TIME or LANG other than C or POSIX), the process runs as in a Chinese one. The
// value LANG takes for that, or an empty one when the environment has a locale.
QByteArray chineseUnlessAsked(const QProcessEnvironment &environment);
// Sets LANG to chineseUnlessAsked() of the process's environment, so that what Qt reads from the
// system's locale (the sizes and dates of its file dialog) reads in Chinese too. Before the
// application object exists.
void useChineseUnlessAsked();
// The locale of the client's dates, calendars and numbers: Chinese, like its texts, unless the
// system's locale is one of its own.
QLocale applicationLocale(const QLocale &system);
// Makes applicationLocale() of the system's locale the default of every widget made afterwards.
void setApplicationLocale();

// Registers the value types that travel through queued signals between threads.
void registerCrossThreadTypes();

// Where a window of the wanted size goes in the available area of a screen: no larger than the
// area (nor smaller than its minimum, where the area allows), centred in it, and never above or
// left of it, so that its title bar stays within reach.
QRect placement(const QSize &wanted, const QSize &minimum, const QRect &available);
// Sizes and moves a shown window by placement() within the available area of its screen.
void fitOnScreen(QWidget *window);

} // namespace Startup
