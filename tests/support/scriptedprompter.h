// A Prompter for tests: records every message and input box and answers from queues.
#pragma once

#include "prompter.h"

#include <QQueue>
#include <QStringList>

#include <functional>

using namespace kes;

class ScriptedPrompter : public Prompter
{
public:
    struct Shown {
        QString text;
        Buttons buttons;
        const QWidget *over = nullptr; // the window it was shown over, nullptr: the main window
        bool modal = true; // false: a note, which waits for no answer
    };
    QList<Shown> messages;
    QStringList inputDefaults;
    QQueue<Answer> answers; // empty: Ok
    QQueue<QString> inputs; // empty: the default text (as pressing OK)
    // Runs while a message box is up, before it answers (what the user or the system
    // does meanwhile).
    std::function<void()> whileShown;

    Answer message(const QString &text, Buttons buttons, Icon) override
    {
        messages.append({ text, buttons });
        if (whileShown)
            whileShown();
        return answers.isEmpty() ? Answer::Ok : answers.dequeue();
    }
    Answer messageOver(QWidget *window, const QString &text, Buttons buttons, Icon icon) override
    {
        const Answer answer = message(text, buttons, icon);
        messages.last().over = window;
        return answer;
    }
    void note(const QString &text) override { messages.append({ text, Buttons::Ok, nullptr, false }); }
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
