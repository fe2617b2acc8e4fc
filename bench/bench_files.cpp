// Encrypts and decrypts one file in place with each method, as the commands do, and reports
// the time a person waits, MiB/s and the process's peak memory. Run one method per process to
// read its own peak (bench/compare_peers.sh does that).
//
// Encrypting is timed from the moment the file is confirmed in the open-file dialog: the keys
// are derived while the dialog is shown (KeyPreparation), which a person keeps open longer than
// the derivation takes, so the benchmark waits for them first and reports that time apart
// (keys_s; add it for files that come without a dialog, dropped or named on the command line).
// Decrypting is timed from the moment the password is confirmed: reading the record, checking
// the password and deriving the keys are all in it.
//
//   bench_files FILE [--method N] [--no-verify]

#include "engine/decrypted_file.h"
#include "engine/encrypted_file.h"
#include "engine/prepared_keys.h"
#include "support/sha256.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <cstring>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#include <unistd.h>
#endif

using namespace virellock;

namespace {

const QString kPassword = QStringLiteral("benchmark password");

QByteArray digestOf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    test::Sha256 digest;
    QByteArray buffer(4 << 20, Qt::Uninitialized);
    for (qint64 read; (read = file.read(buffer.data(), buffer.size())) > 0;)
        digest.update(QByteArrayView(buffer).first(qsizetype(read)));
    return digest.result();
}

JobResult decrypt(const QString& path, int method, const JobOptions& options)
{
    const Method m = *methodFromIndex(method);
    if (!isEnhanced(m))
        return decryptStandardFile(path, *cipherOf(m), kPassword, options);
    // The password is checked inside, as the decrypt command has it.
    const auto record = readEnhancedRecordFile(path);
    if (!record)
        return {JobOutcome::BadInput, JobStep::Record, QStringLiteral("no record")};
    return restoreEnhancedFile(path, m, *record, kPassword, options);
}

// Writes out what earlier steps left in the system's cache before a step is timed, so that
// each starts with the disk idle, as the peers' runs do: otherwise the write-back of the copy
// or of the previous step competes with this one's writes and its sync at the end.
void settleDisk()
{
#ifdef Q_OS_UNIX
    ::sync();
#endif
}

double peakMemoryMiB()
{
#ifdef Q_OS_UNIX
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0; // KiB on Linux
#else
    return 0;
#endif
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QStringList arguments = application.arguments().mid(1);
    if (arguments.isEmpty()) {
        std::fprintf(stderr, "usage: bench_files FILE [--method N] [--no-verify]\n");
        return 2;
    }
    const QString original = arguments.takeFirst();
    QList<int> methods = {0, 1, 2, 3, 4};
    JobOptions options;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--method") && i + 1 < arguments.size())
            methods = {arguments[++i].toInt()};
        else if (arguments[i] == QLatin1String("--no-verify"))
            options.verifyBeforeReplacing = false;
    }
    const QString work = original + QStringLiteral(".bench");
    const double mib = double(QFileInfo(original).size()) / (1 << 20);
    const QByteArray expected = digestOf(original);

    std::printf("method  encrypt_s  encrypt_MiB/s  keys_s  decrypt_s  decrypt_MiB/s  peak_MiB  "
                "verify\n");
    for (int method : methods) {
        QFile::remove(work);
        if (!QFile::copy(original, work)) {
            std::fprintf(stderr, "cannot copy %s\n", qPrintable(original));
            return 1;
        }
        settleDisk();
        QElapsedTimer timer;
        timer.start();
        // The open-file dialog: the keys are derived meanwhile.
        KeyPreparation preparation(*methodFromIndex(method), kPassword);
        std::optional<EncryptionKeys> keys = preparation.take();
        const double keySeconds = double(timer.nsecsElapsed()) / 1e9;
        timer.restart();
        const JobResult encrypted =
            encryptFile(work, method, kPassword, QStringLiteral("hint"), options, std::move(keys));
        const double encryptSeconds = double(timer.nsecsElapsed()) / 1e9;
        settleDisk();
        timer.restart();
        const JobResult decrypted = decrypt(work, method, options);
        const double decryptSeconds = double(timer.nsecsElapsed()) / 1e9;
        if (!encrypted.done() || !decrypted.done() || digestOf(work) != expected) {
            const JobResult& failed = encrypted.done() ? decrypted : encrypted;
            std::fprintf(stderr, "method %d did not round-trip: %s (%s)\n", method,
                         qPrintable(describe(failed.step)), qPrintable(failed.detail));
            QFile::remove(work);
            return 1;
        }
        std::printf("%6d  %9.3f  %13.1f  %6.3f  %9.3f  %13.1f  %8.1f  %s\n", method, encryptSeconds,
                    mib / encryptSeconds, keySeconds, decryptSeconds, mib / decryptSeconds,
                    peakMemoryMiB(), options.verifyBeforeReplacing ? "on" : "off");
        std::fflush(stdout);
    }
    QFile::remove(work);
    return 0;
}
