// Runs each kernel of another set on a thread of its own while the calling thread waits in its
// event loop, handling everything but user input.
//
// A kernel takes about a second here and several on slow machines. Called on the user-interface
// thread, it would leave a window restored or uncovered during a run black until it returned.
// Through this set the windows repaint and timers run meanwhile, while clicks and keys wait in
// the queue, as they did, for the run's next check; the kernel itself runs unchanged, alone on
// its thread, so its time is what it was.
#pragma once

#include "benchmark/kernelset.h"

#include <QThread>

#include <functional>

class KernelThread final : public KernelSet
{
public:
    explicit KernelThread(KernelSet &kernels);
    ~KernelThread() override;

    bool run(Kernel kernel, double *result, double *seconds, QString *error) override;
    bool runChecked(Kernel kernel, double *result, double *seconds, quint64 *check,
                    QString *error) override;

    // The thread runs from the first kernel on, not from the start of the program.
    bool threadRunning() const { return m_thread.isRunning(); }

private:
    // Calls the function on the kernel thread and returns its answer; events other than user
    // input are handled until then.
    bool callOnThread(const std::function<bool()> &call);

    KernelSet &m_kernels;
    QThread m_thread;
    QObject *m_context = nullptr; // lives on m_thread
};
