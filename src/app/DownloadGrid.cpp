#include "app/DownloadGrid.h"

#include "app/DownloadListModel.h"
#include "dialogs/ReferenceUnits.h"
#include "list/RowTexts.h"

#include <algorithm>

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QStyle>

#include <cmath>
#include <initializer_list>
#include <string_view>

namespace torvaline {

namespace {

// The widest texts of each column besides its title: host names, speeds of four digits, sizes
// up to 9999.99 MB, a whole percentage, times under a day, every status.
const std::array<std::initializer_list<std::string_view>, DownloadList::ColumnCount>&
widestTexts() {
    static const std::array<std::initializer_list<std::string_view>, DownloadList::ColumnCount> t{{
        // The built-in hoster profiles' names besides.
        {HostRapidShare, Host4Shared, "XFileSharing"},
        {},
        {"9999Kb/s"},
        {"9999.99 MB"},
        {"9999.99 MB"},
        {"100.00 %"},
        {"23:59:59"},
        {"23:59:59"},
        // With several rows at work, a row's own wait names its hoster (cut at 15 characters).
        {StatusDownloading, StatusWaiting, StatusCompleted, StatusStopped, StatusFailed, "Paused",
         "Retry 3 of 3 at 23:59:59", "Needs captcha", "Wait 23:59:59 (127.100.200.25)"},
    }};
    return t;
}

} // namespace

std::array<int, DownloadList::ColumnCount>
DownloadGrid::columnWidthsFor(const ReferenceUnits& units, int textMargins) {
    std::array<int, DownloadList::ColumnCount> widths{};
    int total = 0;
    int needed = 0;
    for (std::size_t c = 0; c < widths.size(); ++c) {
        const int scaled = units.x(DownloadList::columnWidths()[c]);
        int widest = units.textWidth(QString::fromLatin1(DownloadList::titles()[c]));
        // Measured bold: the row being worked on is drawn so, and a bold face runs wider by
        // more in some fonts than in others.
        for (const std::string_view text : widestTexts()[c])
            widest = std::max(widest, units.boldTextWidth(QString::fromLatin1(
                                          text.data(), static_cast<qsizetype>(text.size()))));
        widths[c] = std::max(scaled, widest + textMargins);
        total += scaled;
        needed += widths[c];
    }
    int& url = widths[DownloadList::URL];
    const int urlTitle =
        units.textWidth(QString::fromLatin1(DownloadList::titles()[DownloadList::URL])) +
        textMargins;
    url = std::max(urlTitle, url - std::max(0, needed - total));
    return widths;
}

DownloadGrid::DownloadGrid(DownloadListModel& model, QWidget* parent)
    : QTableView(parent) {
    setObjectName(QStringLiteral("MyStringGrid"));
    setModel(&model);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(true);
    setWordWrap(false);
    setTabKeyNavigation(false);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);

    const ReferenceUnits units(font());
    const int rowHeight =
        std::max(units.y(RowHeight), static_cast<int>(std::ceil(units.metrics().height())) + 2);
    QHeaderView* rows = verticalHeader();
    rows->hide();
    rows->setMinimumSectionSize(rowHeight);
    rows->setDefaultSectionSize(rowHeight);
    // Fixed: the view never measures a row's contents, which keeps a list of a hundred
    // thousand links as quick to show and scroll as a short one.
    rows->setSectionResizeMode(QHeaderView::Fixed);

    QHeaderView* columns = horizontalHeader();
    columns->hide();
    columns->setSectionResizeMode(QHeaderView::Interactive);
    columns->setStretchLastSection(false);
    // The delegate keeps a margin on either side of a cell's text; the grid line takes a pixel.
    const int textMargins =
        2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1) + 1;
    const auto widths = columnWidthsFor(units, textMargins);
    for (int c = 0; c < DownloadList::ColumnCount; ++c)
        setColumnWidth(c, widths[static_cast<std::size_t>(c)]);
    viewport()->setMouseTracking(true);
}

int DownloadGrid::currentRow() const {
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.row() : -1;
}

void DownloadGrid::setCurrentRow(int row) {
    if (row < 0 || row >= model()->rowCount())
        return;
    const int column = currentIndex().isValid() ? currentIndex().column() : 0;
    selectionModel()->setCurrentIndex(model()->index(row, column),
                                      QItemSelectionModel::ClearAndSelect |
                                          QItemSelectionModel::Rows);
}

int DownloadGrid::columnBorderAt(int x) const {
    constexpr int Grip = 3;
    for (int c = 0; c < model()->columnCount(); ++c) {
        const int border = columnViewportPosition(c) + columnWidth(c);
        if (x >= border - Grip && x <= border + Grip)
            return c;
    }
    return -1;
}

void DownloadGrid::mousePressEvent(QMouseEvent* event) {
    const int x = event->position().toPoint().x();
    const int column = event->button() == Qt::LeftButton ? columnBorderAt(x) : -1;
    if (column < 0) {
        QTableView::mousePressEvent(event);
        return;
    }
    m_resizing = column;
    m_pressX = x;
    m_pressWidth = columnWidth(column);
    event->accept();
}

void DownloadGrid::mouseMoveEvent(QMouseEvent* event) {
    const int x = event->position().toPoint().x();
    if (m_resizing >= 0) {
        constexpr int MinimumWidth = 8;
        setColumnWidth(m_resizing, std::max(MinimumWidth, m_pressWidth + x - m_pressX));
        event->accept();
        return;
    }
    if (event->buttons() == Qt::NoButton) {
        if (columnBorderAt(x) >= 0)
            viewport()->setCursor(Qt::SplitHCursor);
        else
            viewport()->unsetCursor();
    }
    QTableView::mouseMoveEvent(event);
}

void DownloadGrid::mouseReleaseEvent(QMouseEvent* event) {
    if (m_resizing >= 0 && event->button() == Qt::LeftButton) {
        m_resizing = -1;
        event->accept();
        return;
    }
    QTableView::mouseReleaseEvent(event);
}

} // namespace torvaline
