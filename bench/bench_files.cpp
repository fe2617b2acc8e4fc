// Encrypts and decrypts one file in place with each method, as the commands do, and reports
// wall time, MiB/s and the process's peak memory. Run one method per process to read its own
// peak (bench/compare_peers.sh does that).
//
//   bench_files FILE [--method N] [--no-verify]

#include "engine/decrypted_file.h"
#include "engine/encrypted_file.h"
#include "host/data_ops/digest.h"
#include "host/data_ops/password_check.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <cstring>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

using namespace virellock;

namespace {

const QString kPassword = QStringLiteral("benchmark password");

QByteArray digestOf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    dataops::Sha256 digest;
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
    const auto record = readEnhancedRecordFile(path);
    if (!record || !dataops::verifyPasswordCheck(record->password_check, kPassword))
        return {JobOutcome::BadInput, JobStep::Content, QStringLiteral("not this password's")};
    return restoreEnhancedFile(path, m, *record, kPassword, options);
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

    std::printf("method  encrypt_s  encrypt_MiB/s  decrypt_s  decrypt_MiB/s  peak_MiB  verify\n");
    for (int method : methods) {
        QFile::remove(work);
        if (!QFile::copy(original, work)) {
            std::fprintf(stderr, "cannot copy %s\n", qPrintable(original));
            return 1;
        }
        QElapsedTimer timer;
        timer.start();
        const JobResult encrypted =
            encryptFile(work, method, kPassword, QStringLiteral("hint"), options);
        const double encryptSeconds = double(timer.nsecsElapsed()) / 1e9;
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
        std::printf("%6d  %9.3f  %13.1f  %9.3f  %13.1f  %8.1f  %s\n", method, encryptSeconds,
                    mib / encryptSeconds, decryptSeconds, mib / decryptSeconds, peakMemoryMiB(),
                    options.verifyBeforeReplacing ? "on" : "off");
        std::fflush(stdout);
    }
    QFile::remove(work);
    return 0;
}
