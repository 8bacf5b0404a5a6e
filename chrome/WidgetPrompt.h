#pragma once

// Makes every prompt of the client a real QMessageBox, shown in the GUI thread whichever thread
// asks, and returns the button the user pressed. Called once at start-up.
void installWidgetPrompt();
