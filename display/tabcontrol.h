// A tab control laid out like the classic one: the tab strip at the top left, and pages
// whose children are placed relative to the whole control, so a page may put a button
// beside the tabs.
#pragma once

#include <QTabBar>
#include <QWidget>

namespace kes
{

class TabControl : public QWidget
{
    Q_OBJECT
public:
    explicit TabControl(QWidget *parent = nullptr);

    // Adds a page covering the whole control; returns it for children to be placed on.
    QWidget *addPage(const QString &caption);
    int currentIndex() const { return m_bar->currentIndex(); }
    void setCurrentIndex(int index);
    QWidget *page(int index) const { return m_pages.value(index); }
    QTabBar *tabBar() const { return m_bar; }

signals:
    void currentChanged(int index);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void showCurrent();

    QTabBar *m_bar;
    QList<QWidget *> m_pages;
};

} // namespace kes
