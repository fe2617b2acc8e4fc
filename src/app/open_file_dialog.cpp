#include "open_file_dialog.h"

namespace virellock {

OpenFileDialog::OpenFileDialog(const QString& objectName, const QString& title, QObject* parent)
    : QObject(parent), m_options{title, QStringLiteral("所有文件"), true}
{
    setObjectName(objectName);
}

} // namespace virellock
