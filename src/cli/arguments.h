#pragma once

// The command line of virellock-cli, as virellock-cli.1 describes it.

#include "engine/methods.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

namespace virellock::cli {

enum class Command
{
    Encrypt,
    Decrypt,
    // Decrypts without writing anything: tells whether each file decrypts with the password.
    Verify,
};

// Where the password comes from when it is not asked on the terminal.
struct PasswordOption
{
    std::optional<QString> file;   // --password-file
    std::optional<int> descriptor; // --password-fd
};

struct CliOptions
{
    Command command = Command::Encrypt;
    Method method = kDefaultMethod;
    QString hint;
    bool recursive = false;
    bool quiet = false;
    PasswordOption password;
    QStringList files; // as given: files, and folders with recursive
};

struct ShowHelp
{
};
struct ShowVersion
{
};
// What is wrong with the command line, in a sentence.
struct UsageError
{
    QString text;
};

using ParsedArguments = std::variant<CliOptions, ShowHelp, ShowVersion, UsageError>;

// arguments: the program first; on POSIX as argumentsFromBytes() takes them, on Windows as
// QCoreApplication::arguments() gives them.
ParsedArguments parseArguments(const QStringList& arguments);

// The method a -m value names: its index or its name; nothing for any other value.
std::optional<Method> methodFromArgument(const QString& value);

// The text --help prints, ending with a line end.
QString helpText();

// The hint box of the window takes this many characters at most; so does --hint.
inline constexpr qsizetype kMaxHintLength = 32767;

} // namespace virellock::cli
