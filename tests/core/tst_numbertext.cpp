#include "core/currency.h"
#include "core/numbertext.h"
#include "core/timetext.h"

#include <QTest>

#include <limits>

class TestNumberText : public QObject
{
    Q_OBJECT

private slots:
    void currencyFromDouble_data();
    void currencyFromDouble();
    void currencyArithmeticSaturates();
    void doubleText_data();
    void doubleText();
    void currencyText_data();
    void currencyText();
    void readNumber_data();
    void readNumber();
    void roundTripThroughText_data();
    void roundTripThroughText();
    void wholeNumber_data();
    void wholeNumber();
    void timeTextHasNoZone_data();
    void timeTextHasNoZone();
};

void TestNumberText::currencyFromDouble_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<qint64>("raw");

    QTest::newRow("whole") << 30.0 << qint64(300000);
    QTest::newRow("four decimals") << 1.2345 << qint64(12345);
    QTest::newRow("rounds down") << 3.33333333333333 << qint64(33333);
    QTest::newRow("rounds up") << 0.66666666 << qint64(6667);
    QTest::newRow("tie to even below") << 0.03125 << qint64(312);
    QTest::newRow("tie to even above") << 0.09375 << qint64(938);
    QTest::newRow("negative tie to even") << -0.03125 << qint64(-312);
    QTest::newRow("nan is zero") << std::numeric_limits<double>::quiet_NaN() << qint64(0);
    QTest::newRow("huge saturates") << 1e300 << std::numeric_limits<qint64>::max();
    QTest::newRow("huge negative saturates") << -1e300 << std::numeric_limits<qint64>::min();
}

void TestNumberText::currencyFromDouble()
{
    QFETCH(double, value);
    QFETCH(qint64, raw);
    QCOMPARE(Currency::fromDouble(value).raw(), raw);
}

void TestNumberText::currencyArithmeticSaturates()
{
    const Currency big = Currency::fromRaw(std::numeric_limits<qint64>::max() - 1);
    QCOMPARE((big + Currency::fromRaw(5)).raw(), std::numeric_limits<qint64>::max());
    QCOMPARE((big * 30).raw(), std::numeric_limits<qint64>::max());
    QCOMPARE((big * -30).raw(), std::numeric_limits<qint64>::min());
    QCOMPARE((Currency::fromDouble(41.2) * 30).raw(), qint64(12360000));
    QCOMPARE((Currency::fromDouble(3.3333) * 30).raw(), qint64(999990));
}

void TestNumberText::doubleText_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("text");

    const QString en = QStringLiteral("en_US");
    QTest::newRow("zero") << 0.0 << en << QStringLiteral("0");
    QTest::newRow("negative zero") << -0.0 << en << QStringLiteral("0");
    QTest::newRow("fifteen digits") << 2.7340000000000004 << en << QStringLiteral("2.734");
    QTest::newRow("whole value drops its point") << 30712429.0 << en << QStringLiteral("30712429");
    QTest::newRow("third") << 10.0 / 3.0 << en << QStringLiteral("3.33333333333333");
    QTest::newRow("pi result") << 3.1415926449823899 << en << QStringLiteral("3.14159264498239");
    QTest::newRow("power result") << 1.0460278636963902 << en << QStringLiteral("1.04602786369639");
    QTest::newRow("large is plain")
        << 1.2500000075e17 << en << QStringLiteral("125000000750000000");
    QTest::newRow("small is plain") << 0.00012 << en << QStringLiteral("0.00012");
    QTest::newRow("milliseconds") << 0.001 << en << QStringLiteral("0.001");
    QTest::newRow("negative") << -1.5 << en << QStringLiteral("-1.5");
    // Doubles just below a round number, whose fifteenth digit rounds up through every nine.
    QTest::newRow("carry into a new digit") << 9.999999999999998 << en << QStringLiteral("10");
    QTest::newRow("carry across the point") << 99999.99999999999 << en << QStringLiteral("100000");
    QTest::newRow("carry after the point") << 0.12999999999999998 << en << QStringLiteral("0.13");
    QTest::newRow("carry into a sixteenth digit")
        << 999999999999999.9 << en << QStringLiteral("1000000000000000");
    QTest::newRow("bar width") << 3.3333 * 30.0 << en << QStringLiteral("99.999");
    QTest::newRow("comma locale") << 2.5 << QStringLiteral("de_DE") << QStringLiteral("2,5");
    QTest::newRow("comma locale no grouping")
        << 1234567.25 << QStringLiteral("de_DE") << QStringLiteral("1234567,25");
}

