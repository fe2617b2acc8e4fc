#include "arguments.h"

#include "cli/system_names.h"

#include <QCommandLineParser>

namespace virellock::cli {

namespace {

// The -m names, by method index.
const char* const kMethodNames[] = {"des", "rc4", "des-enhanced", "rc4-enhanced", "md5-enhanced"};

std::optional<Command> commandFromName(const QString& name)
{
    if (name == QLatin1String("encrypt"))
        return Command::Encrypt;
    if (name == QLatin1String("decrypt"))
        return Command::Decrypt;
    if (name == QLatin1String("verify"))
        return Command::Verify;
    return std::nullopt;
}

} // namespace

std::optional<Method> methodFromArgument(const QString& value)
{
    for (int index = 0; index < 5; ++index) {
        if (value == QString::number(index) ||
            value.compare(QLatin1String(kMethodNames[index]), Qt::CaseInsensitive) == 0)
            return methodFromIndex(index);
    }
    return std::nullopt;
}

ParsedArguments parseArguments(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    const QCommandLineOption method({QStringLiteral("m"), QStringLiteral("method")}, QString(),
                                    QStringLiteral("METHOD"));
    const QCommandLineOption hint(QStringLiteral("hint"), QString(), QStringLiteral("TEXT"));
    const QCommandLineOption recursive(
        QStringList{QStringLiteral("r"), QStringLiteral("recursive")});
    const QCommandLineOption quiet(QStringList{QStringLiteral("q"), QStringLiteral("quiet")});
    const QCommandLineOption passwordFile(QStringLiteral("password-file"), QString(),
                                          QStringLiteral("FILE"));
    const QCommandLineOption passwordFd(QStringLiteral("password-fd"), QString(),
                                        QStringLiteral("N"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringList{QStringLiteral("V"), QStringLiteral("version")});
    parser.addOptions({method, hint, recursive, quiet, passwordFile, passwordFd, help, version});

    if (!parser.parse(arguments))
        return UsageError{parser.errorText()};
    if (parser.isSet(help))
        return ShowHelp{};
    if (parser.isSet(version))
        return ShowVersion{};
    for (const QCommandLineOption* once : {&method, &hint, &passwordFile, &passwordFd}) {
        if (parser.values(*once).size() > 1)
            return UsageError{
                QStringLiteral("--%1 given more than once").arg(once->names().last())};
    }

    QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return UsageError{QStringLiteral("no command: encrypt, decrypt or verify")};
    CliOptions options;
    const QString commandName = positional.takeFirst();
    const std::optional<Command> command = commandFromName(commandName);
    if (!command)
        return UsageError{
            QStringLiteral("unknown command '%1': encrypt, decrypt or verify").arg(commandName)};
    options.command = *command;
    if (parser.isSet(method)) {
        const std::optional<Method> chosen = methodFromArgument(parser.value(method));
        if (!chosen)
            return UsageError{QStringLiteral("unknown method '%1': 0 to 4, or des, rc4, "
                                             "des-enhanced, rc4-enhanced, md5-enhanced")
                                  .arg(parser.value(method))};
        options.method = *chosen;
    }
    if (parser.isSet(hint)) {
        if (options.command != Command::Encrypt)
            return UsageError{QStringLiteral("--hint goes with encrypt only")};
        options.hint = parser.value(hint);
        if (isUndecodableName(options.hint))
            return UsageError{QStringLiteral("the hint is not valid UTF-8")};
        if (options.hint.size() > kMaxHintLength)
            return UsageError{
                QStringLiteral("the hint is longer than %1 characters").arg(kMaxHintLength)};
    }
    if (parser.isSet(passwordFile) && parser.isSet(passwordFd))
        return UsageError{QStringLiteral("--password-file and --password-fd exclude each other")};
    if (parser.isSet(passwordFile)) {
        options.password.file = parser.value(passwordFile);
        if (isUndecodableName(*options.password.file))
            return UsageError{QStringLiteral("--password-file: ") + undecodableNameRefusal()};
    }
    if (parser.isSet(passwordFd)) {
        bool number = false;
        const int descriptor = parser.value(passwordFd).toInt(&number);
        if (!number || descriptor < 0)
            return UsageError{QStringLiteral("--password-fd takes a file descriptor number, not "
                                             "'%1'")
                                  .arg(parser.value(passwordFd))};
        options.password.descriptor = descriptor;
    }
    options.recursive = parser.isSet(recursive);
    options.quiet = parser.isSet(quiet);
    options.files = positional;
    if (options.files.isEmpty())
        return UsageError{QStringLiteral("no FILE given")};
    return options;
}

QString helpText()
{
    return QStringLiteral(
        "Usage: virellock-cli encrypt [-m METHOD] [--hint TEXT] [OPTION]... FILE...\n"
        "       virellock-cli decrypt [-m METHOD] [OPTION]... FILE...\n"
        "       virellock-cli verify [-m METHOD] [OPTION]... FILE...\n"
        "       virellock-cli --help | --version\n"
        "\n"
        "Encrypts or decrypts files in place with a password, as the Virellock window does.\n"
        "verify tells whether each file decrypts with the password, and changes nothing.\n"
        "\n"
        "Methods (-m), by number or name:\n"
        "  0  des            DES标准加密法\n"
        "  1  rc4            RC4标准加密法\n"
        "  2  des-enhanced   DES增强加密法: a password check and a hint\n"
        "  3  rc4-enhanced   RC4增强加密法: a password check and a hint\n"
        "  4  md5-enhanced   MD5增强加密法, the default: compression only, the content is not\n"
        "                    secret\n"
        "Decrypt and verify with the method the file was encrypted with.\n"
        "\n"
        "Options:\n"
        "  -m, --method METHOD    the method, 0 to 4 or its name (default md5-enhanced)\n"
        "      --hint TEXT        encrypt: the password-forgotten hint that the enhanced\n"
        "                         methods store in the file, readable by anyone\n"
        "  -r, --recursive        take the regular files under each FILE that is a folder;\n"
        "                         symbolic links are left out, anything else that cannot be\n"
        "                         taken is reported as failed\n"
        "      --password-file FILE\n"
        "                         the password is the first line of FILE, a regular file or\n"
        "                         a pipe, not a terminal\n"
        "      --password-fd N    the password is the first line read from descriptor N, open\n"
        "                         when the program starts and not a terminal\n"
        "  -q, --quiet            no progress and no summary; failures are still reported\n"
        "  -h, --help             show this help and exit\n"
        "  -V, --version          show the version and exit\n"
        "\n"
        "The password is asked on the terminal without echo, twice to encrypt, once for all\n"
        "the files; or it is the first line (without its line end) of --password-file,\n"
        "--password-fd or standard input when that is not a terminal. A carriage return\n"
        "counts as part of the line end only right before it or at the end of the input;\n"
        "anywhere else in the line it is refused. It is never taken from an argument.\n"
        "\n"
        "Each file stands alone: one that fails is left as it was, and the others go on.\n"
        "A name that is not valid UTF-8 cannot be handled, and fails.\n"
        "Exit status: 0 every file done, 1 some file failed, 2 usage error (no password\n"
        "included), 130 interrupted by Ctrl-C (the file at work is left as it was, unless\n"
        "it is reported done).\n"
        "\n"
        "See virellock-cli(1).\n");
}

} // namespace virellock::cli
