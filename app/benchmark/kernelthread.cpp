#include "benchmark/kernelthread.h"

#include <QEventLoop>
#include <QMetaObject>
#include <QSemaphore>

KernelThread::KernelThread(KernelSet &kernels) : m_kernels(kernels)
{
    m_thread.setObjectName(QStringLiteral("kernels"));
    m_context = new QObject;
    m_context->moveToThread(&m_thread);
    QObject::connect(&m_thread, &QThread::finished, m_context, &QObject::deleteLater);
}

KernelThread::~KernelThread()
{
    if (m_thread.isRunning()) {
        m_thread.quit();
        m_thread.wait();
    } else {
        delete m_context;
    }
}

bool KernelThread::run(Kernel kernel, double *result, double *seconds, QString *error)
{
    return callOnThread([&] { return m_kernels.run(kernel, result, seconds, error); });
}

bool KernelThread::runChecked(Kernel kernel, double *result, double *seconds, quint64 *check,
                              QString *error)
{
    return callOnThread(
        [&] { return m_kernels.runChecked(kernel, result, seconds, check, error); });
}

bool KernelThread::callOnThread(const std::function<bool()> &call)
{
    // The thread starts with the first kernel, not with the program.
    if (!m_thread.isRunning())
        m_thread.start();
    bool answer = false;
    QEventLoop wait;
    QSemaphore answered;
    QMetaObject::invokeMethod(
        m_context,
        [&call, &answer, &wait, &answered] {
            answer = call();
            // Wake the waiting loop, then let the caller go on: the loop and the answer live on
            // its stack, so nothing here touches them after the release.
            QMetaObject::invokeMethod(&wait, &QEventLoop::quit, Qt::QueuedConnection);
            answered.release();
        },
        Qt::QueuedConnection);
    // Paints, timers and other programs' requests (a screen reader's) go on; clicks and keys
    // wait for the run's next check.
    wait.exec(QEventLoop::ExcludeUserInputEvents);
    // The loop also returns at once when the application is quitting: the kernel is still
    // waited for, without events.
    answered.acquire();
    return answer;
}
