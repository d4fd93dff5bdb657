#include "app/DownloadListModel.h"

namespace torvaline {

DownloadListModel::DownloadListModel(DownloadList& list, QObject* parent)
    : QAbstractTableModel(parent)
    , m_list(list) {
    DownloadList::Observer observer;
    observer.rowsAboutToBeInserted = [this](int first, int last) {
        beginInsertRows(QModelIndex(), first, last);
    };
    observer.rowsInserted = [this] { endInsertRows(); };
    observer.rowsAboutToBeRemoved = [this](int first, int last) {
        beginRemoveRows(QModelIndex(), first, last);
    };
    observer.rowsRemoved = [this] { endRemoveRows(); };
    observer.cellsChanged = [this](int firstRow, int lastRow, int firstColumn, int lastColumn) {
        emit dataChanged(index(firstRow, firstColumn), index(lastRow, lastColumn),
                         {Qt::DisplayRole, Qt::ToolTipRole});
    };
    m_list.setObserver(std::move(observer));
}

DownloadListModel::~DownloadListModel() {
    // The list outlives the window that shows it; it must not call into a dead model.
    m_list.setObserver({});
}

int DownloadListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_list.rowCount();
}

int DownloadListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : DownloadList::ColumnCount;
}

QVariant DownloadListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    const std::string& text = m_list.cell(index.row(), index.column());
    if (role == Qt::ToolTipRole && text.empty())
        return {};
    // Cells are bytes; what is not UTF-8 shows as replacement characters.
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

Qt::ItemFlags DownloadListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

} // namespace torvaline
