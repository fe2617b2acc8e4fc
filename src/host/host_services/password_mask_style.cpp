#include "password_mask_style.h"

#include <QApplication>

namespace virellock {

int PasswordMaskStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                                 QStyleHintReturn* returnData) const
{
    if (hint == SH_LineEdit_PasswordCharacter)
        return u'*';
    if (hint == SH_LineEdit_PasswordMaskDelay)
        return 0; // never show the last typed character in clear
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

void installPasswordMaskStyle()
{
    QApplication::setStyle(new PasswordMaskStyle);
}

} // namespace virellock
