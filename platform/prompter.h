// Message boxes and one-line input boxes, as the program's procedures ask for them.
// The application installs one that shows Qt dialogs; tests install a scripted one.
// GUI thread only.
#pragma once

#include <QString>

class QWidget;

namespace kes
{

class Prompter
{
public:
    enum class Buttons { Ok, OkCancel, RetryCancel };
    enum class Icon { None, Information, Exclamation, Critical };
    enum class Answer { Ok, Cancel, Retry };

    virtual ~Prompter() = default;
    // A modal message box titled with the application's name.
    virtual Answer message(const QString &text, Buttons buttons = Buttons::Ok, Icon icon = Icon::None) = 0;
    // As message(), over window (a window of the player other than the main window,
    // which the message is about) instead of the main window.
    virtual Answer messageOver(
        QWidget *window, const QString &text, Buttons buttons = Buttons::Ok, Icon icon = Icon::None)
    {
        Q_UNUSED(window);
        return message(text, buttons, icon);
    }
    // A message that holds nothing up: shown without waiting for an answer (a box that is
    // not modal), for news about work that goes on meanwhile.
    virtual void note(const QString &text) = 0;
    // A modal one-line input box; Cancel gives the empty text.
    virtual QString input(const QString &prompt, const QString &title, const QString &defaultText) = 0;
};

} // namespace kes
