#include "host/file_format/chunk_cipher.h"
#include "host/data_ops/cipher_backend.h"

#include <QTest>

#include <functional>
#include <vector>

using namespace virellock::dataops;

namespace {

// Changes one answer of the built-in set.
using Change = std::function<void(std::vector<CipherKnownAnswer>&)>;

CipherKnownAnswer& answerFor(std::vector<CipherKnownAnswer>& answers, CipherAlgorithm algorithm)
{
    for (CipherKnownAnswer& answer : answers) {
        if (answer.algorithm == algorithm)
            return answer;
    }
    qFatal("no built-in answer for the algorithm");
}

void flipByte(QByteArray& bytes, qsizetype at)
{
    bytes[at] = char(bytes.at(at) ^ 0x01);
}

} // namespace

Q_DECLARE_METATYPE(Change)

class TestCipherBackend : public QObject
{
    Q_OBJECT

private slots:
    void builtInAnswersPass();
    void changedAnswerFails_data();
    void changedAnswerFails();
};

// In a normal build OpenSSL's legacy provider is present, and the program's chunks match the
// answers computed without it.
void TestCipherBackend::builtInAnswersPass()
{
    const CipherBackendStatus status = checkCipherBackend(builtInKnownAnswers());
    QVERIFY(status.des);
    QVERIFY(status.rc4);
    QCOMPARE(status.fault, CipherBackendFault::None);
    QVERIFY(status.openSslError.isEmpty());

    const CipherBackendStatus& remembered = cipherBackendAvailable();
    QVERIFY(remembered.allWork());
    QCOMPARE(&cipherBackendAvailable(), &remembered);
}

// An answer the program does not reproduce fails its algorithm, and only that one.
void TestCipherBackend::changedAnswerFails_data()
{
    QTest::addColumn<Change>("change");
    QTest::addColumn<bool>("desWorks");
    QTest::addColumn<bool>("rc4Works");

    for (const CipherAlgorithm algorithm : {CipherAlgorithm::Des, CipherAlgorithm::Rc4}) {
        const bool des = algorithm == CipherAlgorithm::Des;
        auto row = [&](const char* what, std::function<void(CipherKnownAnswer&)> change,
                       bool otherWorks = true) {
            QTest::addRow("%s %s", des ? "DES" : "RC4", what)
                << Change([algorithm, change](std::vector<CipherKnownAnswer>& all) {
                       change(answerFor(all, algorithm));
                   })
                << (!des && otherWorks) << (des && otherWorks);
        };
        row("ciphertext byte", [](CipherKnownAnswer& a) { flipByte(a.sealed, 0); });
        row("last ciphertext byte",
            [](CipherKnownAnswer& a) { flipByte(a.sealed, a.sealed.size() - kTagSize - 1); });
        row("tag byte", [](CipherKnownAnswer& a) { flipByte(a.sealed, a.sealed.size() - 1); });
        row("plain byte", [](CipherKnownAnswer& a) { flipByte(a.plain, 3); });
        row("cipher key byte", [](CipherKnownAnswer& a) { flipByte(a.cipherKey, 31); });
        row("MAC key byte", [](CipherKnownAnswer& a) { flipByte(a.macKey, 0); });
        row("index", [](CipherKnownAnswer& a) { a.index ^= quint64(1) << 56; });
        row("sealed cut short", [](CipherKnownAnswer& a) { a.sealed.chop(1); });
        // The algorithm is left with no answer, the other with one it cannot reproduce.
        row(
            "answer given as the other algorithm's",
            [](CipherKnownAnswer& a) {
                a.algorithm = a.algorithm == CipherAlgorithm::Des ? CipherAlgorithm::Rc4
                                                                  : CipherAlgorithm::Des;
            },
            false);
    }
    QTest::newRow("no DES answer") << Change([](std::vector<CipherKnownAnswer>& all) {
        std::erase_if(all, [](const auto& a) { return a.algorithm == CipherAlgorithm::Des; });
    }) << false << true;
}

void TestCipherBackend::changedAnswerFails()
{
    QFETCH(Change, change);
    QFETCH(bool, desWorks);
    QFETCH(bool, rc4Works);

    std::vector<CipherKnownAnswer> answers = builtInKnownAnswers();
    change(answers);
    const CipherBackendStatus status = checkCipherBackend(answers);
    QCOMPARE(status.des, desWorks);
    QCOMPARE(status.rc4, rc4Works);
    QCOMPARE(status.fault, CipherBackendFault::WrongResult);
}

QTEST_GUILESS_MAIN(TestCipherBackend)
#include "tst_cipher_backend.moc"
