#pragma once

// On POSIX a file name, and an argument of the command line, is bytes, which need not be UTF-8;
// Qt's file functions take text and turn it back into bytes with QFile::encodeName. A name
// whose bytes do not come back the same that way cannot be handed to them: another file, whose
// name holds U+FFFD in their place, would be opened instead.

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

namespace virellock::cli {

// The name's text when its bytes come back unchanged through QFile::decodeName and
// QFile::encodeName. Otherwise the UTF-8 parts of it decoded, and each other byte as a lone
// surrogate (U+DC80 to U+DCFF), which no decoded name holds: the name stays apart from every
// other, is refused by isUndecodableName(), and printable() shows such a byte as U+FFFD.
QString nameFromBytes(QByteArrayView bytes);

// Whether nameFromBytes() kept bytes that are not UTF-8 in the name. Never on Windows, where
// names are UTF-16 from the start.
bool isUndecodableName(QStringView name);

// Why such a name is refused, for the line that reports it.
QString undecodableNameRefusal();

// main()'s arguments, each as nameFromBytes() takes it (POSIX).
QStringList argumentsFromBytes(int argc, char** argv);

} // namespace virellock::cli
