#pragma once

#include "platform/RecoveryStore.h"

#include <optional>
#include <string>
#include <vector>

namespace torvaline::test {

// A recovery store in memory: holds one copy as the real one does and counts what was done.
class FakeRecoveryStore final : public RecoveryStore {
public:
    std::optional<std::string> copy;       // what the "file" holds now
    std::optional<std::string> unreadable; // load() reports this problem instead
    std::vector<std::string> saves;
    int removes = 0;
    std::vector<std::string> keptAside;

    Loaded load() override {
        Loaded l;
        if (unreadable) {
            l.kind = Loaded::Kind::Unreadable;
            l.problem = *unreadable;
        } else if (copy) {
            l.kind = Loaded::Kind::Bytes;
            l.bytes = *copy;
        }
        return l;
    }
    void save(std::string bytes) override {
        saves.push_back(bytes);
        copy = std::move(bytes);
    }
    void remove() override {
        ++removes;
        copy.reset();
    }
    std::string keepAside() override {
        keptAside.push_back(copy.value_or(std::string()));
        copy.reset();
        unreadable.reset();
        return "/state/recovery.tsv.bad";
    }
};

} // namespace torvaline::test
