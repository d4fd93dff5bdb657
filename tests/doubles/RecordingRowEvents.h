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

    void rowAdded(std::uint64_t id, int row, const std::string& link) override {
        added.push_back({id, row, link});
    }
    void rowRemoved(std::uint64_t id, const std::string&) override { removed.push_back(id); }
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
};

} // namespace torvaline::test
