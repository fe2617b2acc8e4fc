#include "batch.h"

#include "cli/arguments.h"
#include "cli/folder_walk.h"
#include "cli/system_names.h"
#include "cli/terminal.h"
#include "cli/terminal_host.h"
#include "engine/decrypt_command.h"
#include "engine/encrypt_command.h"
#include "engine/messages.h"
#include "host/host_services/leftover_files.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace virellock::cli {

namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;

// A file of the run: its full path, for the command, and its name as the user gave it; or a
// name that is not worked on, with why.
struct Target
{
    QString path;
    QString shown;
    QString refusal;
};

int usageError(const QString& text)
{
    writeErr(
        QStringLiteral("virellock-cli: %1\nTry 'virellock-cli --help'.\n").arg(printable(text)));
    return kUsage;
}

// The files named, and with recursive what is under the folders named (entriesUnder), in order
// and each once. A folder without recursive is a usage error. A name that is no file at all
// goes to the command, which tells it cannot read it.
std::variant<QList<Target>, UsageError> collectTargets(const QStringList& given, bool recursive)
{
    QList<Target> targets;
    QSet<QString> seen;
    const auto add = [&](const QString& name, const QString& refusal) {
        // A name that is not UTF-8 would be looked up as another file's, QFileInfo's paths
        // included: it is only itself.
        if (isUndecodableName(name)) {
            if (!seen.contains(name)) {
                seen.insert(name);
                targets.append({QString(), QDir::toNativeSeparators(name), refusal});
            }
            return;
        }
        const QFileInfo info(name);
        const QString canonical = info.canonicalFilePath();
        const QString identity = canonical.isEmpty() ? info.absoluteFilePath() : canonical;
        if (seen.contains(identity))
            return;
        seen.insert(identity);
        targets.append({QDir::toNativeSeparators(info.absoluteFilePath()),
                        QDir::toNativeSeparators(name), refusal});
    };
    for (const QString& name : given) {
        if (isUndecodableName(name)) {
            add(name, undecodableNameRefusal());
            continue;
        }
        if (!QFileInfo(name).isDir()) {
            add(name, QString());
            continue;
        }
        if (!recursive)
            return UsageError{
                QStringLiteral("%1 is a folder: add -r to take the files under it").arg(name)};
        for (const FolderEntry& entry : entriesUnder(name))
            add(entry.path, entry.refusal);
    }
    return targets;
}

struct Tally
{
    int done = 0;
    int failed = 0;
    int left = 0;
};

void printSummary(const Tally& tally, bool quiet)
{
    if (quiet)
        return;
    QString text = QStringLiteral("%1 done, %2 failed").arg(tally.done).arg(tally.failed);
    if (interrupted())
        text = QStringLiteral("interrupted: ") + text +
               QStringLiteral(", %1 not started").arg(tally.left);
    writeErr(text + u'\n');
}

int noPassword(const PasswordSupply& passwords)
{
    if (interrupted())
        return interruptedExitStatus();
    writeErr(QStringLiteral("virellock-cli: no password: %1\n").arg(passwords.error()));
    return kUsage;
}

