#pragma once

#include <QStringList>

namespace virellock::cli {

// Runs virellock-cli with its arguments (the program first) and returns its exit status: 0
// when every file was done, 1 when any failed, 2 for a usage error (a missing password
// included), 128 and the signal's number (130 for Ctrl-C) when interrupted.
int run(const QStringList& arguments);

} // namespace virellock::cli
