// Start-up pieces shared by the program, its screenshot tool and the window tests.
#pragma once

class QApplication;

// Fonts, images, the application icon and the locale every window works with.
void prepareApplication(QApplication &app);
