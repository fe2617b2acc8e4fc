#pragma once

#include <QStringList>

#include <optional>
#include <vector>

namespace virellock {

// The window program's command line: "virellock [QT-OPTION | FILE]... [-- FILE...]". Qt reads
// its own options (-platform, -platformpluginpath, -style, ...) wherever they stand among the
// arguments it is given, so it is given only those before the first "--": every argument after
// it is a file, whatever it looks like. The file managers' entries start the program that way.
class ProgramArguments
{
public:
    // argc and argv as main() received them; argv must outlive this object.
    ProgramArguments(int argc, char** argv);
#ifdef Q_OS_WIN
    // The same with the arguments' UTF-16 texts given, one for each of argv's, where argv holds
    // them in the ANSI code page.
    ProgramArguments(int argc, char** argv, const QStringList& wideArguments);
#endif

    // For QApplication, which takes its options out of them: the program's name and the
    // arguments before the first "--", the array ended by a null pointer.
    int& qtArgumentCount()
    {
        return m_qtArgumentCount;
    }
    char** qtArguments()
    {
        return m_qtArguments.data();
    }

    // The files named: the arguments before "--" that Qt left (after QApplication was made with
    // qtArgumentCount() and qtArguments()), then every argument after it, in order. An argument
    // that names no file this system could open is left out, and logged: POSIX, bytes that do
    // not decode to text and encode back to themselves.
    QStringList files() const;

private:
    ProgramArguments(int argc, char** argv, const std::optional<QStringList>& wideArguments);

    std::vector<char*> m_arguments;
    // Each argument's text, as the system gives it; nothing for one that is no usable name.
    std::vector<std::optional<QString>> m_texts;
    std::size_t m_separator = 0; // the first "--", or the end
    std::vector<char*> m_qtArguments;
    int m_qtArgumentCount = 0;
};

} // namespace virellock
