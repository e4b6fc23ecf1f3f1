// The program wired together, once, for the program itself, its screenshot tool and its start-up
// benchmark: the application's fonts, icon and names, the kernels and the host it measures (the
// real ones unless others are given), and its windows.
#pragma once

#include "shell/appwindows.h"

#include <memory>

class KalvexLibrary;
class KernelSet;
class KernelThread;
class LinuxHost;
class QApplication;
class SystemProbe;

class Program
{
public:
    // Fonts, images, the application icon, names and version, and the locale every window works
    // with; before the first window is made.
    static void prepare(QApplication &app);

    // Prepares the application and builds the windows; the main window shows on start(). The
    // kernels run on a thread of their own, so the windows repaint during a run.
    explicit Program(QApplication &app, KernelSet *kernels = nullptr, SystemProbe *probe = nullptr);
    ~Program();

    AppWindows &windows() { return *m_windows; }
    SystemProbe &probe() { return *m_probe; }
    void start();

private:
    std::unique_ptr<KalvexLibrary> m_library;
    std::unique_ptr<KernelThread> m_kernelThread;
    std::unique_ptr<LinuxHost> m_host;
    SystemProbe *m_probe = nullptr;
    std::unique_ptr<AppWindows> m_windows;
};
