#pragma once

// A tab control whose tabs wrap onto as many rows as their captions need,
// instead of scrolling as QTabWidget's bar does. Each row is stretched to the
// full width, and the row holding the current tab always sits next to the
// page, so choosing a tab in an upper row moves that row down.
//
// It is a QTabWidget for everything else (pages, captions, icons, the current
// index; a .ui form fills it like any tab widget): the bar is replaced by one
// that lays out, paints and hit-tests its tabs in rows, and the page area is
// placed below those rows.

#include <QTabBar>
#include <QTabWidget>

#include <memory>
#include <vector>

class QProxyStyle;

class TWrapTabBar : public QTabBar {
    Q_OBJECT
public:
    static constexpr int kRowHeight = 20;
    // Room above the top row for the current tab, which stands out by that much.
    static constexpr int kRaise = 2;
    // Room at each side for the current tab, which is wider by kRaise.
    static constexpr int kSideMargin = 2;

    explicit TWrapTabBar(QWidget* parent = nullptr);

    // The rectangle of tab `index` (not enlarged for the current tab), for a
    // bar `width` wide; empty for an index out of range.
    QRect WrappedTabRect(int index) const;
    // Rows that the tabs take in a bar `width` wide (at least 1).
    int RowCount(int width) const;
    // Height of the tab rows without the frame line below them.
    int RowsHeight(int width) const { return RowCount(width) * kRowHeight + kRaise; }
    // The tab under `pos`, or -1.
    int WrappedTabAt(const QPoint& pos) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void tabLayoutChange() override;

private:
    struct Layout {
        std::vector<QRect> rects; // by tab index
        int rows = 1;
    };
    Layout ComputeLayout(int width) const;
    int NaturalTabWidth(int index) const;
    int AvailableWidth() const;
    void PaintTab(QPainter& painter, int index, const QRect& rect, bool current) const;
};

class TWrapTabControl : public QTabWidget {
    Q_OBJECT
public:
    // Space between the page frame and the page, at the sides and bottom.
    static constexpr int kPageMargin = 4;
    // The frame line's height between the tab rows and the page.
    static constexpr int kFrameTop = 2;

    explicit TWrapTabControl(QWidget* parent = nullptr);
    ~TWrapTabControl() override;

    TWrapTabBar* WrapBar() const { return m_bar; }
    // The area of the frame around the pages, and of the pages themselves.
    QRect PaneRect() const;
    QRect PageRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TWrapTabBar* m_bar;
    std::unique_ptr<QProxyStyle> m_style;
};
