#pragma once

#include "cycle/RowEvents.h"

#include <cstdint>
#include <string>
#include <vector>

namespace torvaline::test {

// Keeps every row event, in order, for a test to read back.
class RecordingRowEvents final : public RowEvents {
public:
    struct Done {
        int completed = 0, failed = 0, stopped = 0;
    };

    // Batches are kept row by row, and counted.
    void rowsAdded(int first, std::span<const RowRef> rows) override {
        ++addedBatches;
        for (const RowRef& row : rows)
            added.push_back({row.id, first++, std::string(row.link)});
    }
    void rowsRemoved(int, std::span<const RowRef> rows) override {
        ++removedBatches;
        for (const RowRef& row : rows)
            removed.push_back(row.id);
    }
    void rowMoved(std::uint64_t id, int from, int to) override { moved.push_back({id, from, to}); }
    void rowPhase(const RowPhaseEvent& event) override { phases.push_back(event); }
    void rowProgress(const RowProgressEvent& event) override { progress.push_back(event); }
    void listDone(int completed, int failed, int stopped) override {
        done.push_back({completed, failed, stopped});
    }

    // The phases told of one row, in order.
    std::vector<RowPhase> phasesOf(std::uint64_t id) const {
        std::vector<RowPhase> out;
        for (const RowPhaseEvent& e : phases)
            if (e.id == id)
                out.push_back(e.phase);
        return out;
    }

    struct Added {
        std::uint64_t id;
        int row;
        std::string link;
    };
    struct Moved {
        std::uint64_t id;
        int from, to;
    };
    std::vector<Added> added;
    std::vector<std::uint64_t> removed;
    std::vector<Moved> moved;
    std::vector<RowPhaseEvent> phases;
    std::vector<RowProgressEvent> progress;
    std::vector<Done> done;
    int addedBatches = 0;
    int removedBatches = 0;
};

} // namespace torvaline::test
