#include "text_services.h"

namespace virellock {

QString RemoveAllSpaces(QStringView text)
{
    QString result;
    result.reserve(text.size());
    for (QChar c : text) {
        if (c != u' ' && c != u'\t' && c != QChar(0x3000))
            result.append(c);
    }
    return result;
}

} // namespace virellock
