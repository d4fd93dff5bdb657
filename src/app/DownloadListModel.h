#pragma once

#include "list/DownloadList.h"

#include <QAbstractTableModel>

#include <cstdint>

namespace torvaline {

// The download list as Qt's views see it. It holds no data: every cell is read from the
// DownloadList, and the list's observer calls are passed on one for one, so a view repaints
// exactly the cells that changed. Row 0 (the titles) is an ordinary row.
class DownloadListModel final : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit DownloadListModel(DownloadList& list, QObject* parent = nullptr);
    ~DownloadListModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The row the download cycle works on, drawn in bold (by id: 0 for none).
    void setWorkingRow(std::uint64_t id);

private:
    void repaintRow(std::uint64_t id);
    // What the row's link check shows in the cell, or nothing (the cell as it stands).
    QVariant checkedData(int row, int column, int role, const CheckedLink& checked) const;

    DownloadList& m_list;
    std::uint64_t m_working = 0;
};

} // namespace torvaline
