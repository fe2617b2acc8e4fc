#include "password_supply.h"

#include "cli/terminal.h"

#include <QStringList>

#include <cstdio>

namespace virellock::cli {

namespace {

// A prompt of the window on the terminal: its first line is what to type ("请输入密码:"), the
// lines after it say more (a warning, the file's hint); those go first, so that the typing
// follows the first line.
QString terminalPrompt(const QString& windowPrompt)
{
    QStringList lines = windowPrompt.split(QStringLiteral("\r\n"));
    const QString request = lines.takeFirst();
    while (!lines.isEmpty() && lines.constFirst().isEmpty())
        lines.removeFirst();
    QString shown;
    for (const QString& line : lines)
        shown += printable(line) + u'\n';
    return shown + printable(request);
}

} // namespace

QString printable(const QString& text)
{
    QString shown;
    shown.reserve(text.size());
    for (qsizetype at = 0; at < text.size(); ++at) {
        char32_t character = text.at(at).unicode();
        qsizetype units = 1;
        if (text.at(at).isHighSurrogate() && at + 1 < text.size() &&
            text.at(at + 1).isLowSurrogate()) {
            character = QChar::surrogateToUcs4(text.at(at), text.at(at + 1));
            units = 2;
        }
        switch (QChar::category(character)) {
        case QChar::Other_Control:   // escape sequences, carriage returns, backspaces
        case QChar::Other_Format:    // bidirectional overrides and isolates, invisible marks
        case QChar::Other_Surrogate: // half a character: a byte of a name that is not UTF-8
            shown += QChar::ReplacementCharacter;
            break;
        default:
            shown += QStringView(text).sliced(at, units);
            break;
        }
        at += units - 1;
    }
    return shown;
}

PasswordSupply::PasswordSupply(const PasswordOption& option)
    : m_option(option), m_asks(!option.file && !option.descriptor && standardInputIsTerminal())
{}

const dataops::SecretString* PasswordSupply::password(const QString& prompt)
{
    if (m_password)
        return &*m_password;
    if (!m_error.isEmpty())
        return nullptr;
    return take(prompt);
}

std::optional<dataops::SecretString> PasswordSupply::confirmation(const QString& prompt)
{
    if (!m_password)
        return std::nullopt;
    if (!m_asks)
        return m_password;
    SecretLine line = readHiddenLine(terminalPrompt(prompt));
    if (!line.text)
        m_error = line.error;
    return std::move(line.text);
}

dataops::SecretString* PasswordSupply::take(const QString& prompt)
{
    SecretLine line;
    if (m_option.file) {
        line = readFirstLineOfFile(*m_option.file);
    } else if (m_option.descriptor) {
        const QString what = QStringLiteral("descriptor %1").arg(*m_option.descriptor);
        if (!openAtStart(*m_option.descriptor)) {
            // One the program opened itself (Qt's, or /dev/null in place of a closed standard
            // stream) holds nothing of the caller's.
            line.error = what + QStringLiteral(" was not open when virellock-cli started");
        } else if (isTerminal(*m_option.descriptor)) {
            // What is typed there would show: leave --password-fd out to be asked without echo.
            line.error = what + QStringLiteral(" is a terminal");
        } else {
            line = readFirstLine(*m_option.descriptor, what);
        }
    } else if (m_asks) {
        line = readHiddenLine(terminalPrompt(prompt));
    } else {
        line = readFirstLine(0, QStringLiteral("standard input (not a terminal)"));
    }
    if (!line.text) {
        m_error = line.error;
        return nullptr;
    }
    m_password = std::move(line.text);
    return &*m_password;
}

} // namespace virellock::cli
