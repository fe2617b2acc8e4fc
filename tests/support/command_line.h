#pragma once

#include <QByteArray>
#include <QList>

#include <vector>

namespace virellock::test {

// A command line as main() receives it: argc, and argv ended by a null pointer.
class CommandLine
{
public:
    explicit CommandLine(const QList<QByteArray>& arguments) : m_arguments(arguments)
    {
        for (QByteArray& argument : m_arguments)
            m_argv.push_back(argument.data());
        m_argv.push_back(nullptr);
    }
    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;

    int argc() const { return int(m_arguments.size()); }
    char** argv() { return m_argv.data(); }

private:
    QList<QByteArray> m_arguments;
    std::vector<char*> m_argv;
};

} // namespace virellock::test
