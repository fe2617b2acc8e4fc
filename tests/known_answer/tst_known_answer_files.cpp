#include "engine/decrypted_file.h"
#include "host/data_ops/password_check.h"
#include "support/file_helpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <utility>

using namespace virellock;
using namespace virellock::test;

namespace {

// Where a changed file must be turned away: reading the record, checking the password, or
// restoring the payload (or, for a standard method, the whole file).
enum class RefusedBy
{
    Record,
    PasswordCheck,
    Restore,
};

constexpr qint64 kChunkEnd = 16 + (1 << 20) + 32; // salt + one full sealed chunk

} // namespace

Q_DECLARE_METATYPE(RefusedBy)

// Files written by make_known_answer_files from docs/FORMAT.md with OpenSSL and zstd alone,
// restored here by the program's own code: what the program reads is what FORMAT.md says.
class TestKnownAnswerFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void restores_data();
    void restores();
    void refusesChanges_data();
    void refusesChanges();

private:
    std::optional<QJsonObject> entryFor(const QString& file) const;
    QString copyToTemporaryFolder(const QString& name, const QByteArray& bytes);

    const QDir m_dir{QStringLiteral(VIRELLOCK_TEST_DATA_DIR "/known_answer")};
    QList<QJsonObject> m_entries; // in the manifest's order
    QTemporaryDir m_temporary;
};

