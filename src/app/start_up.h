#pragma once

namespace virellock {

// Writes the folder context-menu entry that starts this program by its full path. Without the
// entry the program works all the same, so the caller need not report a failure.
bool writeFolderEntry();

// What the program does at start, once its window shows: writes the folder entry, and removes
// what a killed run left beside a file, off the GUI thread (a large leftover takes a while to
// overwrite). The application waits for that removal before it ends.
void startUp();

} // namespace virellock
