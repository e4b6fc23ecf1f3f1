#include "benchmark/benchmarkrun.h"

#include "core/numbertext.h"

namespace {

const QString Crlf = QStringLiteral("\r\n");

struct Test
{
    const char16_t *caption;
    Kernel kernel;
    Field seconds;
    bool showsResult;
    Field result;
};

// The seven tests in the order a cycle runs them.
constexpr Test Tests[KernelCount] = {
    {u"\u00BB Running: Addition Test - cycle ", Kernel::Addition, Field::AdditionSeconds, false,
     Field::AdditionSeconds},
    {u"\u00BB Running: Subtraction Test - cycle ", Kernel::Subtraction, Field::SubtractionSeconds,
     false, Field::SubtractionSeconds},
    {u"\u00BB Running: Multiplication Test - cycle ", Kernel::Multiplication,
     Field::MultiplicationSeconds, false, Field::MultiplicationSeconds},
    {u"\u00BB Running: Division Test - cycle ", Kernel::Division, Field::DivisionSeconds, false,
     Field::DivisionSeconds},
    {u"\u00BB Running: Prime Number Test - cycle ", Kernel::Prime, Field::PrimeSeconds, true,
     Field::PrimeResult},
    {u"\u00BB Running: Pi Calc test - cycle ", Kernel::Pi, Field::PiSeconds, true, Field::PiResult},
    {u"\u00BB Running: Power test - cycle ", Kernel::Power, Field::PowerSeconds, true,
     Field::PowerResult},
};

// Fields an abort request fills with "0" when they are still empty, in this order.
constexpr Field AbortFillOrder[] = {
    Field::AdditionSeconds, Field::SubtractionSeconds, Field::MultiplicationSeconds,
    Field::DivisionSeconds, Field::PrimeSeconds,       Field::PrimeResult,
    Field::PiSeconds,       Field::PowerSeconds,       Field::PiResult,
    Field::PowerResult,     Field::SimpleTotal,        Field::OverallTotal,
    Field::ComplexTotal};

// A count the run accepts: a number of at least one.
std::optional<double> validCount(const QString &text)
{
    const auto count = readNumber(text);
    if (!count || *count < 1.0)
        return std::nullopt;
    return count;
}

} // namespace

BenchmarkRun::BenchmarkRun(BenchmarkView &view, KernelSet &kernels)
    : m_view(view), m_kernels(kernels)
{}

void BenchmarkRun::click()
{
    if (m_view.benchmarkCaption() == QStringLiteral("Abort"))
        requestAbort();
    else
        start();
}

void BenchmarkRun::requestAbort()
{
    m_abortRequested = true;
    if (!eventsRun())
        return;
    for (const Field field : AbortFillOrder) {
        if (m_view.text(field).isEmpty())
            m_view.setText(field, QStringLiteral("0"));
    }
}

bool BenchmarkRun::eventsRun()
{
    m_view.letEventsRun();
    return !m_view.isClosed();
}

void BenchmarkRun::appendLog(const QString &line)
{
    m_view.setLogText(m_view.logText() + line);
}

double BenchmarkRun::fieldNumber(Field field) const
{
    // Every field read here was written by the run itself (or set to "0" by an abort), so the
    // fallback only guards against a field someone else emptied.
    return readNumber(m_view.text(field)).value_or(0.0);
}

void BenchmarkRun::start()
{
    // A count that is not a number, or below one, would run nothing or divide by zero at the
    // end: refuse it before anything changes, as the burn-in window's Go! does.
    const QString countText = m_view.cycleCountText();
    const auto count = validCount(countText);
    if (!count) {
        m_view.showInvalidCount();
        return;
    }

    m_running = true;
    m_view.setBenchmarkCaption(QStringLiteral("Abort"));
    m_abortRequested = false;
    m_view.setSpeedTimerEnabled(false);
    m_view.expandWindow();
    m_view.setFrameKeeperEnabled(false);
    appendLog(QStringLiteral("-->Benchmark started at ") + m_view.currentTimeText() + Crlf);

    Outcome outcome = Outcome::Done;
    double cyclesRun = 0.0;
    for (double cycle = 1.0; cycle <= *count && outcome == Outcome::Done; cycle += 1.0) {
        outcome = runCycle(cycle);
        if (outcome == Outcome::Done)
            cyclesRun = cycle;
    }

    if (outcome == Outcome::Closed) {
        // The main window is gone: stop as an aborted run would, touching no window.
        m_abortRequested = true;
        m_cycleTotal = {};
        m_running = false;
        return;
    }
    if (outcome == Outcome::Done)
        finishSummary(cyclesRun);
    endRun();
}

