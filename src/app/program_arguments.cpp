#include "program_arguments.h"

#include <QFile>
#include <QLoggingCategory>

#include <algorithm>
#include <cstring>
#include <memory>

#ifdef Q_OS_WIN
#include <cstdlib>
#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>
#endif

namespace virellock {

namespace {

Q_LOGGING_CATEGORY(argumentLog, "virellock.arguments")

std::optional<QString> decodedName(const char* argument)
{
    const QByteArray bytes(argument);
    QString name = QFile::decodeName(bytes);
    if (QFile::encodeName(name) != bytes)
        return std::nullopt;
    return name;
}

#ifdef Q_OS_WIN
// The arguments as Windows holds them, in UTF-16: argv is in the ANSI code page, which loses
// every character outside it. Only when argv is the C runtime's own (or Qt's copy of it), so
// that the two lists match one for one.
std::optional<QStringList> systemWideArguments(int argc, char** argv)
{
    if (!__argv || __argc != argc)
        return std::nullopt;
    for (int index = 0; index < argc; ++index) {
        if (argv[index] != __argv[index] && std::strcmp(argv[index], __argv[index]) != 0)
            return std::nullopt;
    }
    int count = 0;
    const std::unique_ptr<wchar_t*, decltype(&LocalFree)> wide(
        CommandLineToArgvW(GetCommandLineW(), &count), &LocalFree);
    if (!wide || count != argc)
        return std::nullopt;
    QStringList arguments;
    for (int index = 0; index < count; ++index)
        arguments.append(QString::fromWCharArray(wide.get()[index]));
    return arguments;
}
#endif

} // namespace

#ifdef Q_OS_WIN
ProgramArguments::ProgramArguments(int argc, char** argv)
    : ProgramArguments(argc, argv, systemWideArguments(argc, argv))
{}

ProgramArguments::ProgramArguments(int argc, char** argv, const QStringList& wideArguments)
    : ProgramArguments(argc, argv, std::optional<QStringList>(wideArguments))
{}
#else
ProgramArguments::ProgramArguments(int argc, char** argv)
    : ProgramArguments(argc, argv, std::nullopt)
{}
#endif

ProgramArguments::ProgramArguments(int argc, char** argv,
                                   const std::optional<QStringList>& wideArguments)
    : m_arguments(argv, argv + argc)
{
    const bool wide = wideArguments && wideArguments->size() == argc;
    for (int index = 0; index < argc; ++index) {
        if (wide)
            m_texts.emplace_back(wideArguments->at(index));
        else
            m_texts.push_back(decodedName(argv[index]));
    }
    const auto separator =
        std::find_if(m_arguments.begin() + std::min(argc, 1), m_arguments.end(),
                     [](const char* argument) { return std::strcmp(argument, "--") == 0; });
    m_separator = std::size_t(separator - m_arguments.begin());
    m_qtArguments.assign(m_arguments.begin(), separator);
    m_qtArgumentCount = int(m_qtArguments.size());
    m_qtArguments.push_back(nullptr);
}

QStringList ProgramArguments::files() const
{
    std::vector<std::size_t> indexes;
    // Qt keeps what it leaves in order, as the same pointers; the program's name stays first.
    for (int position = 1; position < m_qtArgumentCount; ++position) {
        const auto found =
            std::find(m_arguments.begin(), m_arguments.end(), m_qtArguments[position]);
        if (found != m_arguments.end())
            indexes.push_back(std::size_t(found - m_arguments.begin()));
    }
    for (std::size_t index = m_separator + 1; index < m_arguments.size(); ++index)
        indexes.push_back(index);

    QStringList files;
    for (std::size_t index : indexes) {
        if (m_texts[index]) {
            files.append(*m_texts[index]);
        } else {
            qCWarning(argumentLog, "Left out argument %zu, which is no file name here: %s", index,
                      QByteArray(m_arguments[index]).toPercentEncoding("/").constData());
        }
    }
    return files;
}

} // namespace virellock
