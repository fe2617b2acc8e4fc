#pragma once

#include <QProxyStyle>

namespace virellock {

// Every password field of the application, the main window's and the prompts', shows one "*"
// per typed character, whatever the platform style would draw.
class PasswordMaskStyle final : public QProxyStyle
{
    Q_OBJECT

public:
    using QProxyStyle::QProxyStyle;

    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override;
};

// Wraps the platform's style for the whole application, which then owns it. Needs a
// QApplication.
void installPasswordMaskStyle();

} // namespace virellock
