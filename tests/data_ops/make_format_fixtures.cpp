// Writes the format fixtures into the folder given as the only argument. The checked-in
// fixtures were made once with this program; every later build must still read them, so they
// are never regenerated in place: add new ones beside them instead.

#include "host/data_ops/data_ops.h"
#include "host/data_ops/password_check.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

using namespace virellock;

namespace {

bool writeFile(const QDir& dir, const QString& name, const QByteArray& bytes)
{
    QFile file(dir.filePath(name));
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray multiChunkPlain()
{
    QByteArray text;
    for (int line = 0; text.size() < (1 << 20) + 100; ++line)
        text +=
            "fixture line " + QByteArray::number(line) + " 第" + QByteArray::number(line) + "行\n";
    return text.first((1 << 20) + 100);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_format_fixtures FOLDER\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    const QString password = QStringLiteral("密码 Pass ");
    const QList<std::pair<QString, QByteArray>> plains = {
        {QStringLiteral("empty"), QByteArray()},
        {QStringLiteral("text"), QByteArray("Virellock 文件加密工具\r\nline two\n")},
        {QStringLiteral("multichunk"), multiChunkPlain()},
    };

    QJsonArray manifest;
    bool ok = true;
    for (const auto& [name, plain] : plains) {
        const QString plainFile = QStringLiteral("plain-%1.bin").arg(name);
        ok &= writeFile(dir, plainFile, plain);
        for (int selector : {1, 2}) {
            const QString file =
                QStringLiteral("%1-%2.bin").arg(selector == 1 ? "des" : "rc4", name);
            const auto sealed = EncryptData(plain, password, selector);
            ok &= sealed && writeFile(dir, file, *sealed);
            manifest.append(QJsonObject{{"operation", "decrypt"},
                                        {"selector", selector},
                                        {"password", password},
                                        {"input", file},
                                        {"plain", plainFile}});
        }
        const QString file = QStringLiteral("zstd-%1.zst").arg(name);
        const auto compressed = CompressData(plain);
        ok &= compressed && writeFile(dir, file, *compressed);
        manifest.append(
            QJsonObject{{"operation", "decompress"}, {"input", file}, {"plain", plainFile}});
    }
    const auto check = dataops::makePasswordCheck(password);
    ok &= check && writeFile(dir, QStringLiteral("password-check.bin"), *check);
    manifest.append(QJsonObject{
        {"operation", "password-check"}, {"password", password}, {"input", "password-check.bin"}});

    ok &= writeFile(dir, QStringLiteral("fixtures.json"),
                    QJsonDocument(manifest).toJson(QJsonDocument::Indented));
    if (!ok)
        std::fprintf(stderr, "could not write every fixture\n");
    return ok ? 0 : 1;
}
