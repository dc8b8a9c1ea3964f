// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/imagelist.h"

#include "app/listscrollbar.h"

#include <QApplication>
#include <QPainter>
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

    // With uniform sizes the list asks for the first entry's size at every layout, that is at
    // every frame of a harvest, and the style lays its text out to answer. The answer for the
    // same text in the same font and style is kept.
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        if (!isTextLine(opt))
            return QStyledItemDelegate::sizeHint(option, index);
        const QStyle *style = opt.widget ? opt.widget->style() : QApplication::style();
        if (m_sized.style != style || m_sized.text != opt.text || m_sized.font != opt.font)
            m_sized = {style, opt.text, opt.font, QStyledItemDelegate::sizeHint(option, index)};
        return m_sized.size;
    }

private:
    struct Sized {
        const QStyle *style = nullptr;
        QString text;
        QFont font;
        QSize size;
    };
    mutable Sized m_sized;
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
