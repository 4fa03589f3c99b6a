// The guard and the end seam: a run-time error is reported once and ends the program, and an
// ended program runs nothing more of the handler that ended it, not even after a yield point.

#include "tests/support/testsupport.h"

#include "common/program.h"
#include "common/twips.h"

#include <QTest>
#include <QTimer>

#include <cstring>
#include <limits>
#include <memory>

class TestProgram : public QObject
{
    Q_OBJECT

    std::unique_ptr<SeamRecorder> m_seam;

private slots:
    void init() { m_seam = std::make_unique<SeamRecorder>(QStringLiteral("PIRVEL")); }

    void errorIsReportedAndEndsWithNonZeroStatus()
    {
        guarded([] {
            throw RuntimeError(ErrorNumber::FileNotFound, QStringLiteral("Filen \"x\" saknas."),
                               QStringLiteral("kopiera filen till mappen"));
        });
        QCOMPARE(m_seam->reports, QList<int>{53});
        // The quiz sends the child to the teacher with the step.
        QCOMPARE(m_seam->reportTexts,
                 QStringList{QStringLiteral(
                     "Filen \"x\" saknas. Be din lärare kopiera filen till mappen.")});
        QCOMPARE(m_seam->ends, QList<int>{1});
    }

    void endStopsTheRestOfTheHandler()
    {
        bool after = false;
        guarded([&] {
            endProgram(0);
            after = true;
        });
        QVERIFY(!after);
        QCOMPARE(m_seam->ends, QList<int>{0});
        QVERIFY(m_seam->reports.isEmpty());
    }

    void endInsideAYieldStopsTheInterruptedHandler()
    {
        // A click handled at a yield point that ends the program must not let the interrupted
        // handler go on to play or write anything.
        bool resumed = false;
        QTimer::singleShot(0, [] { guarded([] { endProgram(0); }); });
        guarded([&] {
            processPendingEvents();
            resumed = true;
        });
        QVERIFY(!resumed);
        QCOMPARE(m_seam->ends, QList<int>{0});
    }

    void unexpectedExceptionIsReportedNotPropagated()
    {
        guarded([] { throw std::bad_alloc(); });
        QCOMPARE(m_seam->reports.size(), 1);
        QCOMPARE(m_seam->ends, QList<int>{1});
    }

    void fittedZoom_data()
    {
        QTest::addColumn<float>("target");
        QTest::addColumn<float>("width");
        QTest::addColumn<float>("zoom");
        QTest::newRow("2400 to 3600") << 3600.0f << 2400.0f << 150.0f;
        QTest::newRow("3000 to 2500") << 2500.0f << 3000.0f << 83.333336f;
        QTest::newRow("1500 to 2500") << 2500.0f << 1500.0f << 166.66667f;
    }
    void fittedZoom()
    {
        QFETCH(float, target);
        QFETCH(float, width);
        QFETCH(float, zoom);
        // Bit for bit, since the precision of the arithmetic is the point.
        const float got = ::fittedZoom(target, width);
        QVERIFY2(std::memcmp(&got, &zoom, sizeof got) == 0,
                 qPrintable(QString::number(double(got), 'g', 10)));
    }

    void fittedZoomFaults()
    {
        QVERIFY_THROWS_EXCEPTION(RuntimeError, ::fittedZoom(3600.0f, 0.0f));
        QVERIFY_THROWS_EXCEPTION(RuntimeError,
                                 ::fittedZoom(3600.0f, std::numeric_limits<float>::denorm_min()));
    }
};

QTEST_MAIN(TestProgram)
#include "tst_program.moc"
