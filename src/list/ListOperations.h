#pragma once

#include "list/DownloadList.h"

namespace torvaline {

// The row commands of the list. Each takes the current row as it stands; a row that is not a
// download row (the title row, or an index past the end) makes the command a no-op, so the
// titles never move or vanish and no link is lost.

// Removes the row; the rows below move up one place.
void DeleteStringGridRow1(DownloadList& grid, int row);

// Each move trades the cells of two rows through the scratch row (the selection stays put):
// up: row, row-1; down: row, row+1; first: 1, row; last: row, count-1.
void MoveUpStringGridRow(DownloadList& grid, int row);
void MoveDownStringGridRow(DownloadList& grid, int row);
void MoveFirstStringGridRow(DownloadList& grid, int row);
void MoveLastStringGridRow(DownloadList& grid, int row);

// The enabled state of the "Move UP" button for the given current row: on from row 3.
bool CheckRowNum(int currentRow);

} // namespace torvaline
