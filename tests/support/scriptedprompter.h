// A Prompter for tests: records every message and input box and answers from queues.
#pragma once

#include "prompter.h"

#include <QQueue>
#include <QStringList>

using namespace kes;

class ScriptedPrompter : public Prompter
{
public:
    struct Shown {
        QString text;
        Buttons buttons;
        const QWidget *over = nullptr; // the window it was shown over, nullptr: the main window
    };
    QList<Shown> messages;
    QStringList inputDefaults;
    QQueue<Answer> answers; // empty: Ok
    QQueue<QString> inputs; // empty: the default text (as pressing OK)

    Answer message(const QString &text, Buttons buttons, Icon) override
    {
        messages.append({ text, buttons });
        return answers.isEmpty() ? Answer::Ok : answers.dequeue();
    }
    Answer messageOver(QWidget *window, const QString &text, Buttons buttons, Icon icon) override
    {
        const Answer answer = message(text, buttons, icon);
        messages.last().over = window;
        return answer;
    }
    QString input(const QString &, const QString &, const QString &defaultText) override
    {
        inputDefaults.append(defaultText);
        return inputs.isEmpty() ? defaultText : inputs.dequeue();
    }
    QStringList texts() const
    {
        QStringList out;
        for (const auto &m : messages)
            out << m.text;
        return out;
    }
};
