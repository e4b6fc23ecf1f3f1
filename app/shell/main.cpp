#include "appwindows.h"
#include "kernelset.h"
#include "shell.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    prepareApplication(app);
    KalvexLibrary kernels;
    AppWindows windows(kernels);
    windows.start();
    return app.exec();
}
