#include "tabcontrol.h"

#include <QPainter>
#include <QStyleOptionTabWidgetFrame>
#include <QStylePainter>

namespace kes
{

TabControl::TabControl(QWidget *parent)
    : QWidget(parent)
    , m_bar(new QTabBar(this))
{
    m_bar->setDrawBase(false);
    m_bar->setExpanding(false);
    connect(m_bar, &QTabBar::currentChanged, this, [this](int index) {
        showCurrent();
        emit currentChanged(index);
    });
}

QWidget *TabControl::addPage(const QString &caption)
{
    auto *page = new QWidget(this);
    page->setGeometry(rect());
    m_pages.append(page);
    m_bar->addTab(caption);
    m_bar->resize(m_bar->sizeHint());
    m_bar->raise();
    showCurrent();
    return page;
}

void TabControl::setCurrentIndex(int index)
{
    m_bar->setCurrentIndex(index);
    showCurrent();
}

void TabControl::showCurrent()
{
    for (int i = 0; i < m_pages.size(); ++i)
        m_pages[i]->setVisible(i == m_bar->currentIndex());
}

void TabControl::resizeEvent(QResizeEvent *)
{
    for (QWidget *page : m_pages)
        page->setGeometry(rect());
    m_bar->resize(m_bar->sizeHint());
}

void TabControl::paintEvent(QPaintEvent *)
{
    QStylePainter p(this);
    QStyleOptionTabWidgetFrame opt;
    opt.initFrom(this);
    opt.rect = rect().adjusted(0, m_bar->height() - 1, 0, 0);
    opt.tabBarSize = m_bar->size();
    p.drawPrimitive(QStyle::PE_FrameTabWidget, opt);
}

} // namespace kes