int runCommands(const CliOptions& options, const QList<Target>& targets)
{
    PasswordSupply passwords(options.password);
    ProgressLine progress(!options.quiet && standardErrorIsTerminal());
    TerminalHost host(passwords, progress);
    const int methodIndex = int(options.method);

    // The encrypt command takes both typings of the password at once, as the window's boxes
    // give them. Decrypting asks when the first file needs it, after showing that file's hint;
    // a password from elsewhere is read now, so that a missing one is told before any work.
    std::optional<EncryptInputs> encrypt;
    if (options.command == Command::Encrypt) {
        const dataops::SecretString* password = passwords.password(QStringLiteral("请输入密码:"));
        if (!password)
            return noPassword(passwords);
        std::optional<dataops::SecretString> confirmation =
            passwords.confirmation(QStringLiteral("请再次输入密码:"));
        if (!confirmation)
            return noPassword(passwords);
        encrypt =
            EncryptInputs{methodIndex, *password, std::move(*confirmation), options.hint, {}, {}};
    } else if (!passwords.asksOnTerminal() && !passwords.password(QString())) {
        return noPassword(passwords);
    }
    DecryptInputs decrypt{methodIndex, methodName(options.method), {}, {}};
    JobOptions jobOptions;
    jobOptions.checkOnly = options.command == Command::Verify;

    // One command a file: each file gets its own message and stands alone.
    Tally tally;
    tally.left = int(targets.size());
    for (qsizetype i = 0; i < targets.size() && !interrupted(); ++i) {
        const Target& target = targets.at(i);
        QString refusal = target.refusal;
        // The window's dialog offers no such name; the commands would call it foreign.
        if (refusal.isEmpty() && !QFileInfo::exists(target.path) &&
            !QFileInfo(target.path).isSymLink())
            refusal = QStringLiteral("no such file");
        if (!refusal.isEmpty()) {
            --tally.left;
            ++tally.failed;
            writeErr(printable(target.shown) + QStringLiteral(": ") + refusal + u'\n');
            continue;
        }
        progress.beginFile(target.shown, int(i), int(targets.size()));
        host.beginFile(target.path);
        CommandOutcome outcome = CommandOutcome::Stopped;
        if (encrypt) {
            encrypt->files = {target.path};
            outcome = runEncryptCommand(*encrypt, host, jobOptions);
        } else {
            decrypt.files = {target.path};
            outcome = runDecryptCommand(decrypt, host, jobOptions);
        }
        const FileReport report = host.endFile();
        progress.clear();
        if (report.noPassword)
            return noPassword(passwords);
        // Only the command knows whether the file was done when the signal came: the signal
        // may well come after the new content replaced the file. A file done is reported done,
        // and the loop then ends.
        if (outcome == CommandOutcome::Cancelled) {
            writeErr(printable(target.shown) +
                     QStringLiteral(": interrupted, the file is as it was\n"));
            break;
        }
        --tally.left;
        switch (outcome) {
        case CommandOutcome::Stopped:
            // The command stopped at its own checks (the method's cipher, the passwords), which
            // every file would fail alike.
            writeErr(QStringLiteral("virellock-cli: %1\n").arg(report.failure));
            return kFailed;
        case CommandOutcome::Succeeded:
            ++tally.done;
            break;
        case CommandOutcome::Failed:
        case CommandOutcome::Cancelled: {
            ++tally.failed;
            // One line a file: the reason the window shows beneath its message follows it.
            QString line = printable(target.shown) + QStringLiteral(": ") +
                           QString(report.failure).replace(u'\n', u' ');
            if (!report.reason.isEmpty())
                line += QStringLiteral(" [%1]").arg(report.reason);
            writeErr(line + u'\n');
            break;
        }
        }
    }
    printSummary(tally, options.quiet);
    if (interrupted())
        return interruptedExitStatus();
    return tally.failed > 0 ? kFailed : 0;
}

} // namespace

int run(const QStringList& arguments)
{
    const ParsedArguments parsed = parseArguments(arguments);
    if (std::holds_alternative<ShowHelp>(parsed)) {
        writeOut(helpText());
        return 0;
    }
    if (std::holds_alternative<ShowVersion>(parsed)) {
        writeOut(QStringLiteral("virellock-cli " VIRELLOCK_VERSION "\n"));
        return 0;
    }
    if (const auto* error = std::get_if<UsageError>(&parsed))
        return usageError(error->text);
    const CliOptions& options = std::get<CliOptions>(parsed);
    const auto targets = collectTargets(options.files, options.recursive);
    if (const auto* error = std::get_if<UsageError>(&targets))
        return usageError(error->text);

    catchInterrupts();
    // What rewrites of killed runs left behind, as the window removes at its start; only
    // before commands that rewrite files themselves.
    if (options.command != Command::Verify)
        removeLeftoverFiles();
    return runCommands(options, std::get<QList<Target>>(targets));
}

} // namespace virellock::cli
