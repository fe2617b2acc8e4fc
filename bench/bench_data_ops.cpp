// Throughput of the four data operations on 64 MiB held in memory, and the cost of the key
// derivation alone (which every encryption and decryption pays once).

#include "host/data_ops/data_ops.h"
#include "host/data_ops/key_derivation.h"

#include <QRandomGenerator>
#include <QString>

#include <benchmark/benchmark.h>

using namespace virellock;

namespace {

constexpr qsizetype kDataSize = qsizetype(64) << 20;
const QString kPassword = QStringLiteral("benchmark password");

// Half text-like (compressible), half random: closer to a real mix of files than either.
const QByteArray& mixedData()
{
    static const QByteArray data = [] {
        QByteArray bytes;
        bytes.reserve(kDataSize);
        for (int line = 0; bytes.size() < kDataSize / 2; ++line)
            bytes += "line " + QByteArray::number(line) + ": 文件加密工具 the quick brown fox\n";
        bytes.truncate(kDataSize / 2);
        QByteArray random(kDataSize - bytes.size(), Qt::Uninitialized);
        QRandomGenerator generator(42);
        generator.fillRange(reinterpret_cast<quint32*>(random.data()), random.size() / 4);
        return bytes + random;
    }();
    return data;
}

void reportBytes(benchmark::State& state)
{
    state.SetBytesProcessed(int64_t(state.iterations()) * kDataSize);
}

void encrypt(benchmark::State& state)
{
    const int selector = int(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(EncryptData(mixedData(), kPassword, selector));
    reportBytes(state);
}

void decrypt(benchmark::State& state)
{
    const int selector = int(state.range(0));
    const QByteArray sealed = *EncryptData(mixedData(), kPassword, selector);
    for (auto _ : state) {
        const auto plain = DecryptData(sealed, kPassword, selector);
        if (!plain)
            state.SkipWithError("decryption failed");
        benchmark::DoNotOptimize(plain);
    }
    reportBytes(state);
}

void compress(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(CompressData(mixedData()));
    reportBytes(state);
}

void decompress(benchmark::State& state)
{
    const QByteArray compressed = *CompressData(mixedData());
    for (auto _ : state) {
        const auto plain = DecompressData(compressed);
        if (!plain)
            state.SkipWithError("decompression failed");
        benchmark::DoNotOptimize(plain);
    }
    reportBytes(state);
}

void keyDerivation(benchmark::State& state)
{
    const QByteArray salt(dataops::kSaltSize, 's');
    const QByteArray password = dataops::passwordToBytes(kPassword);
    unsigned char key[64];
    for (auto _ : state)
        benchmark::DoNotOptimize(dataops::deriveScrypt(password, salt, key, sizeof key));
}

} // namespace

BENCHMARK(encrypt)->Name("EncryptData/DES")->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(encrypt)->Name("EncryptData/RC4")->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(decrypt)->Name("DecryptData/DES")->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(decrypt)->Name("DecryptData/RC4")->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(compress)->Name("CompressData")->Unit(benchmark::kMillisecond);
BENCHMARK(decompress)->Name("DecompressData")->Unit(benchmark::kMillisecond);
BENCHMARK(keyDerivation)->Name("KeyDerivation/scrypt")->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
