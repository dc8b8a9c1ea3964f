// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/imagelist.h"

#include "app/listscrollbar.h"

#include <QApplication>
#include <QHoverEvent>
#include <QPainter>
#include <QPaintEvent>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTextLayout>

namespace {

// An entry that is one line of text, without an icon, a check box or wrapping.
bool isTextLine(const QStyleOptionViewItem &opt)
{
    return !(opt.features &
             (QStyleOptionViewItem::HasDecoration | QStyleOptionViewItem::HasCheckIndicator |
              QStyleOptionViewItem::WrapText)) &&
           !(opt.state & QStyle::State_Editing);
}

// Draws an entry that is a line of text as the style's item view draws it, to the pixel (its
// panel, the text in its place, elided to the width and kept inside the row, the focus frame),
// with the text laid out once, and once more only when it must be elided. The style lays the text
// out three times over (for its place, for eliding and for drawing); while the list follows a
// harvest every entry in sight is new at every frame, and that was most of what a frame of the
// list cost. Other entries go to the style.
class TextLineDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        if (!isTextLine(opt)) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        const QWidget *widget = opt.widget;
        const QStyle *style = widget ? widget->style() : QApplication::style();
        painter->save();
        // As the style does: nothing of an entry is drawn outside its own row.
        painter->setClipRect(opt.rect, Qt::IntersectClip);
        style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, widget);

        QPalette::ColorGroup group =
            opt.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
        if (group == QPalette::Normal && !(opt.state & QStyle::State_Active))
            group = QPalette::Inactive;
        if (!opt.text.isEmpty()) {
            painter->setPen(opt.palette.color(group, opt.state & QStyle::State_Selected
                                                         ? QPalette::HighlightedText
                                                         : QPalette::Text));
            painter->setFont(opt.font);
            const int margin =
                style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
            const QRect room = opt.rect.adjusted(margin, 0, -margin, 0);
            QTextOption textOption(QStyle::visualAlignment(opt.direction, opt.displayAlignment));
            textOption.setWrapMode(QTextOption::ManualWrap);
            textOption.setTextDirection(opt.direction);
            QTextLayout layout(opt.text, opt.font);
            layout.setTextOption(textOption);
            const auto layOut = [&] {
                layout.beginLayout();
                QTextLine line = layout.createLine();
                line.setLineWidth(room.width());
                layout.endLayout();
                return line;
            };
            QTextLine line = layOut();
            if (line.naturalTextWidth() > room.width()) {
                layout.setText(
                    opt.fontMetrics.elidedText(opt.text, opt.textElideMode, room.width()));
                line = layOut();
            }
            const QRect place =
                QStyle::alignedRect(Qt::LayoutDirectionAuto, opt.displayAlignment,
                                    QSizeF(room.width(), line.height()).toSize(), room);
            layout.draw(painter, QPointF(room.left(), place.top()));
        }
        if (opt.state & QStyle::State_HasFocus) {
            QStyleOptionFocusRect focus;
            focus.QStyleOption::operator=(opt);
            focus.rect = style->subElementRect(QStyle::SE_ItemViewItemFocusRect, &opt, widget);
            focus.state |= QStyle::State_KeyboardFocusChange | QStyle::State_Item;
            focus.backgroundColor = opt.palette.color(
                group, opt.state & QStyle::State_Selected ? QPalette::Highlight : QPalette::Window);
            style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
        }
        painter->restore();
    }
};

} // namespace

ImageList::ImageList(QWidget *parent) : QListWidget(parent)
{
    setItemDelegate(new TextLineDelegate(this));
    // Every entry is one line of text: the view need not measure each entry.
    setUniformItemSizes(true);
    m_scrollBar = new ListScrollBar(this);
    setVerticalScrollBar(m_scrollBar);
    // The scroll area moves its own connections to the new bar, the item view does not.
    connect(m_scrollBar, &QScrollBar::valueChanged, this,
            &ImageList::verticalScrollbarValueChanged);
    connect(m_scrollBar, &QScrollBar::actionTriggered, this, &ImageList::verticalScrollbarAction);
}

