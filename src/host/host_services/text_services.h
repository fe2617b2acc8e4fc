#pragma once

#include <QString>
#include <QStringView>

namespace virellock {

// The text without its blanks: ASCII spaces, tabs and the ideographic space U+3000 that a
// Chinese input method types.
QString RemoveAllSpaces(QStringView text);

// Whether the text is nothing but those blanks (or empty): RemoveAllSpaces(text) would be
// empty. It copies nothing, so it suits a password.
bool IsAllSpaces(QStringView text);

} // namespace virellock
