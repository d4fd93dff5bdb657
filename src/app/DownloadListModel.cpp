#include "app/DownloadListModel.h"

#include "list/RowTexts.h"
#include "transfer/ProgressDisplay.h"

#include <QFont>
#include <QLocale>

#include <algorithm>
#include <utility>

namespace torvaline {

namespace {

// What a cell shows at most. A line of a list file may be megabytes long; drawing or eliding
// that much text on every paint froze the window (and a long enough one crashed the text
// layout), while no screen shows more than a few thousand characters of one line anyway. The
// cell itself keeps every byte for the cycle, Copy Selected and Save As.
constexpr std::size_t MaxShownBytes = 4096;

QString shown(const std::string& bytes) {
    if (bytes.size() <= MaxShownBytes)
        return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    // Cut before a character, not inside one: back off over UTF-8 continuation bytes.
    std::size_t cut = MaxShownBytes;
    for (int i = 0; i < 3 && cut > 0 && (static_cast<unsigned char>(bytes[cut]) & 0xC0) == 0x80;
         ++i)
        --cut;
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(cut)) + QChar(0x2026);
}

char localDecimalPoint() {
    const QString point = QLocale().decimalPoint();
    if (point.size() == 1 && point.at(0).unicode() > 0x20 && point.at(0).unicode() < 0x7f)
        return static_cast<char>(point.at(0).unicode());
    return '.';
}

// The size as the "Total" column writes it once a transfer runs.
std::string checkedSize(std::int64_t bytes) {
    // In KiB, as the transfer counts, and bounded: a server may announce any number.
    const auto kib = std::min<std::uint64_t>(static_cast<std::uint64_t>(bytes) / 1024, 1ull << 50);
    return FormatFixed2(kib, 1024, localDecimalPoint()) + " MB";
}

const char* stateText(CheckedLink::State state) {
    switch (state) {
    case CheckedLink::State::Online:
        return "Online";
    case CheckedLink::State::Offline:
        return "Offline";
    case CheckedLink::State::Unknown:
        break;
    }
    return "Unknown";
}

} // namespace

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
    // Qt names the place before which the row goes, counted before it left.
    observer.rowsAboutToBeMoved = [this](int from, int to) {
        beginMoveRows(QModelIndex(), from, from, QModelIndex(), to > from ? to + 1 : to);
    };
    observer.rowsMoved = [this] { endMoveRows(); };
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
    if (index.isValid() && role == Qt::FontRole && !m_working.empty() &&
        std::find(m_working.begin(), m_working.end(), m_list.id(index.row())) != m_working.end()) {
        QFont bold;
        bold.setBold(true);
        return bold;
    }
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    if (role == Qt::DisplayRole && index.column() == DownloadList::Status && m_statusText &&
        !m_working.empty()) {
        const std::string lane = m_statusText(m_list.id(index.row()));
        if (!lane.empty())
            return shown(lane);
    }
    if (const CheckedLink* checked = m_list.checked(index.row()))
        if (const QVariant shownChecked = checkedData(index.row(), index.column(), role, *checked);
            shownChecked.isValid())
            return shownChecked;
    if (role == Qt::ToolTipRole && index.column() == DownloadList::Status) {
        // A failed row tells why and when in its tool tip: the status bar has long moved on.
        const std::string& note = m_list.note(index.row());
        if (!note.empty())
            return shown(note);
    }
    const std::string& text = m_list.cell(index.row(), index.column());
    if (role == Qt::ToolTipRole && text.empty())
        return {};
    // Cells are bytes; what is not UTF-8 shows as replacement characters.
    return shown(text);
}

QVariant DownloadListModel::checkedData(int row, int column, int role,
                                        const CheckedLink& checked) const {
    // The stored cells stay as the cycle wrote them ("Waiting...", "Failed"): the check's
    // word is shown only while the row has not begun, or for the row the check failed.
    const std::string& status = m_list.cell(row, DownloadList::Status);
    const bool offline = m_list.offline(row);
    const bool before = status == StatusWaiting || offline;
    // A file that is gone has no size to show, whatever its page still says.
    if (column == DownloadList::Total && role == Qt::DisplayRole && checked.size >= 0 &&
        checked.state != CheckedLink::State::Offline &&
        m_list.cell(row, DownloadList::Total).empty())
        return shown(checkedSize(checked.size));
    if (column != DownloadList::Status)
        return {};
    if (role == Qt::DisplayRole) {
        // A row at work shows what its cycle says of it.
        const bool working =
            std::find(m_working.begin(), m_working.end(), m_list.id(row)) != m_working.end();
        if (!before || working || (checked.state == CheckedLink::State::Offline && !offline))
            return {};
        return QString::fromLatin1(stateText(checked.state));
    }
    std::string tip = stateText(checked.state);
    if (!checked.name.empty())
        tip += "\n" + checked.name;
    if (checked.size >= 0)
        tip += "\n" + checkedSize(checked.size) + " (" + std::to_string(checked.size) + " bytes)";
    const std::string& note = m_list.note(row);
    if (!note.empty())
        tip += "\n" + note;
    else if (!checked.reason.empty())
        tip += "\n" + checked.reason;
    return shown(tip);
}

void DownloadListModel::setWorkingRow(std::uint64_t id) {
    if (m_working.size() == 1 && m_working.front() == id)
        return;
    const std::vector<std::uint64_t> was = std::exchange(m_working, {});
    if (id != 0)
        m_working.push_back(id);
    for (const std::uint64_t row : was)
        repaintRow(row);
    repaintRow(id);
}

void DownloadListModel::markWorking(std::uint64_t id, bool working) {
    if (id == 0) {
        if (!working)
            setWorkingRow(0);
        return;
    }
    const auto at = std::find(m_working.begin(), m_working.end(), id);
    if (working == (at != m_working.end()))
        return;
    if (working)
        m_working.push_back(id);
    else
        m_working.erase(at);
    repaintRow(id);
}

void DownloadListModel::statusChanged(const std::vector<int>& rows) {
    for (const int row : rows)
        if (row >= 1 && row < m_list.rowCount())
            emit dataChanged(index(row, DownloadList::Status), index(row, DownloadList::Status),
                             {Qt::DisplayRole});
}

void DownloadListModel::repaintRow(std::uint64_t id) {
    if (id == 0)
        return;
    const int row = m_list.rowOf(id);
    if (row >= 0)
        emit dataChanged(index(row, 0), index(row, DownloadList::ColumnCount - 1), {Qt::FontRole});
}

Qt::ItemFlags DownloadListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

} // namespace torvaline
