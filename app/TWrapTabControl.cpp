#include "app/TWrapTabControl.h"

#include <QMouseEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOptionFocusRect>

namespace {

// Inside a tab: margin, picture, gap, caption, margin.
constexpr int kTabPadding = 6;
constexpr int kIconGap = 4;

// Places the bar and the pages of a TWrapTabControl where the control says,
// since QTabWidget asks its style for these rectangles.
class TWrapTabStyle : public QProxyStyle {
public:
    QRect subElementRect(SubElement element, const QStyleOption* option, const QWidget* widget) const override
    {
        if (const auto* control = qobject_cast<const TWrapTabControl*>(widget)) {
            switch (element) {
            case SE_TabWidgetTabBar:
                return QRect(0, 0, control->width(),
                             control->WrapBar()->RowsHeight(control->width()) + TWrapTabControl::kFrameTop);
            case SE_TabWidgetTabPane:
                return control->PaneRect();
            case SE_TabWidgetTabContents:
                return control->PageRect();
            case SE_TabWidgetLeftCorner:
            case SE_TabWidgetRightCorner:
                return QRect();
            default:
                break;
            }
        }
        return QProxyStyle::subElementRect(element, option, widget);
    }
};

} // namespace

TWrapTabBar::TWrapTabBar(QWidget* parent)
    : QTabBar(parent)
{
    setDrawBase(false);
    setUsesScrollButtons(false);
    setExpanding(false);
    setElideMode(Qt::ElideNone);
    setIconSize(QSize(16, 16));
    // The row of the current tab moves next to the page: everything moves.
    connect(this, &QTabBar::currentChanged, this, qOverload<>(&QWidget::update));
}

int TWrapTabBar::AvailableWidth() const
{
    const QWidget* owner = parentWidget();
    return owner ? owner->width() : width();
}

int TWrapTabBar::NaturalTabWidth(int index) const
{
    int w = 2 * kTabPadding + fontMetrics().horizontalAdvance(tabText(index));
    if (!tabIcon(index).isNull())
        w += iconSize().width() + kIconGap;
    return w;
}

TWrapTabBar::Layout TWrapTabBar::ComputeLayout(int width) const
{
    Layout layout;
    const int n = count();
    layout.rects.resize(static_cast<std::size_t>(n));
    if (n == 0)
        return layout;

    // Fill rows from left to right; a tab that does not fit starts a new row
    // (a tab wider than the whole row gets a row of its own).
    const int room = std::max(1, width - 2 * kSideMargin);
    std::vector<std::vector<int>> rows(1);
    int used = 0;
    for (int i = 0; i < n; ++i) {
        const int w = NaturalTabWidth(i);
        if (!rows.back().empty() && used + w > room) {
            rows.emplace_back();
            used = 0;
        }
        rows.back().push_back(i);
        used += w;
    }
    layout.rows = static_cast<int>(rows.size());

    // The row holding the current tab goes to the bottom; the rows after it
    // keep their order above it.
    int currentRow = 0;
    for (int r = 0; r < layout.rows; ++r)
        for (int i : rows[static_cast<std::size_t>(r)])
            if (i == currentIndex())
                currentRow = r;

    for (int r = 0; r < layout.rows; ++r) {
        const auto& row = rows[static_cast<std::size_t>(r)];
        const int displayRow = (r - currentRow - 1 + 2 * layout.rows) % layout.rows;
        const int y = kRaise + displayRow * kRowHeight;
        int natural = 0;
        for (int i : row)
            natural += NaturalTabWidth(i);
        // Several rows are stretched to the full width, so they line up.
        const int extra = layout.rows > 1 ? std::max(0, room - natural) : 0;
        const int count = static_cast<int>(row.size());
        int x = kSideMargin;
        for (int k = 0; k < count; ++k) {
            const int i = row[static_cast<std::size_t>(k)];
            const int w = NaturalTabWidth(i) + extra / count + (k < extra % count ? 1 : 0);
            layout.rects[static_cast<std::size_t>(i)] = QRect(x, y, w, kRowHeight);
            x += w;
        }
    }
    return layout;
}

QRect TWrapTabBar::WrappedTabRect(int index) const
{
    if (index < 0 || index >= count())
        return QRect();
    return ComputeLayout(AvailableWidth()).rects[static_cast<std::size_t>(index)];
}

int TWrapTabBar::RowCount(int width) const
{
    return ComputeLayout(width).rows;
}

int TWrapTabBar::WrappedTabAt(const QPoint& pos) const
{
    const Layout layout = ComputeLayout(AvailableWidth());
    // The current tab is drawn larger and on top of its neighbours.
    const int current = currentIndex();
    if (current >= 0 && current < count()
        && layout.rects[static_cast<std::size_t>(current)].adjusted(-kRaise, -kRaise, kRaise, 0).contains(pos))
        return current;
    for (int i = 0; i < count(); ++i)
        if (isTabEnabled(i) && layout.rects[static_cast<std::size_t>(i)].contains(pos))
            return i;
    return -1;
}

QSize TWrapTabBar::sizeHint() const
{
    const int w = AvailableWidth();
    return QSize(w, RowsHeight(w) + TWrapTabControl::kFrameTop);
}

QSize TWrapTabBar::minimumSizeHint() const
{
    return sizeHint();
}

