#include "temporary_name.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

namespace virellock {

namespace {

const QString kMarker = QStringLiteral(".virellock-");
constexpr int kRandomLength = 6;
// The longest name most file systems take: 255 bytes on Linux, 255 UTF-16 units on Windows.
constexpr qsizetype kMaxNameLength = 255;

qsizetype nameLength(QStringView name)
{
#ifdef Q_OS_WIN
    return name.size();
#else
    return QFile::encodeName(name.toString()).size();
#endif
}

// The target's name cut at its end until the temporary name fits, never inside a surrogate
// pair.
QString namePrefix(const QString& targetName)
{
    QString prefix = targetName;
    while (!prefix.isEmpty() &&
           nameLength(prefix) + kMarker.size() + kRandomLength > kMaxNameLength) {
        prefix.chop(1);
        if (!prefix.isEmpty() && prefix.back().isHighSurrogate())
            prefix.chop(1);
    }
    return prefix;
}

bool isRandomPart(QStringView text)
{
    if (text.size() != kRandomLength)
        return false;
    for (const QChar c : text) {
        if (!((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')))
            return false;
    }
    return true;
}

} // namespace

QString temporaryPathFor(const QString& targetPath)
{
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    const QFileInfo target(targetPath);
    QString random;
    for (int i = 0; i < kRandomLength; ++i)
        random +=
            QLatin1Char(kLetters[QRandomGenerator::system()->bounded(int(sizeof kLetters) - 1)]);
    return target.absolutePath() + u'/' + namePrefix(target.fileName()) + kMarker + random;
}

bool isTemporaryPathFor(const QString& targetPath, const QString& candidatePath)
{
    const QFileInfo target(targetPath);
    const QFileInfo candidate(candidatePath);
    if (target.absolutePath() != candidate.absolutePath())
        return false;
    const QString expected = namePrefix(target.fileName()) + kMarker;
    const QString name = candidate.fileName();
    return name.startsWith(expected) && isRandomPart(QStringView(name).sliced(expected.size()));
}

} // namespace virellock
