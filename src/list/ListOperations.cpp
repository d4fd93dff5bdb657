#include "list/ListOperations.h"

namespace torvaline {

namespace {

bool isDownloadRow(const DownloadList& grid, int row) {
    return row >= 1 && row < grid.rowCount();
}

// Trades two download rows through the scratch row StringGrid2, all nine cells at once.
void swapRows(DownloadList& grid, int a, int b) {
    if (!isDownloadRow(grid, a) || !isDownloadRow(grid, b) || a == b)
        return;
    DownloadList::Row StringGrid2 = grid.row(a);
    grid.setRow(a, grid.row(b));
    grid.setRow(b, std::move(StringGrid2));
}

} // namespace

void DeleteStringGridRow1(DownloadList& grid, int row) {
    if (!isDownloadRow(grid, row))
        return;
    for (int r = row; r <= grid.rowCount() - 2; ++r)
        grid.setRow(r, grid.row(r + 1));
    grid.setRowCount(grid.rowCount() - 1);
}

void MoveUpStringGridRow(DownloadList& grid, int row) {
    swapRows(grid, row, row - 1);
}

void MoveDownStringGridRow(DownloadList& grid, int row) {
    swapRows(grid, row, row + 1);
}

void MoveFirstStringGridRow(DownloadList& grid, int row) {
    swapRows(grid, 1, row);
}

void MoveLastStringGridRow(DownloadList& grid, int row) {
    swapRows(grid, row, grid.rowCount() - 1);
}

bool CheckRowNum(int currentRow) {
    return currentRow >= 3;
}

} // namespace torvaline
