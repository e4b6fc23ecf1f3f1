#include "appwindows.h"
#include "kernelset.h"
#include "linuxhost.h"
#include "messages.h"
#include "shell.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    prepareApplication(app);
    KalvexLibrary kernels;
    LinuxHost host([](const QString &text) { showMessage(nullptr, text); });
    AppWindows windows(kernels, host.probe);
    windows.start();
    return app.exec();
}
