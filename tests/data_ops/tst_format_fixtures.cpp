#include "host/data_ops/data_ops.h"
#include "host/data_ops/password_check.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace virellock;

// Outputs made by an earlier build, checked in: every build must still read them.
class TestFormatFixtures : public QObject
{
    Q_OBJECT

private slots:
    void readsCheckedInOutputs_data();
    void readsCheckedInOutputs();

private:
    const QDir m_dir{QStringLiteral(VIRELLOCK_TEST_DATA_DIR "/format")};
};

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read fixture %s", qPrintable(path));
    return file.readAll();
}

} // namespace

void TestFormatFixtures::readsCheckedInOutputs_data()
{
    QTest::addColumn<QJsonObject>("fixture");
    const QJsonArray manifest =
        QJsonDocument::fromJson(readFile(m_dir.filePath(QStringLiteral("fixtures.json")))).array();
    QVERIFY(manifest.size() >= 10);
    for (const QJsonValue& value : manifest) {
        const QJsonObject fixture = value.toObject();
        QTest::newRow(qPrintable(fixture[QLatin1String("input")].toString())) << fixture;
    }
}

void TestFormatFixtures::readsCheckedInOutputs()
{
    QFETCH(QJsonObject, fixture);
    const QString operation = fixture[QLatin1String("operation")].toString();
    const QString password = fixture[QLatin1String("password")].toString();
    const QByteArray input = readFile(m_dir.filePath(fixture[QLatin1String("input")].toString()));

    if (operation == QLatin1String("password-check")) {
        QVERIFY(dataops::verifyPasswordCheck(input, password));
        QVERIFY(!dataops::verifyPasswordCheck(input, password.trimmed()));
        return;
    }
    const QByteArray plain = readFile(m_dir.filePath(fixture[QLatin1String("plain")].toString()));
    if (operation == QLatin1String("decompress")) {
        QCOMPARE(DecompressData(input), plain);
        return;
    }
    QCOMPARE(operation, QStringLiteral("decrypt"));
    const int selector = fixture[QLatin1String("selector")].toInt();
    QCOMPARE(DecryptData(input, password, selector), plain);
    QVERIFY(!DecryptData(input, password, 3 - selector));
}

QTEST_GUILESS_MAIN(TestFormatFixtures)
#include "tst_format_fixtures.moc"
