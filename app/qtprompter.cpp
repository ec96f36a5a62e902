#include "qtprompter.h"

#include <QInputDialog>
#include <QMessageBox>

#include <utility>

namespace kes
{

Prompter::Answer QtPrompter::message(const QString &text, Buttons buttons, Icon icon)
{
    // Every message also goes to standard error, for whoever runs the player from a shell.
    qInfo("kestrine: %s", qUtf8Printable(text));
    QMessageBox box(m_parent);
    box.setWindowTitle(QStringLiteral("kestrine"));
    box.setText(text);
    switch (icon) {
    case Icon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case Icon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case Icon::Exclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case Icon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    }
    switch (buttons) {
    case Buttons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case Buttons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case Buttons::RetryCancel:
        box.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel);
        break;
    }
    const int answer = box.exec();
    return answer == QMessageBox::Ok ? Answer::Ok : answer == QMessageBox::Retry ? Answer::Retry : Answer::Cancel;
}

Prompter::Answer QtPrompter::messageOver(QWidget *window, const QString &text, Buttons buttons, Icon icon)
{
    const QPointer<QWidget> parent = std::exchange(m_parent, window);
    const Answer answer = message(text, buttons, icon);
    m_parent = parent;
    return answer;
}

void QtPrompter::note(const QString &text)
{
    qInfo("kestrine: %s", qUtf8Printable(text));
    auto *box = new QMessageBox(QMessageBox::Information, QStringLiteral("kestrine"), text, QMessageBox::Ok, m_parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

QString QtPrompter::input(const QString &prompt, const QString &title, const QString &defaultText)
{
    bool ok = false;
    const QString text = QInputDialog::getText(m_parent, title, prompt, QLineEdit::Normal, defaultText, &ok);
    return ok ? text : QString();
}

} // namespace kes