void TestKnownAnswerFiles::initTestCase()
{
    QVERIFY(m_temporary.isValid());
    QFile manifest(m_dir.filePath(QStringLiteral("manifest.json")));
    QVERIFY(manifest.open(QIODevice::ReadOnly));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(manifest.readAll(), &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    for (const QJsonValue& value : document.array())
        m_entries.append(value.toObject());
    QVERIFY(!m_entries.isEmpty());
}

std::optional<QJsonObject> TestKnownAnswerFiles::entryFor(const QString& file) const
{
    for (const QJsonObject& entry : m_entries) {
        if (entry[QLatin1String("file")].toString() == file)
            return entry;
    }
    return std::nullopt;
}

// A fresh folder per row, holding only the copy: anything left beside it shows.
QString TestKnownAnswerFiles::copyToTemporaryFolder(const QString& name, const QByteArray& bytes)
{
    const QString folder = m_temporary.filePath(QString::fromUtf8(QTest::currentTestFunction()) +
                                                u'/' + QString::fromUtf8(QTest::currentDataTag()));
    if (!QDir().mkpath(folder))
        return {};
    const QString path = QDir(folder).filePath(name);
    return writeFile(path, bytes) ? path : QString();
}

void TestKnownAnswerFiles::restores_data()
{
    QTest::addColumn<QJsonObject>("entry");
    for (const QJsonObject& entry : std::as_const(m_entries))
        QTest::newRow(qPrintable(entry[QLatin1String("file")].toString())) << entry;
}

void TestKnownAnswerFiles::restores()
{
    QFETCH(QJsonObject, entry);
    const QString name = entry[QLatin1String("file")].toString();
    const QString password = entry[QLatin1String("password")].toString();
    const std::optional<Method> method = methodFromIndex(entry[QLatin1String("method")].toInt(-1));
    QVERIFY(method);
    const QByteArray plain = readFile(m_dir.filePath(entry[QLatin1String("plain")].toString()));
    const QString path = copyToTemporaryFolder(name, readFile(m_dir.filePath(name)));
    QVERIFY(!path.isEmpty());

    if (isEnhanced(*method)) {
        const std::optional<EnhancedRecord> record = readEnhancedRecordFile(path);
        QVERIFY(record);
        QCOMPARE(record->hint, entry[QLatin1String("hint")].toString());
        QVERIFY(dataops::verifyPasswordCheck(record->password_check, password));
        // Nothing is trimmed: a trailing blank makes another password.
        QVERIFY(!dataops::verifyPasswordCheck(record->password_check, password + u' '));
        QCOMPARE(restoreEnhancedFile(path, *method, *record, password), JobOutcome::Done);
    } else {
        QCOMPARE(decryptStandardFile(path, *cipherOf(*method), password), JobOutcome::Done);
    }
    QCOMPARE(readFile(path), plain);
    QCOMPARE(folderEntries(QFileInfo(path).path()), QStringList{name});
}

// Offsets in the files used here (see docs/FORMAT.md for the layouts):
//   rc4-standard-small.bin (80 bytes): salt 0-15, ciphertext 16-47, tag 48-79
//   des-standard-small.bin (88 bytes): salt 0-15, ciphertext 16-55, tag 56-87
//   *-standard-1mib-and-5.bin: chunk 0 ends at kChunkEnd, chunk 1 starts there
//   *-standard-1mib.bin: chunk 0 (full), then the last chunk, whose plain text is empty
//   des-enhanced-small.bin (172 bytes): password_check length 0-7, salt 8-23, hash 24-55;
//     hint length 56-63, hint 64-75 ("阿里巴巴"); payload length 76-83; payload 84-171
//     (salt 84-99, ciphertext 100-139, tag 140-171)
//   md5-enhanced-small.bin (124 bytes): password_check 0-55 as above, hint length 56-63,
//     hint 64-70; payload length 71-78; zstd frame 79-123: magic 79-82, frame header
//     descriptor 83, content size 84, block header 85-87, raw block 88-119, checksum 120-123
void TestKnownAnswerFiles::refusesChanges_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<qint64>("at");  // byte to flip; negative counts from the end
    QTest::addColumn<int>("mask");   // what to flip there; 0 flips nothing
    QTest::addColumn<int>("resize"); // bytes appended (positive) or cut from the end
    QTest::addColumn<RefusedBy>("refusedBy");

    const auto row = [](const QByteArray& tag, const char* file, qint64 at, int mask, int resize,
                        RefusedBy refusedBy) {
        QTest::newRow(tag.constData())
            << QString::fromLatin1(file) << at << mask << resize << refusedBy;
    };
    constexpr auto restore = RefusedBy::Restore;
    for (const char* file : {"des-standard-small.bin", "rc4-standard-small.bin"}) {
        const QByteArray prefix = QByteArray(file).first(3);
        row(prefix + " salt", file, 0, 0x10, 0, restore);
        row(prefix + " first ciphertext byte", file, 16, 0x01, 0, restore);
        row(prefix + " first tag byte", file, prefix == "des" ? 56 : 48, 0x80, 0, restore);
        row(prefix + " last byte", file, -1, 0x01, 0, restore);
        row(prefix + " byte appended", file, 0, 0, 1, restore);
        row(prefix + " last byte removed", file, 0, 0, -1, restore);
    }
    for (const char* file : {"des-standard-1mib-and-5.bin", "rc4-standard-1mib-and-5.bin"}) {
        const QByteArray prefix = QByteArray(file).first(3);
        row(prefix + " last tag byte of chunk 0", file, kChunkEnd - 1, 0x01, 0, restore);
        row(prefix + " first byte of chunk 1", file, kChunkEnd, 0x01, 0, restore);
    }
    // Without its empty last chunk, the full chunk 0 would have to pass as the last one: its
    // tag says it is not (and RC4's last chunk is shorter than a full one by definition).
    row("des 1 MiB without its empty last chunk", "des-standard-1mib.bin", 0, 0, -40, restore);
    row("rc4 1 MiB without its empty last chunk", "rc4-standard-1mib.bin", 0, 0, -32, restore);

    const char* des = "des-enhanced-small.bin";
    row("des record password_check length past the end", des, 7, 0x10, 0, RefusedBy::Record);
    row("des record password_check salt", des, 8, 0x01, 0, RefusedBy::PasswordCheck);
    row("des record password_check hash", des, 55, 0x01, 0, RefusedBy::PasswordCheck);
    row("des record hint length", des, 56, 0x10, 0, RefusedBy::Record);
    // The hint is not authenticated: only a change that leaves no valid UTF-8 is refused.
    // 0xE9 starts "阿"; 0xF9 starts no UTF-8 sequence at all.
    row("des record hint not UTF-8", des, 64, 0x10, 0, RefusedBy::Record);
    row("des record payload length", des, 76, 0x01, 0, RefusedBy::Record);
    row("des record payload salt", des, 84, 0x01, 0, restore);
    row("des record payload ciphertext", des, 100, 0x01, 0, restore);
    row("des record payload tag", des, 140, 0x01, 0, restore);
    row("des record byte appended", des, 0, 0, 1, RefusedBy::Record);
    row("des record last byte removed", des, 0, 0, -1, RefusedBy::Record);

    // A zstd frame header has bits a decoder ignores (the descriptor's unused bit 0x10), whose
    // flip would still restore the same content. These changes must not: the magic number,
    // the checksum flag (the program reads only frames with a checksum), the declared content
    // size, the block's stored bytes (the checksum no longer matches) and the checksum itself.
    const char* md5 = "md5-enhanced-small.bin";
    row("md5 password_check salt", md5, 8, 0x01, 0, RefusedBy::PasswordCheck);
    row("md5 zstd magic", md5, 79, 0x01, 0, restore);
    row("md5 zstd checksum flag", md5, 83, 0x04, 0, restore);
    row("md5 zstd content size", md5, 84, 0x01, 0, restore);
    row("md5 zstd block data", md5, 88, 0x01, 0, restore);
    row("md5 zstd checksum", md5, -1, 0x01, 0, restore);
    row("md5 byte appended", md5, 0, 0, 1, RefusedBy::Record);
    row("md5 last byte removed", md5, 0, 0, -1, RefusedBy::Record);

    // Two frames: a full one of 4 MiB (its content size in 4 bytes from offset 83) and the
    // empty last one (its content size at 13 bytes from the end). A frame that declares more
    // than 4 MiB, less than it holds, or content where there is none is refused, and so is a
    // damaged checksum of either frame.
    const char* twoFrames = "md5-enhanced-4mib.bin";
    row("md5 two frames first declares more than 4 MiB", twoFrames, 83, 0x01, 0, restore);
    row("md5 two frames first declares less", twoFrames, 85, 0x40, 0, restore);
    row("md5 two frames first raw block", twoFrames, 100, 0x01, 0, restore);
    row("md5 two frames first checksum", twoFrames, -14, 0x01, 0, restore);
    row("md5 two frames last declares content", twoFrames, -8, 0x01, 0, restore);
    row("md5 two frames last checksum", twoFrames, -1, 0x01, 0, restore);
}

