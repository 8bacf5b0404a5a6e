#include "model/Ports.h"

#include <QtTest>

// The overrides are read once per process, so this test has a process of its own.
class TestPorts : public QObject
{
    Q_OBJECT

private slots:
    void overridesAreReadOnce();
};

void TestPorts::overridesAreReadOnce()
{
    qputenv("VARKO_GAP_PORT", "6000");
    qputenv("VARKO_FILE_PORT", "70000");
    qputenv("VARKO_CONF_PORT", "port");

    QCOMPARE(Ports::gapPort(), quint16(6000));
    QTest::ignoreMessage(QtWarningMsg, "VARKO_FILE_PORT=70000 is not a port 1-65535; using 5188");
    QCOMPARE(Ports::filePort(), quint16(5188));
    QTest::ignoreMessage(QtWarningMsg, "VARKO_CONF_PORT=port is not a port 1-65535; using 5189");
    QCOMPARE(Ports::confPort(), quint16(5189));

    qputenv("VARKO_GAP_PORT", "6001");
    qputenv("VARKO_FILE_PORT", "6002");
    QCOMPARE(Ports::gapPort(), quint16(6000));
    QCOMPARE(Ports::filePort(), quint16(5188));
}

QTEST_GUILESS_MAIN(TestPorts)
#include "tst_ports.moc"
