#pragma once

#include <QString>
#include <QStringView>

namespace virellock {

// The text without its blanks: ASCII spaces, tabs and the ideographic space U+3000 that a
// Chinese input method types.
QString RemoveAllSpaces(QStringView text);

} // namespace virellock
