#pragma once

#include <QLabel>

namespace virellock {

// A hyperlink without an address: blue text and a pointing hand. It acts when the left button
// is released over it, which is what a click is, and never takes the keyboard focus.
class LinkLabel final : public QLabel
{
    Q_OBJECT

public:
    LinkLabel(const QString& objectName, const QString& text, QWidget* parent);

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

} // namespace virellock
