#pragma once

#include "list/DownloadList.h"

#include <QAbstractTableModel>

#include <functional>
#include <string>
#include <vector>

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
    // One of the rows worked on at once starts or stops being worked on; 0 with false: none.
    void markWorking(std::uint64_t id, bool working);
    // What the Status cell of a row shows instead of the list's text, when not empty (the
    // countdown and the wait of a row among several at work).
    void setStatusText(std::function<std::string(std::uint64_t id)> statusText) {
        m_statusText = std::move(statusText);
    }
    // The Status cells of these rows changed without the list.
    void statusChanged(const std::vector<int>& rows);

private:
    void repaintRow(std::uint64_t id);
    // What the row's link check shows in the cell, or nothing (the cell as it stands).
    QVariant checkedData(int row, int column, int role, const CheckedLink& checked) const;

    DownloadList& m_list;
    // The rows drawn in bold, few at a time.
    std::vector<std::uint64_t> m_working;
    std::function<std::string(std::uint64_t)> m_statusText;
};

} // namespace torvaline
