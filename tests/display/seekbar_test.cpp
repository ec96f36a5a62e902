// The seek bar repaints for a new value only when the handle moves or an end is reached
// or left, and then shows it where the value puts it.
#include "seekbar.h"

#include <QApplication>
#include <QStyle>
#include <QStyleOptionSlider>

#include <gtest/gtest.h>

using namespace kes;

namespace
{

class Counted : public SeekBar
{
public:
    using SeekBar::SeekBar;
    int paints = 0;
    QRect paintedHandle; // where the last paint put the handle

    // Where the value puts the handle, by the style's own account.
    QRect handleNow() const
    {
        QStyleOptionSlider option;
        initStyleOption(&option);
        return style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this);
    }

protected:
    void paintEvent(QPaintEvent *event) override
    {
        ++paints;
        paintedHandle = handleNow();
        SeekBar::paintEvent(event);
    }
};

} // namespace

TEST(SeekBar, RepaintsWhenTheHandleMovesOrAnEndIsReached)
{
    Counted bar;
    bar.setGeometry(0, 0, 126, 10); // the main window's size
    bar.setRange(0, 300);
    bar.show();
    QApplication::processEvents();
    ASSERT_GT(bar.paints, 0);
    for (int value = 1; value <= 300; ++value) {
        bar.setValue(value);
        QApplication::processEvents();
        ASSERT_EQ(bar.paintedHandle, bar.handleNow()) << value; // the screen shows the value
    }
    // Three hundred seconds over about a hundred pixels: far fewer paints than values.
    EXPECT_LT(bar.paints, 200);
    // The end reached repaints (the style greys the arrow), as does leaving it.
    const int before = bar.paints;
    bar.setValue(299);
    QApplication::processEvents();
    EXPECT_GT(bar.paints, before);
}
