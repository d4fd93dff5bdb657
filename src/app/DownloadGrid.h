#pragma once

#include "list/DownloadList.h"

#include <QTableView>

#include <array>

namespace torvaline {

class DownloadListModel;
class ReferenceUnits;

// The download list on screen: whole rows selected, ranges highlighted, every command
// working on the focused row, no cell editing, 16-pixel rows and no header sections (row 0
// carries the titles itself). Row height and column widths are in reference units.
class DownloadGrid final : public QTableView {
    Q_OBJECT

public:
    static constexpr int RowHeight = 16;

    explicit DownloadGrid(DownloadListModel& model, QWidget* parent = nullptr);

    // The starting column widths in this font: the reference widths converted, each at least
    // as wide as the widest text the program writes into that column. What the narrow columns
    // need beyond their share comes out of "URL", whose links are cut anyway, so the grid
    // stays as wide as the window.
    static std::array<int, DownloadList::ColumnCount> columnWidthsFor(const ReferenceUnits& units,
                                                                      int textMargins);

    // The focused row, -1 when there is none.
    int currentRow() const;
    // Focuses row (keeping the column) and makes it the only highlighted row.
    void setCurrentRow(int row);

protected:
    // Without header sections the column borders in the cells themselves are the handles
    // for changing a column's width.
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // The column whose right border is under x (within a few pixels), -1 when none.
    int columnBorderAt(int x) const;

    int m_resizing = -1;
    int m_pressX = 0;
    int m_pressWidth = 0;
};

} // namespace torvaline
