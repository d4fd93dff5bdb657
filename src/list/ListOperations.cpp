#include "list/ListOperations.h"

namespace torvaline {

namespace {

bool isDownloadRow(const DownloadList& grid, int row) {
    return row >= 1 && row < grid.rowCount();
}

// Trades two download rows, all nine cells at once (the list's swap stands in for the scratch
// row StringGrid2).
void swapRows(DownloadList& grid, int a, int b) {
    if (!isDownloadRow(grid, a) || !isDownloadRow(grid, b))
        return;
    grid.swapRows(a, b);
}

} // namespace

void DeleteStringGridRow1(DownloadList& grid, int row) {
    if (!isDownloadRow(grid, row))
        return;
    grid.removeRow(row);
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
