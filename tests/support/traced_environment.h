#pragma once

#include <QProcessEnvironment>
#include <QStringList>

namespace virellock::test {

// The environment for a program run under strace: LeakSanitizer needs ptrace itself and
// aborts the program under a tracer, so the sanitizer builds leave leak checking out there.
inline QProcessEnvironment tracedEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QStringList sanitizer =
        environment.value(QStringLiteral("ASAN_OPTIONS")).split(u':', Qt::SkipEmptyParts);
    sanitizer += QStringLiteral("detect_leaks=0");
    environment.insert(QStringLiteral("ASAN_OPTIONS"), sanitizer.join(u':'));
    return environment;
}

} // namespace virellock::test
