#pragma once

class QWidget;

// The steps of start-up that main() runs, kept here so that main() stays a list of them.
namespace Startup {

// Makes Qt's own texts (standard buttons, file dialogs) Chinese like the rest of the client, from
// Qt's installed translations; false, with a line in the log, when they are not installed.
bool loadQtTranslations();

// Registers the value types that travel through queued signals between threads.
void registerCrossThreadTypes();

// Raises the soft limit of open files to the hard limit: every transfer holds descriptors, and
// the usual soft limit of 1024 is far below what the system allows.
void raiseOpenFileLimit();

// Moves a shown window to the centre of the whole virtual desktop. The halves are integer
// divisions, so an odd difference leans left and up, and a window larger than the desktop gets a
// negative position.
void centreOnDesktop(QWidget *window);

} // namespace Startup