BenchmarkRun::Outcome BenchmarkRun::runTest(int test, double cycle)
{
    const Test &t = Tests[test];
    m_view.setStatus(QString::fromUtf16(t.caption) + doubleText(cycle));
    if (m_abortRequested) {
        appendLog(QStringLiteral("!!!Benchmark Aborted at ") + m_view.currentTimeText() +
                  QStringLiteral("!!!") + Crlf);
        return Outcome::Aborted;
    }
    if (!eventsRun())
        return Outcome::Closed;

    double kernelValue = 0.0;
    double kernelSeconds = 0.0;
    QString error;
    if (!m_kernels.run(t.kernel, &kernelValue, &kernelSeconds, &error)) {
        m_view.showLibraryFailure(
            QStringLiteral("The benchmark library libkalvex.so could not be loaded: ") + error);
        if (m_view.isClosed())
            return Outcome::Closed;
        m_abortRequested = true;
        appendLog(QStringLiteral("!!!Benchmark Aborted at ") + m_view.currentTimeText() +
                  QStringLiteral("!!!") + Crlf);
        return Outcome::Aborted;
    }

    m_view.setText(t.seconds, doubleText(kernelSeconds));
    if (t.showsResult)
        m_view.setText(t.result, doubleText(kernelValue));
    return eventsRun() ? Outcome::Done : Outcome::Closed;
}

BenchmarkRun::Outcome BenchmarkRun::runCycle(double cycle)
{
    for (int test = 0; test < 4; ++test) {
        if (const Outcome o = runTest(test, cycle); o != Outcome::Done)
            return o;
    }
    // Totals come from the texts shown, read back, not from numbers held aside.
    m_simpleTotal = Currency::fromDouble(
        ((fieldNumber(Field::AdditionSeconds) + fieldNumber(Field::SubtractionSeconds)) +
         fieldNumber(Field::MultiplicationSeconds)) +
        fieldNumber(Field::DivisionSeconds));
    m_view.setText(Field::SimpleTotal, currencyText(m_simpleTotal));

    for (int test = 4; test < KernelCount; ++test) {
        if (const Outcome o = runTest(test, cycle); o != Outcome::Done)
            return o;
    }
    m_view.setText(Field::ComplexTotal,
                   doubleText((fieldNumber(Field::PrimeSeconds) + fieldNumber(Field::PiSeconds)) +
                              fieldNumber(Field::PowerSeconds)));
    if (!eventsRun())
        return Outcome::Closed;

    const Currency complexTotal =
        readCurrency(m_view.text(Field::ComplexTotal)).value_or(Currency());
    m_view.setText(Field::OverallTotal, currencyText(complexTotal + m_simpleTotal));
    m_view.setStatus(QStringLiteral("\u00BB Benchmark Complete."));

    const double overall = fieldNumber(Field::OverallTotal);
    m_view.setOwnBarWidth(static_cast<float>(overall * 30.0));
    m_barWidthText = doubleText(overall * 30.0);
    m_cycleText = doubleText(cycle);
    appendLog(QStringLiteral("Cycle ") + m_cycleText + QStringLiteral(" Completed.") +
              QStringLiteral(" Time: ") + m_view.text(Field::OverallTotal) +
              QStringLiteral(" seconds.") + Crlf);
    m_cycleTotal = Currency::fromDouble(overall + m_cycleTotal.toDouble());
    if (m_observer)
        m_observer->cycleCompleted({cycle, m_view.text(Field::SimpleTotal),
                                    m_view.text(Field::ComplexTotal),
                                    m_view.text(Field::OverallTotal)});
    return Outcome::Done;
}

void BenchmarkRun::finishSummary(double cyclesRun)
{
    const QString totalText = currencyText(m_cycleTotal);
    const QString finishText = m_view.currentTimeText();

    // The score is the time per cycle that ran: the count typed in the burn-in window may have
    // been edited during the run, or have a fraction ("2.5" runs two cycles), and a score no
    // cycle took would otherwise be shown and sent to a board.
    const QString countText = doubleText(cyclesRun);
    const double average = m_cycleTotal.toDouble() / cyclesRun;
    m_averageText = doubleText(average);
    m_averageScore = Currency::fromDouble(average);

    appendLog(QStringLiteral("Total time to perform ") + countText + QStringLiteral(" cycles: ") +
              totalText + QStringLiteral(" seconds.") + Crlf);
    appendLog(QStringLiteral("Average score: ") + m_averageText + QStringLiteral(" seconds.") +
              Crlf);
    appendLog(QStringLiteral("Benchmark finished at ") + finishText + QStringLiteral(".") + Crlf);
    m_cycleTotal = {};

    const Currency barWidth = m_averageScore * 30;
    m_view.setOwnBarWidth(static_cast<float>(barWidth.toDouble()));
    m_barWidthText = currencyText(barWidth);
    m_view.setText(Field::OverallTotal, currencyText(m_averageScore));
    m_view.showOwnResult();
    m_view.setSubmissionScore(m_view.text(Field::OverallTotal));
    m_view.setSubmitEnabled(true);
}

void BenchmarkRun::endRun()
{
    if (m_abortRequested) {
        m_view.setStatus(QStringLiteral("\u00BB Benchmark Aborted!"));
        m_cycleTotal = {};
    }
    m_view.setFrameKeeperEnabled(true);
    m_view.setBenchmarkEnabled(true);
    m_view.setSpeedTimerEnabled(true);
    m_view.setBenchmarkCaption(QStringLiteral("Benchmark"));
    m_running = false;
}
