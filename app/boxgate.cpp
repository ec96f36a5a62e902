#include "boxgate.h"

#include <QApplication>
#include <QPointer>
#include <QQueue>
#include <QTimer>
#include <QWidget>

namespace kes
{

namespace
{

struct Waiting {
    QPointer<QObject> context;
    std::function<void()> command;
};

QQueue<Waiting> &waiting()
{
    static QQueue<Waiting> queue;
    return queue;
}

// A box closing sends no signal of its own: look again while commands wait.
void lookLater()
{
    QTimer::singleShot(50, qApp, [] {
        while (!waiting().isEmpty() && !boxIsUp()) {
            Waiting w = waiting().dequeue();
            if (w.context)
                w.command();
        }
        if (!waiting().isEmpty())
            lookLater();
    });
}

} // namespace

bool boxIsUp()
{
    static const QStringList ownWindows { QStringLiteral("frmOpt1"), QStringLiteral("print1"),
        QStringLiteral("frmAbout"), QStringLiteral("Frm_FF") };
    const QWidget *modal = QApplication::activeModalWidget();
    return modal && !ownWindows.contains(modal->objectName());
}

void runWhenNoBox(QObject *context, std::function<void()> command)
{
    if (waiting().isEmpty() && !boxIsUp()) {
        command();
        return;
    }
    const bool looking = !waiting().isEmpty();
    waiting().enqueue({ context, std::move(command) });
    if (!looking)
        lookLater();
}

} // namespace kes
