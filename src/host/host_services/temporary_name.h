#pragma once

// The name a rewrite gives its temporary file when the system cannot make one without a name:
// beside the file it will replace, "<name>.virellock-XXXXXX" (six letters or digits), the name
// shortened at its end where the whole would pass the system's limit on a name. The start-up
// clean-up acts only on files that carry such a name beside the file their record names.

#include <QString>

namespace virellock {

// A fresh temporary path for replacing targetPath (a full path); random each call.
QString temporaryPathFor(const QString& targetPath);

// Whether candidatePath has the form temporaryPathFor(targetPath) gives: the same folder and
// the target's name (shortened as the maker shortens it), ".virellock-" and six letters or
// digits.
bool isTemporaryPathFor(const QString& targetPath, const QString& candidatePath);

} // namespace virellock
