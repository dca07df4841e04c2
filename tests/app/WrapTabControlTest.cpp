// The tab control whose tabs wrap onto rows: what a click on a tab does, and
// how rows form at other widths than the window's.

#include "app/TWrapTabControl.h"

#include <gtest/gtest.h>

#include <QTest>

#include <memory>

namespace {

struct WrapTabs : testing::Test {
    void SetUp() override
    {
        control = std::make_unique<TWrapTabControl>();
        QFont font(QStringLiteral("WenQuanYi Zen Hei"));
        font.setPixelSize(12);
        control->setFont(font);
        QPixmap picture(16, 16);
        picture.fill(Qt::darkCyan);
        for (const char* caption : { "登陆信息", "远程文件列表", "下载", "上传", "远程文件管理", "欢迎页面" })
            control->addTab(new QWidget, QIcon(picture), QString::fromUtf8(caption));
        control->resize(397, 230);
        control->setCurrentIndex(5);
        control->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(control.get()));
    }

    int BottomRowTop() const { return control->WrapBar()->WrappedTabRect(control->currentIndex()).top(); }

    std::unique_ptr<TWrapTabControl> control;
};

TEST_F(WrapTabs, ClickOnATabInTheUpperRowSelectsItAndBringsItsRowDown)
{
    TWrapTabBar* bar = control->WrapBar();
    const int bottom = BottomRowTop();
    int upper = -1;
    for (int i = 0; i < control->count() && upper < 0; ++i)
        if (bar->WrappedTabRect(i).top() < bottom)
            upper = i;
    ASSERT_GE(upper, 0) << "two rows expected";

    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->WrappedTabRect(upper).center());

    EXPECT_EQ(control->currentIndex(), upper);
    EXPECT_EQ(bar->WrappedTabRect(upper).top(), bottom) << "the chosen row sits next to the page";
    EXPECT_TRUE(control->widget(upper)->isVisible());
    // The former current tab went up with its row.
    EXPECT_LT(bar->WrappedTabRect(5).top(), bottom);
    // The pages keep their place whichever row is below.
    EXPECT_EQ(control->currentWidget()->geometry().size(), QSize(389, 182));
}

TEST_F(WrapTabs, ClicksOutsideEveryTabChangeNothing)
{
    TWrapTabBar* bar = control->WrapBar();
    // (QTest takes a null point for the widget's centre.)
    QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(1, 1));
    EXPECT_EQ(control->currentIndex(), 5);
    QTest::mouseClick(bar, Qt::RightButton, {}, bar->WrappedTabRect(0).center());
    EXPECT_EQ(control->currentIndex(), 5);
}

TEST_F(WrapTabs, RowsFollowTheWidthAndEveryRowIsFilled)
{
    TWrapTabBar* bar = control->WrapBar();
    struct Case {
        const char* name;
        int width;
        int rows;
    };
    const Case cases[] = {
        { "wide enough for one row", 800, 1 },
        { "the window's width", 397, 2 },
        { "narrow", 200, 3 },
        // Each tab is wider than the row: one row each, none lost.
        { "narrower than any tab", 30, 6 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        control->resize(c.width, 230);
        EXPECT_EQ(bar->RowCount(c.width), c.rows);
        EXPECT_EQ(control->PageRect().top(), c.rows * TWrapTabBar::kRowHeight + TWrapTabBar::kRaise + TWrapTabControl::kFrameTop);
        for (int i = 0; i < control->count(); ++i) {
            const QRect r = bar->WrappedTabRect(i);
            EXPECT_FALSE(r.isEmpty()) << "tab " << i;
            EXPECT_GE(r.left(), TWrapTabBar::kSideMargin);
            if (c.rows > 1 && c.width >= 200) {
                EXPECT_LE(r.right(), c.width - TWrapTabBar::kSideMargin - 1) << "tab " << i;
            }
        }
    }
}

} // namespace