void TWrapTabBar::tabLayoutChange()
{
    updateGeometry();
    update();
}

void TWrapTabBar::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    const int index = WrappedTabAt(event->position().toPoint());
    if (index >= 0)
        setCurrentIndex(index);
    event->accept();
}

// Dragging and the bar's own release handling work on its single-row layout,
// which this bar does not use.
void TWrapTabBar::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
}

void TWrapTabBar::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
}

void TWrapTabBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const Layout layout = ComputeLayout(AvailableWidth());
    const int current = currentIndex();
    for (int i = 0; i < count(); ++i)
        if (i != current)
            PaintTab(painter, i, layout.rects[static_cast<std::size_t>(i)], false);
    if (current >= 0 && current < count()) {
        // Larger, and down over the frame line, so that it opens onto its page.
        const QRect r = layout.rects[static_cast<std::size_t>(current)].adjusted(
            -kRaise, -kRaise, kRaise, TWrapTabControl::kFrameTop);
        PaintTab(painter, current, r, true);
    }
}

void TWrapTabBar::PaintTab(QPainter& painter, int index, const QRect& r, bool current) const
{
    const QPalette& pal = palette();
    painter.fillRect(r.adjusted(1, 1, -1, 0), pal.window());

    // A raised tab with cut corners: light on the left and top, dark on the right.
    painter.setPen(pal.color(QPalette::Light));
    painter.drawLine(r.left(), r.top() + 2, r.left(), r.bottom());
    painter.drawPoint(r.left() + 1, r.top() + 1);
    painter.drawLine(r.left() + 2, r.top(), r.right() - 2, r.top());
    painter.setPen(pal.color(QPalette::Shadow));
    painter.drawPoint(r.right() - 1, r.top() + 1);
    painter.drawLine(r.right(), r.top() + 2, r.right(), r.bottom());
    painter.setPen(pal.color(QPalette::Dark));
    painter.drawLine(r.right() - 1, r.top() + 2, r.right() - 1, r.bottom());

    // The picture and caption keep their place within the tab's row.
    QRect content = current ? r.adjusted(kRaise, kRaise, -kRaise, -TWrapTabControl::kFrameTop) : r;
    if (current)
        content.translate(0, -1);
    int x = content.left() + kTabPadding;
    const int naturalWidth = NaturalTabWidth(index);
    x += std::max(0, (content.width() - naturalWidth) / 2);
    const QIcon icon = tabIcon(index);
    if (!icon.isNull()) {
        const QSize size = iconSize();
        const QPixmap pixmap = icon.pixmap(size, isTabEnabled(index) ? QIcon::Normal : QIcon::Disabled);
        painter.drawPixmap(x, content.top() + (content.height() - size.height()) / 2, pixmap);
        x += size.width() + kIconGap;
    }
    const QString text = tabText(index);
    const QRect textRect(x, content.top(), fontMetrics().horizontalAdvance(text), content.height());
    painter.setPen(pal.color(isTabEnabled(index) ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    if (current && hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = textRect.adjusted(-2, 1, 2, -1);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
}

TWrapTabControl::TWrapTabControl(QWidget* parent)
    : QTabWidget(parent)
    , m_bar(new TWrapTabBar(this))
    , m_style(std::make_unique<TWrapTabStyle>())
{
    setStyle(m_style.get());
    setTabBar(m_bar);
}

TWrapTabControl::~TWrapTabControl()
{
    // Back to the application's style before ours goes away.
    setStyle(nullptr);
}

QRect TWrapTabControl::PaneRect() const
{
    const int top = m_bar->RowsHeight(width());
    return QRect(0, top, width(), std::max(0, height() - top));
}

QRect TWrapTabControl::PageRect() const
{
    const int top = m_bar->RowsHeight(width()) + kFrameTop;
    return QRect(kPageMargin, top, std::max(0, width() - 2 * kPageMargin),
                 std::max(0, height() - top - kPageMargin));
}

void TWrapTabControl::paintEvent(QPaintEvent*)
{
    // A raised frame two lines deep around the pages; the current tab, drawn
    // by the bar on top of it, opens it where it meets the page.
    QPainter painter(this);
    const QRect r = PaneRect();
    if (r.height() < 2 || r.width() < 2)
        return;
    const QPalette& pal = palette();
    painter.setPen(pal.color(QPalette::Light));
    painter.drawLine(r.topLeft(), r.topRight());
    painter.drawLine(r.topLeft(), r.bottomLeft());
    painter.setPen(pal.color(QPalette::Midlight));
    painter.drawLine(r.left() + 1, r.top() + 1, r.right() - 1, r.top() + 1);
    painter.drawLine(r.left() + 1, r.top() + 1, r.left() + 1, r.bottom() - 1);
    painter.setPen(pal.color(QPalette::Shadow));
    painter.drawLine(r.bottomLeft(), r.bottomRight());
    painter.drawLine(r.topRight(), r.bottomRight());
    painter.setPen(pal.color(QPalette::Dark));
    painter.drawLine(r.left() + 1, r.bottom() - 1, r.right() - 1, r.bottom() - 1);
    painter.drawLine(r.right() - 1, r.top() + 1, r.right() - 1, r.bottom() - 1);
}
