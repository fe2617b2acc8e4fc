#include "system_names.h"

#include <QFile>

namespace virellock::cli {

namespace {

// A byte that is not part of UTF-8 text, kept as a low surrogate without its high half.
constexpr char16_t kKeptByte = 0xDC00;

// The number of bytes a UTF-8 sequence with this first byte has; 0 for a byte that cannot
// start one.
qsizetype sequenceLength(unsigned char first)
{
    if (first < 0x80)
        return 1;
    if (first >= 0xC2 && first <= 0xDF)
        return 2;
    if (first >= 0xE0 && first <= 0xEF)
        return 3;
    if (first >= 0xF0 && first <= 0xF4)
        return 4;
    return 0;
}

} // namespace

QString nameFromBytes(QByteArrayView bytes)
{
    const QByteArray whole = bytes.toByteArray();
    const QString decoded = QFile::decodeName(whole);
    if (QFile::encodeName(decoded) == whole)
        return decoded;
    QString kept;
    kept.reserve(bytes.size());
    qsizetype at = 0;
    while (at < bytes.size()) {
        // Qt's decoder tells whether a sequence is one character: it gives back the same bytes.
        const qsizetype length = sequenceLength(static_cast<unsigned char>(bytes.at(at)));
        if (length > 0 && at + length <= bytes.size()) {
            const QByteArrayView sequence = bytes.sliced(at, length);
            const QString character = QString::fromUtf8(sequence);
            if (character.toUtf8() == sequence) {
                kept += character;
                at += length;
                continue;
            }
        }
        kept += QChar(char16_t(kKeptByte + static_cast<unsigned char>(bytes.at(at))));
        ++at;
    }
    return kept;
}

bool isUndecodableName(QStringView name)
{
#ifdef Q_OS_WIN
    Q_UNUSED(name);
    return false;
#else
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (name.at(i).isHighSurrogate() && i + 1 < name.size() && name.at(i + 1).isLowSurrogate())
            ++i;
        else if (name.at(i).isSurrogate())
            return true;
    }
    return false;
#endif
}

QString undecodableNameRefusal()
{
    return QStringLiteral("the name is not valid UTF-8, which this program cannot handle");
}

QStringList argumentsFromBytes(int argc, char** argv)
{
    QStringList arguments;
    arguments.reserve(argc);
    for (int i = 0; i < argc; ++i)
        arguments.append(nameFromBytes(argv[i]));
    return arguments;
}

} // namespace virellock::cli