void ImageList::verticalScrollbarValueChanged(int value)
{
    // The view asks the window system where the pointer is at each scroll, to mark the entry
    // under it: a round trip to the X server at every frame the list follows its newest entry
    // during a harvest. Only a pointer over the entries can be over one of them.
    if (viewport()->underMouse())
        QListWidget::verticalScrollbarValueChanged(value);
}

void ImageList::append(const QStringList &names)
{
    if (names.isEmpty())
        return;
    // A layout something else asked for is done first, with the repaint it asks for.
    executeDelayedItemsLayout();
    // The list follows its newest entry, unless the user has scrolled up from the end.
    const bool following = m_scrollBar->value() == m_scrollBar->maximum();
    const int last = count() - 1;
    const bool belowView =
        last >= 0 && visualRect(model()->index(last, 0)).bottom() >= viewport()->height() - 1;
    // The scroll bar's range grows and then its value follows: it is repainted once at the end, if
    // it looks different then.
    m_scrollBar->holdChanges();
    addItems(names);
    if (belowView && !following) {
        // Laying out the list repaints every entry shown, and none of them has changed. (Not
        // setUpdatesEnabled(), which repaints the whole viewport when updates are enabled again.)
        viewport()->setAttribute(Qt::WA_UpdatesDisabled);
        executeDelayedItemsLayout();
        viewport()->setAttribute(Qt::WA_UpdatesDisabled, false);
    } else {
        executeDelayedItemsLayout();
    }
    if (following)
        scrollToBottom();
    m_scrollBar->releaseChanges();
}

void ImageList::doItemsLayout()
{
    // Showing or hiding a scroll bar resizes the viewport; in this state that resize does not ask
    // for another layout.
    const State oldState = state();
    setState(ExpandingState);
    const int rows = count();
    if (rows > 0) {
        QStyleOptionViewItem option;
        initViewItemOption(&option);
        option.rect = viewport()->rect();
        const QModelIndex last = model()->index(rows - 1, 0);
        m_itemSize = itemDelegateForIndex(last)->sizeHint(option, last);
    } else {
        m_itemSize = QSize();
    }
    // The scroll bars, and the viewport repainted.
    QAbstractItemView::doItemsLayout();
    setState(oldState);
}

void ImageList::updateGeometries()
{
    const int rows = count();
    if (geometry().isEmpty() || rows <= 0) {
        horizontalScrollBar()->setRange(0, 0);
        verticalScrollBar()->setRange(0, 0);
    } else {
        // Scrolled by whole entries: the value is the entry at the top.
        const int inView = viewport()->height() / rowHeight();
        verticalScrollBar()->setSingleStep(1);
        if (qint64(rows) * rowHeight() <= viewport()->height()) {
            verticalScrollBar()->setPageStep(rows + 1);
            verticalScrollBar()->setRange(0, 0);
        } else {
            verticalScrollBar()->setPageStep(inView);
            verticalScrollBar()->setRange(0, rows - inView);
        }
        // Across by pixels, over the entries' width. When the entries fit across beside the
        // vertical bar they need, there is no horizontal bar: otherwise each bar could make
        // room for the other to vanish and come back, without end.
        horizontalScrollBar()->setSingleStep(qMax(1, m_itemSize.width()));
        horizontalScrollBar()->setPageStep(viewport()->width());
        const QSize room(width() - 2 * frameWidth(), height() - 2 * frameWidth());
        const bool verticalWanted = qint64(rows) * rowHeight() > room.height();
        const bool horizontalWanted =
            m_itemSize.width() > room.width() - (verticalWanted ? verticalScrollBar()->width() : 0);
        const bool bothAsNeeded = verticalScrollBarPolicy() == Qt::ScrollBarAsNeeded &&
                                  horizontalScrollBarPolicy() == Qt::ScrollBarAsNeeded;
        horizontalScrollBar()->setRange(0, bothAsNeeded && !horizontalWanted
                                               ? 0
                                               : qMax(0, m_itemSize.width() - viewport()->width()));
    }
    QAbstractItemView::updateGeometries();
    // The scroll bars shown or hidden for the new ranges, and the viewport sized for them, now,
    // as a list view does it, not at a later turn of the event loop.
    QEvent layoutRequest(QEvent::LayoutRequest);
    QAbstractScrollArea::event(&layoutRequest);
}