void TestKnownAnswerFiles::refusesChanges()
{
    QFETCH(QString, file);
    QFETCH(qint64, at);
    QFETCH(int, mask);
    QFETCH(int, resize);
    QFETCH(RefusedBy, refusedBy);
    const std::optional<QJsonObject> found = entryFor(file);
    QVERIFY(found);
    const QJsonObject entry = *found;
    const QString password = entry[QLatin1String("password")].toString();
    const std::optional<Method> method = methodFromIndex(entry[QLatin1String("method")].toInt(-1));
    QVERIFY(method);

    QByteArray changed = readFile(m_dir.filePath(file));
    const qint64 index = at < 0 ? changed.size() + at : at;
    QVERIFY(index >= 0 && index < changed.size());
    changed[index] = char(changed.at(index) ^ mask);
    if (resize >= 0)
        changed.append(resize, '\0');
    else
        changed.chop(-resize);
    QVERIFY(changed != readFile(m_dir.filePath(file)));
    const QString path = copyToTemporaryFolder(file, changed);
    QVERIFY(!path.isEmpty());

    if (isEnhanced(*method)) {
        const std::optional<EnhancedRecord> record = readEnhancedRecordFile(path);
        QCOMPARE(bool(record), refusedBy != RefusedBy::Record);
        if (record) {
            const bool accepted = dataops::verifyPasswordCheck(record->password_check, password);
            QCOMPARE(accepted, refusedBy != RefusedBy::PasswordCheck);
            if (accepted)
                QCOMPARE(restoreEnhancedFile(path, *method, *record, password),
                         JobOutcome::BadInput);
        }
    } else {
        QCOMPARE(decryptStandardFile(path, *cipherOf(*method), password), JobOutcome::BadInput);
    }
    QCOMPARE(readFile(path), changed);
    QCOMPARE(folderEntries(QFileInfo(path).path()), QStringList{file});
}

QTEST_GUILESS_MAIN(TestKnownAnswerFiles)
#include "tst_known_answer_files.moc"
