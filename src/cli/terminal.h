#pragma once

// What virellock-cli needs of the terminal and of the process's standard streams, on POSIX
// and on the Windows console.

#include "host/data_ops/secure_wipe.h"

#include <QString>
#include <QStringView>

#include <optional>

namespace virellock::cli {

// Called first thing. On POSIX, notes which descriptors the process was started with, then
// opens /dev/null on standard input, output and error where they are closed, before anything
// else opens a file: a file opened later would otherwise take the place of standard input, and
// a password would be read from it. On Windows, has the C runtime report a descriptor that is
// not open (--password-fd) as an error instead of ending the program.
void prepareStandardStreams();

// Whether the descriptor was open when the process started, before it opened any of its own:
// only such a one is the caller's to give. True where this cannot be told (no /proc, Windows,
// where the program opens no C runtime descriptor of its own).
bool openAtStart(int descriptor);

// Whether standard input, or standard error, is a terminal (on Windows, a console).
bool standardInputIsTerminal();
bool standardErrorIsTerminal();

// The width of the terminal on standard error in columns; 80 when it cannot be told.
int terminalColumns();

// Writes text to standard output or standard error and flushes it: UTF-16 to a Windows
// console, UTF-8 everywhere else.
void writeOut(QStringView text);
void writeErr(QStringView text);

// From now on the first Ctrl-C (SIGINT; on POSIX SIGTERM and SIGHUP too; on Windows Ctrl-C
// and Ctrl-Break) only raises a flag, which the file work checks at every chunk; a second one
// ends the process as it would have without this.
void catchInterrupts();
// Whether such a signal came; then the exit status it asks for (128 and the signal's number,
// 130 for Ctrl-C).
bool interrupted();
int interruptedExitStatus();

// A line of a password and how reading it ended.
struct SecretLine
{
    std::optional<dataops::SecretString> text; // the line without its end; nothing on failure
    QString error;                             // why there is no line
};

// The longest password taken, in UTF-16 code units: what the window's password boxes hold.
inline constexpr qsizetype kMaxPasswordLength = 32767;

// Shows prompt on standard error and reads a line typed on the terminal on standard input
// without echoing it; the line end the user types is still shown. Echo goes off before the
// prompt shows, and what was typed before it is dropped, so that no typing ahead of the
// prompt is ever shown. Stopped at the prompt (Ctrl-Z; POSIX), the terminal is put back as it
// was while the program waits, and echo goes off again and the prompt shows anew when it goes
// on. Nothing at the end of input, on an error and on Ctrl-C.
SecretLine readHiddenLine(QStringView prompt);

// Reads the first line from a file descriptor (on Windows, a C runtime descriptor), one byte
// at a time so as to take nothing after it: the bytes up to the first line feed, or to the end
// when there is none, less a carriage return that ends them. Nothing when the descriptor gives
// no byte at all, fails, or gives more than a password's worth of bytes before its line end,
// and when a carriage return stands anywhere else in the line, where it would silently become
// part of the password; the line must be UTF-8. what names the source in the error text.
SecretLine readFirstLine(int descriptor, const QString& what);

// The same from the start of a file, which must be a regular file or a pipe: a terminal would
// show the password as it is typed, and a device gives no line.
SecretLine readFirstLineOfFile(const QString& path);

// Whether a file descriptor is a terminal.
bool isTerminal(int descriptor);

} // namespace virellock::cli