int ImageList::rowsInView() const
{
    return qMax(1, viewport()->height() / rowHeight());
}

int ImageList::horizontalOffset() const
{
    const QScrollBar *bar = horizontalScrollBar();
    return isRightToLeft() ? bar->maximum() - bar->value() : bar->value();
}

int ImageList::verticalOffset() const
{
    return verticalScrollBar()->value() * rowHeight();
}

QRect ImageList::visualRect(const QModelIndex &index) const
{
    if (!index.isValid() || index.column() != 0 || index.parent().isValid() ||
        index.row() >= count() || m_itemSize.isEmpty())
        return QRect();
    // As wide as the viewport, or as the entries if they are wider.
    return QRect(-horizontalOffset(), index.row() * rowHeight() - verticalOffset(),
                 qMax(m_itemSize.width(), viewport()->width()), rowHeight());
}

int ImageList::rowAt(int y) const
{
    const int at = y + verticalOffset();
    if (at < 0 || m_itemSize.isEmpty())
        return -1;
    const int row = at / rowHeight();
    return row < count() ? row : -1;
}

QModelIndex ImageList::indexAt(const QPoint &point) const
{
    const int row = rowAt(point.y());
    if (row < 0)
        return QModelIndex();
    const QModelIndex index = model()->index(row, 0);
    return visualRect(index).contains(point) ? index : QModelIndex();
}

void ImageList::scrollTo(const QModelIndex &index, ScrollHint hint)
{
    const QRect rect = visualRect(index);
    if (!rect.isValid())
        return;
    if (hint == EnsureVisible && viewport()->rect().contains(rect)) {
        viewport()->update(rect);
        return;
    }
    const int row = index.row();
    const int inView = rowsInView();
    const int top = verticalScrollBar()->value();
    int value = top;
    switch (hint) {
    case PositionAtTop:
        value = row;
        break;
    case PositionAtBottom:
        value = row - inView + 1;
        break;
    case PositionAtCenter:
        value = row - inView / 2;
        break;
    case EnsureVisible:
        if (row < top)
            value = row;
        else if (row > top + inView - 1)
            value = row - inView + 1;
        break;
    }
    verticalScrollBar()->setValue(value);
}

void ImageList::scrollToItem(const QListWidgetItem *item, ScrollHint hint)
{
    scrollTo(indexFromItem(item), hint);
}

QModelIndex ImageList::moveCursor(CursorAction action, Qt::KeyboardModifiers)
{
    const int rows = count();
    if (rows == 0)
        return QModelIndex();
    const QModelIndex current = currentIndex();
    if (!current.isValid())
        return model()->index(0, 0);
    const int row = current.row();
    const int page = verticalScrollBar()->pageStep();
    switch (action) {
    case MoveUp:
    case MovePrevious:
        return model()->index(qMax(0, row - 1), 0);
    case MoveDown:
    case MoveNext:
        return model()->index(qMin(rows - 1, row + 1), 0);
    case MovePageUp:
        return model()->index(qMax(0, row - qMax(1, page - 1)), 0);
    case MovePageDown:
        return model()->index(qMin(rows - 1, row + qMax(1, page - 1)), 0);
    case MoveHome:
        return model()->index(0, 0);
    case MoveEnd:
        return model()->index(rows - 1, 0);
    case MoveLeft:
    case MoveRight:
        break;
    }
    return current;
}

