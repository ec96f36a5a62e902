// Message and input boxes shown with Qt's dialogs, titled with the application's name.
#pragma once

#include "prompter.h"

#include <QPointer>
#include <QWidget>

namespace kes
{

class QtPrompter : public Prompter
{
public:
    explicit QtPrompter(QWidget *parent = nullptr)
        : m_parent(parent)
    {
    }
    void setParent(QWidget *parent) { m_parent = parent; }

    Answer message(const QString &text, Buttons buttons, Icon icon) override;
    Answer messageOver(QWidget *window, const QString &text, Buttons buttons, Icon icon) override;
    void note(const QString &text) override;
    QString input(const QString &prompt, const QString &title, const QString &defaultText) override;

private:
    QPointer<QWidget> m_parent;
};

} // namespace kes
