#include "benchmark/kernelthread.h"

#include <QEventLoop>
#include <QMetaObject>
#include <QPointer>

KernelThread::KernelThread(KernelSet &kernels) : m_kernels(kernels)
{
    m_thread.setObjectName(QStringLiteral("kernels"));
    m_context = new QObject;
    m_context->moveToThread(&m_thread);
    QObject::connect(&m_thread, &QThread::finished, m_context, &QObject::deleteLater);
    m_thread.start();
}

KernelThread::~KernelThread()
{
    m_thread.quit();
    m_thread.wait();
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
    bool answer = false;
    QEventLoop wait;
    QPointer<QEventLoop> waiting(&wait);
    QMetaObject::invokeMethod(
        m_context,
        [&call, &answer, waiting] {
            answer = call();
            // Queued to the waiting thread: it wakes once the answer is written.
            QMetaObject::invokeMethod(waiting, &QEventLoop::quit, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    // Paints, timers and other programs' requests (a screen reader's) go on; clicks and keys
    // wait for the run's next check.
    wait.exec(QEventLoop::ExcludeUserInputEvents);
    return answer;
}