void TestNumberText::doubleText()
{
    QFETCH(double, value);
    QFETCH(QString, locale);
    QFETCH(QString, text);
    QCOMPARE(::doubleText(value, QLocale(locale)), text);
}

void TestNumberText::currencyText_data()
{
    QTest::addColumn<qint64>("raw");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("text");

    const QString en = QStringLiteral("en_US");
    QTest::newRow("zero") << qint64(0) << en << QStringLiteral("0");
    QTest::newRow("whole") << qint64(300000) << en << QStringLiteral("30");
    QTest::newRow("one decimal") << qint64(125000) << en << QStringLiteral("12.5");
    QTest::newRow("four decimals") << qint64(33333) << en << QStringLiteral("3.3333");
    QTest::newRow("leading zeros in the fraction")
        << qint64(10005) << en << QStringLiteral("1.0005");
    QTest::newRow("below one") << qint64(17) << en << QStringLiteral("0.0017");
    QTest::newRow("negative") << qint64(-25000) << en << QStringLiteral("-2.5");
    QTest::newRow("minimum") << std::numeric_limits<qint64>::min() << en
                             << QStringLiteral("-922337203685477.5808");
    QTest::newRow("comma locale") << qint64(33333) << QStringLiteral("de_DE")
                                  << QStringLiteral("3,3333");
    QTest::newRow("thousands have no separator")
        << qint64(12345670000) << QStringLiteral("de_DE") << QStringLiteral("1234567");
}

void TestNumberText::currencyText()
{
    QFETCH(qint64, raw);
    QFETCH(QString, locale);
    QFETCH(QString, text);
    QCOMPARE(::currencyText(Currency::fromRaw(raw), QLocale(locale)), text);
}

void TestNumberText::readNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<double>("value");

    const QString en = QStringLiteral("en_US");
    const QString de = QStringLiteral("de_DE");
    QTest::newRow("whole") << QStringLiteral("2") << en << true << 2.0;
    QTest::newRow("fraction") << QStringLiteral("2.5") << en << true << 2.5;
    QTest::newRow("blanks around") << QStringLiteral("  3  ") << en << true << 3.0;
    QTest::newRow("signed") << QStringLiteral("-3") << en << true << -3.0;
    QTest::newRow("plus sign") << QStringLiteral("+4") << en << true << 4.0;
    QTest::newRow("exponent") << QStringLiteral("1e3") << en << true << 1000.0;
    QTest::newRow("leading point") << QStringLiteral(".5") << en << true << 0.5;
    QTest::newRow("empty") << QString() << en << false << 0.0;
    QTest::newRow("only blanks") << QStringLiteral("   ") << en << false << 0.0;
    QTest::newRow("letters") << QStringLiteral("abc") << en << false << 0.0;
    QTest::newRow("number then letters") << QStringLiteral("12abc") << en << false << 0.0;
    QTest::newRow("blank inside") << QStringLiteral("1 2") << en << false << 0.0;
    QTest::newRow("thousands separator refused") << QStringLiteral("1,000") << en << false << 0.0;
    QTest::newRow("infinity refused") << QStringLiteral("inf") << en << false << 0.0;
    QTest::newRow("nan refused") << QStringLiteral("nan") << en << false << 0.0;
    QTest::newRow("overflow refused") << QStringLiteral("1e400") << en << false << 0.0;
    QTest::newRow("comma locale fraction") << QStringLiteral("2,5") << de << true << 2.5;
    QTest::newRow("comma locale refuses a point") << QStringLiteral("2.5") << de << false << 0.0;
}

