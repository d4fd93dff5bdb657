#pragma once

#include "platform/RecoveryStore.h"

#include <map>
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
    // Partial files that pass the store's checks, with their sizes; what was removed.
    std::map<std::string, std::uint64_t> partials;
    std::vector<std::string> removedPartials;
    std::string failing;                        // problem() reports this
    std::map<std::string, std::uint64_t> files; // fileSize() of other files

    std::string problem() const override { return failing; }
    std::optional<std::uint64_t> fileSize(const std::string& path) override {
        const auto it = files.find(path);
        if (it != files.end())
            return it->second;
        const auto partial = partials.find(path);
        return partial == partials.end() ? std::nullopt
                                         : std::optional<std::uint64_t>(partial->second);
    }

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
    std::optional<std::uint64_t> partialSize(const std::string& path) override {
        const auto it = partials.find(path);
        return it == partials.end() ? std::nullopt : std::optional<std::uint64_t>(it->second);
    }
    void removePartial(const std::string& path) override {
        if (partials.erase(path) > 0)
            removedPartials.push_back(path);
    }
};

} // namespace torvaline::test
