#pragma once

#include <QTableView>

namespace torvaline {

class DownloadListModel;

// The download list on screen: whole rows selected, ranges highlighted, every command
// working on the focused row, no cell editing, 16-pixel rows and no header sections (row 0
// carries the titles itself).
class DownloadGrid final : public QTableView {
    Q_OBJECT

public:
    static constexpr int RowHeight = 16;

    explicit DownloadGrid(DownloadListModel& model, QWidget* parent = nullptr);

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