void TestNumberText::readNumber()
{
    QFETCH(QString, text);
    QFETCH(QString, locale);
    QFETCH(bool, valid);
    QFETCH(double, value);

    const auto read = ::readNumber(text, QLocale(locale));
    QCOMPARE(read.has_value(), valid);
    if (valid)
        QCOMPARE(*read, value);
}

void TestNumberText::roundTripThroughText_data()
{
    QTest::addColumn<QString>("locale");
    QTest::newRow("point") << QStringLiteral("en_US");
    QTest::newRow("comma") << QStringLiteral("de_DE");
    QTest::newRow("french") << QStringLiteral("fr_FR");
}

// The run forms totals by reading back what it wrote: that must give the numbers again.
void TestNumberText::roundTripThroughText()
{
    QFETCH(QString, locale);
    const QLocale l(locale);
    for (const double v : {0.001, 0.264, 1.712, 12.5, 30712429.0, 3.14159264498239, 99.999}) {
        const auto back = ::readNumber(::doubleText(v, l), l);
        QVERIFY(back.has_value());
        QCOMPARE(*back, v);
    }
    const Currency c = Currency::fromDouble(3.3333);
    QCOMPARE(readCurrency(::currencyText(c, l), l), std::optional<Currency>(c));
}

void TestNumberText::timeTextHasNoZone_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("text");
    QTest::newRow("english") << QStringLiteral("en_US") << QStringLiteral("2:05:09 PM");
    QTest::newRow("german") << QStringLiteral("de_DE") << QStringLiteral("14:05:09");
}

void TestNumberText::timeTextHasNoZone()
{
    QFETCH(QString, locale);
    QFETCH(QString, text);
    QCOMPARE(::timeText(QTime(14, 5, 9), QLocale(locale)), text);
}

void TestNumberText::wholeNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("lowest");
    QTest::addColumn<qint64>("highest");
    QTest::addColumn<qint64>("expected"); // -1: no value
    const qint64 most = std::numeric_limits<qint64>::max();
    QTest::newRow("lowest") << "1" << qint64(1) << qint64(65535) << qint64(1);
    QTest::newRow("highest") << "65535" << qint64(1) << qint64(65535) << qint64(65535);
    QTest::newRow("above") << "65536" << qint64(1) << qint64(65535) << qint64(-1);
    QTest::newRow("below") << "0" << qint64(1) << qint64(65535) << qint64(-1);
    QTest::newRow("leading zeros") << "007" << qint64(0) << qint64(10) << qint64(7);
    QTest::newRow("eighteen digits")
        << "999999999999999999" << qint64(0) << most << qint64(999999999999999999);
    QTest::newRow("nineteen digits") << "1000000000000000000" << qint64(0) << most << qint64(-1);
    QTest::newRow("past 2^64") << "18446744073709551617" << qint64(0) << most << qint64(-1);
    QTest::newRow("plus sign") << "+5" << qint64(0) << qint64(10) << qint64(-1);
    QTest::newRow("minus sign") << "-1" << qint64(-5) << qint64(10) << qint64(-1);
    QTest::newRow("blank before") << " 5" << qint64(0) << qint64(10) << qint64(-1);
    QTest::newRow("blank after") << "5 " << qint64(0) << qint64(10) << qint64(-1);
    QTest::newRow("empty") << "" << qint64(0) << qint64(10) << qint64(-1);
    QTest::newRow("hexadecimal") << "0x10" << qint64(0) << qint64(100) << qint64(-1);
    QTest::newRow("other digits") << QStringLiteral("\u0661\u0662") << qint64(0) << qint64(100)
                                  << qint64(-1);
    QTest::newRow("fraction") << "1.0" << qint64(0) << qint64(10) << qint64(-1);
}

void TestNumberText::wholeNumber()
{
    QFETCH(QString, text);
    QFETCH(qint64, lowest);
    QFETCH(qint64, highest);
    QFETCH(qint64, expected);
    const std::optional<qint64> value = ::wholeNumber(text, lowest, highest);
    QCOMPARE(value.value_or(-1), expected);
}

QTEST_GUILESS_MAIN(TestNumberText)
#include "tst_numbertext.moc"
