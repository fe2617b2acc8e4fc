#include "text_services.h"

#include <algorithm>

namespace virellock {

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == QChar(0x3000);
}

} // namespace

QString RemoveAllSpaces(QStringView text)
{
    QString result;
    result.reserve(text.size());
    for (QChar c : text) {
        if (!isBlank(c))
            result.append(c);
    }
    return result;
}

bool IsAllSpaces(QStringView text)
{
    return std::all_of(text.begin(), text.end(), isBlank);
}

} // namespace virellock
