#pragma once

// Makes every prompt of the client a real QMessageBox, shown in the GUI thread whichever thread
// asks, and returns the button the user pressed. Called once at start-up. A worker that asks
// waits for the answer, so the GUI thread must never wait for a worker that may ask.
void installWidgetPrompt();