void ImageList::setSelection(const QRect &rect, QItemSelectionModel::SelectionFlags command)
{
    if (!selectionModel())
        return;
    QItemSelection selection;
    const QRect area = rect.normalized();
    int first = rowAt(area.top());
    int last = rowAt(area.bottom());
    // A band selects every entry it touches, also when it reaches past either end.
    if (state() == DragSelectingState && !m_itemSize.isEmpty() &&
        area.bottom() + verticalOffset() >= 0 &&
        area.top() + verticalOffset() < count() * rowHeight()) {
        first = qMax(0, first);
        if (last < 0)
            last = count() - 1;
    }
    if (first >= 0 && last >= first)
        selection.select(model()->index(first, 0), model()->index(last, 0));
    selectionModel()->select(selection, command);
}

QRegion ImageList::visualRegionForSelection(const QItemSelection &selection) const
{
    QRegion region;
    for (const QItemSelectionRange &range : selection) {
        if (!range.isValid() || range.parent().isValid() || range.left() > 0)
            continue;
        const QRect top = visualRect(model()->index(range.top(), 0));
        const QRect bottom = visualRect(model()->index(range.bottom(), 0));
        region += top.united(bottom).intersected(viewport()->rect());
    }
    return region;
}

void ImageList::scrollContentsBy(int, int)
{
    // The entries in sight are drawn again where they now are: a screenful of lines, and the
    // whole screenful changes anyway at each frame the list follows a harvest.
    viewport()->update();
}

void ImageList::paintEvent(QPaintEvent *event)
{
    const int rows = count();
    if (rows == 0 || m_itemSize.isEmpty())
        return;
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    QPainter painter(viewport());
    const QRect area = event->rect();
    const int first = qMax(0, (area.top() + verticalOffset()) / rowHeight());
    const int end = qMin(rows, (area.bottom() + verticalOffset()) / rowHeight() + 1);
    const QModelIndex current = currentIndex();
    const QItemSelectionModel *selections = selectionModel();
    const bool focus = (hasFocus() || viewport()->hasFocus()) && current.isValid();
    const QStyle::State state = option.state;
    const bool enabled = state & QStyle::State_Enabled;
    for (int row = first; row < end; ++row) {
        const QModelIndex index = model()->index(row, 0);
        option.rect = visualRect(index);
        option.state = state;
        if (selections && selections->isSelected(index))
            option.state |= QStyle::State_Selected;
        if (enabled) {
            QPalette::ColorGroup group = QPalette::Normal;
            if (!(model()->flags(index) & Qt::ItemIsEnabled)) {
                option.state &= ~QStyle::State_Enabled;
                group = QPalette::Disabled;
            }
            option.palette.setCurrentColorGroup(group);
        }
        if (focus && current == index) {
            option.state |= QStyle::State_HasFocus;
            if (this->state() == EditingState)
                option.state |= QStyle::State_Editing;
        }
        option.state.setFlag(QStyle::State_MouseOver, index == m_hover);
        // The row's own background (for alternating colours); the delegate draws the rest.
        const QStyle::State drawn = option.state;
        option.state &= ~QStyle::State_Selected;
        style()->drawPrimitive(QStyle::PE_PanelItemViewRow, &option, &painter, this);
        option.state = drawn;
        itemDelegateForIndex(index)->paint(&painter, option, index);
    }
}

bool ImageList::viewportEvent(QEvent *event)
{
    switch (event->type()) {
    case QEvent::HoverEnter:
    case QEvent::HoverMove:
        m_hover = indexAt(static_cast<QHoverEvent *>(event)->position().toPoint());
        break;
    case QEvent::HoverLeave:
    case QEvent::Leave:
        m_hover = QPersistentModelIndex();
        break;
    default:
        break;
    }
    return QListWidget::viewportEvent(event);
}

QSize ImageList::viewportSizeHint() const
{
    return QSize(m_itemSize.width(), count() * m_itemSize.height());
}
