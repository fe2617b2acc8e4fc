#include "leftover_record_text.h"

#include <QFile>
#include <QList>
#include <QRandomGenerator>

namespace virellock {

namespace {

// Records of earlier versions lack the target and the size: they are dropped unread.
const QByteArray kHeader = "virellock leftover record 2";
const QString kRecordSuffix = QStringLiteral(".record");
constexpr int kRandomDigits = 16;

// The system's bytes of a path, escaped: a file name may hold a line end or bytes that are
// not UTF-8. Windows names are UTF-16 and go as UTF-8: QFile::encodeName() would give them in
// the ANSI code page, which loses every character it cannot spell.
QByteArray escapePath(const QString& path)
{
#ifdef Q_OS_WIN
    return path.toUtf8().toPercentEncoding("/");
#else
    return QFile::encodeName(path).toPercentEncoding("/");
#endif
}

QString unescapePath(const QByteArray& text)
{
#ifdef Q_OS_WIN
    return QString::fromUtf8(QByteArray::fromPercentEncoding(text));
#else
    return QFile::decodeName(QByteArray::fromPercentEncoding(text));
#endif
}

bool isDecimal(QStringView text)
{
    if (text.isEmpty() || text.size() > 18)
        return false;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return false;
    }
    return true;
}

bool isLowerHex(QStringView text)
{
    for (const QChar c : text) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f')))
            return false;
    }
    return true;
}

} // namespace

QByteArray serialiseLeftover(const LeftoverFields& fields)
{
    return kHeader + "\nprocess " + QByteArray::number(fields.processId) + "\nvolume " +
           QByteArray::number(fields.identity.volume) + "\nfile " +
           QByteArray::number(fields.identity.file) + "\nsize " +
           QByteArray::number(fields.maxSize) + "\ntarget " + escapePath(fields.targetPath) +
           "\npath " + escapePath(fields.temporaryPath) + '\n';
}

std::optional<LeftoverFields> parseLeftover(const QByteArray& text)
{
    const QList<QByteArray> lines = text.split('\n');
    if (lines.size() != 8 || lines[0] != kHeader || !lines[7].isEmpty())
        return std::nullopt;
    const auto value = [&lines](int index, const char* key) -> std::optional<QByteArray> {
        const QByteArray prefix = QByteArray(key) + ' ';
        if (!lines[index].startsWith(prefix) || lines[index].size() == prefix.size())
            return std::nullopt;
        return lines[index].mid(prefix.size());
    };
    const auto process = value(1, "process"), volume = value(2, "volume"), file = value(3, "file"),
               size = value(4, "size"), target = value(5, "target"), path = value(6, "path");
    if (!process || !volume || !file || !size || !target || !path)
        return std::nullopt;
    bool ok[4] = {};
    LeftoverFields fields;
    fields.processId = process->toLongLong(&ok[0]);
    fields.identity = {volume->toULongLong(&ok[1]), file->toULongLong(&ok[2])};
    fields.maxSize = size->toLongLong(&ok[3]);
    fields.targetPath = unescapePath(*target);
    fields.temporaryPath = unescapePath(*path);
    if (!ok[0] || !ok[1] || !ok[2] || !ok[3] || fields.processId <= 0 || fields.maxSize < 0)
        return std::nullopt;
    return fields;
}

QString makeRecordName(qint64 processId)
{
    return QStringLiteral("%1-%2").arg(processId).arg(QRandomGenerator::global()->generate64(),
                                                      kRandomDigits, 16, QLatin1Char('0')) +
           kRecordSuffix;
}

QString partialRecordName(const QString& recordName)
{
    return recordName + QStringLiteral(".new");
}

std::optional<RecordEntryName> parseRecordName(const QString& name)
{
    // By hand, not with QRegularExpression: its per-thread JIT stack has a thread_local
    // destructor, and in the static MinGW build one registered on a pool thread made the
    // process hang at exit (seen under Wine). The clean-up runs on a pool thread.
    const qsizetype dash = name.indexOf(u'-');
    const qsizetype suffix = name.indexOf(kRecordSuffix);
    if (dash <= 0 || suffix != dash + 1 + kRandomDigits)
        return std::nullopt;
    const QStringView view(name);
    if (!isDecimal(view.first(dash)) || !isLowerHex(view.sliced(dash + 1, kRandomDigits)))
        return std::nullopt;
    const QStringView rest = view.sliced(suffix + kRecordSuffix.size());
    // A record's own temporary file: ".new" here, a dot and six characters from QSaveFile in
    // earlier versions.
    if (!rest.isEmpty() && (rest.size() < 2 || rest.front() != u'.'))
        return std::nullopt;
    const qint64 processId = view.first(dash).toLongLong();
    if (processId <= 0)
        return std::nullopt;
    return RecordEntryName{processId, !rest.isEmpty()};
}

} // namespace virellock
