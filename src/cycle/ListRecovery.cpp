#include "cycle/ListRecovery.h"

#include "list/DownloadList.h"
#include "list/RowTexts.h"
#include "platform/Dialogs.h"
#include "platform/RecoveryStore.h"
#include "platform/Timer.h"

namespace torvaline {

ListRecovery::ListRecovery(DownloadList& list, RecoveryStore& store, Timer& timer)
    : m_list(list)
    , m_store(store)
    , m_timer(timer) {
    m_timer.setOnTick([this] { tick(); });
}

ListRecovery::~ListRecovery() {
    m_timer.setEnabled(false);
    m_timer.setOnTick(nullptr);
}

std::string ListRecovery::question(std::size_t unfinished) {
    return "Torvaline did not close normally. Restore the " + std::to_string(unfinished) +
           " unfinished links of the last session?";
}

std::vector<RecoveryRow> ListRecovery::unfinished(const std::vector<RecoveryRow>& rows) {
    std::vector<RecoveryRow> out;
    for (const RecoveryRow& r : rows)
        if (!r.link.empty() && r.status != StatusCompleted)
            out.push_back(r);
    return out;
}

void ListRecovery::offerRestore(Dialogs& dialogs) {
    const RecoveryStore::Loaded loaded = m_store.load();
    using Kind = RecoveryStore::Loaded::Kind;
    std::string problem = loaded.problem;
    if (loaded.kind == Kind::Bytes) {
        RecoveryFormat::Decoded decoded = RecoveryFormat::decode(loaded.bytes);
        if (decoded.ok) {
            const std::vector<RecoveryRow> rows = unfinished(decoded.rows);
            if (!rows.empty() && dialogs.confirm(question(rows.size())) == Answer::Yes) {
                const int first = m_list.rowCount();
                m_list.setRowCount(first + static_cast<int>(rows.size()));
                for (std::size_t i = 0; i < rows.size(); ++i) {
                    DownloadList::Row cells;
                    cells[DownloadList::Host] = rows[i].host;
                    cells[DownloadList::URL] = rows[i].link;
                    cells[DownloadList::Status] = StatusWaiting;
                    m_list.setRow(first + static_cast<int>(i), std::move(cells));
                }
                // The copy stays until the restored list replaces it: a crash in between
                // must not lose what was just restored.
                m_stored = true;
            } else {
                m_store.remove();
            }
        } else {
            problem = "the recovery file is damaged: " + decoded.problem;
        }
    }
    if (!problem.empty() || loaded.kind == Kind::Unreadable) {
        // Not offered again, and not thrown away either: the links may still be in it.
        const std::string kept = m_store.keepAside();
        std::string text = "The links of the last session could not be restored (" + problem + ").";
        if (!kept.empty())
            text += " The file was kept as " + kept + ".";
        dialogs.showError(text);
    }
    m_keeping = true;
    // Whatever the list holds now (restored rows, a list opened meanwhile) is kept from here.
    listChanged();
}

void ListRecovery::listChanged() {
    m_dirty = true;
    // A timer already running keeps its schedule, so a stream of changes still writes once
    // a second rather than never.
    if (m_keeping)
        m_timer.setEnabled(true);
}

void ListRecovery::tick() {
    if (!m_keeping || !m_dirty) {
        m_timer.setEnabled(false);
        return;
    }
    m_dirty = false;
    if (listHasLinks()) {
        m_store.save(encodeList());
        m_stored = true;
    } else if (m_stored) {
        m_store.remove();
        m_stored = false;
    }
}

void ListRecovery::closeNormally() {
    m_keeping = false;
    m_dirty = false;
    m_timer.setEnabled(false);
    m_store.remove();
    m_stored = false;
}

bool ListRecovery::listHasLinks() const {
    for (int r = 1; r < m_list.rowCount(); ++r)
        if (!m_list.cell(r, DownloadList::URL).empty())
            return true;
    return false;
}

std::string ListRecovery::encodeList() const {
    std::string out = RecoveryFormat::header();
    // A long list would otherwise be copied over and over while its text grows.
    out.reserve(m_lastSize + m_lastSize / 16);
    const int rows = m_list.rowCount();
    for (int r = 1; r < rows; ++r) {
        const DownloadList::Row& row = m_list.row(r);
        RecoveryFormat::appendRow(out, row[DownloadList::Host], row[DownloadList::URL],
                                  row[DownloadList::Status]);
    }
    out += RecoveryFormat::trailer(static_cast<std::size_t>(rows > 0 ? rows - 1 : 0));
    m_lastSize = out.size();
    return out;
}

} // namespace torvaline
