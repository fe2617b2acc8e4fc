#include "link_label.h"

#include <QMouseEvent>

namespace virellock {

LinkLabel::LinkLabel(const QString& objectName, const QString& text, QWidget* parent)
    : QLabel(text, parent)
{
    setObjectName(objectName);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    QPalette palette = this->palette();
    palette.setColor(QPalette::WindowText, QColor(0, 0, 255));
    setPalette(palette);
    QFont font = this->font();
    font.setUnderline(true);
    setFont(font);
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

} // namespace virellock
