#pragma once

#include "cli/arguments.h"
#include "host/data_ops/secure_wipe.h"

#include <QString>

#include <optional>

namespace virellock::cli {

// The one password of a run: read from --password-file or --password-fd, asked on the
// terminal when standard input is one, else read from standard input. Taken once and handed to
// every file; wiped when the supply goes.
class PasswordSupply
{
public:
    explicit PasswordSupply(const PasswordOption& option);

    bool asksOnTerminal() const { return m_asks; }

    // The password: the first time read from its source, or asked on the terminal after
    // showing prompt (a prompt of the window, "\r\n" between its lines); the same one after
    // that. Null when there is none: error() says why. Null on Ctrl-C too.
    const dataops::SecretString* password(const QString& prompt);

    // The encrypt command's second typing: asked again on the terminal; from any other source,
    // the password itself. Call after password().
    std::optional<dataops::SecretString> confirmation(const QString& prompt);

    const QString& error() const { return m_error; }

private:
    dataops::SecretString* take(const QString& prompt);

    PasswordOption m_option;
    bool m_asks = false;
    std::optional<dataops::SecretString> m_password;
    QString m_error;
};

// The text shown, with U+FFFD in place of every character that acts on the terminal or on
// how the text around it shows: control characters (escape sequences, carriage returns),
// format characters (a right-to-left override makes "txt.exe" look like "exe.txt"), and the
// bytes of a name that is not UTF-8. A hint is the file's content and a name anyone's choice:
// either may hold anything.
QString printable(const QString& text);

} // namespace virellock::cli
