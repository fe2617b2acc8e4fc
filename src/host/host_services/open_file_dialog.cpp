#include "open_file_dialog.h"

namespace virellock {

OpenFileDialog::OpenFileDialog(const QString& objectName, const QString& title, QObject* parent)
    : QObject(parent), m_title(title), m_filterDescription(QStringLiteral("所有文件"))
{
    setObjectName(objectName);
}

QString OpenFileDialog::filter() const
{
    // "*" lists every file, with or without an extension.
    return m_filterDescription + QStringLiteral(" (*)");
}

} // namespace virellock
