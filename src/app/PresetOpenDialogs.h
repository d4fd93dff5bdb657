#pragma once

#include "platform/Dialogs.h"

#include <optional>
#include <string>

namespace torvaline {

// Passes every question on to the real dialogs, except that the next open-file chooser can
// be answered in advance: files named on the command line go through Import List exactly as
// if the user had picked them.
class PresetOpenDialogs final : public Dialogs {
public:
    explicit PresetOpenDialogs(Dialogs& inner);

    void presetOpenFile(std::string path) { m_preset = std::move(path); }

    Answer confirm(const std::string& text) override;
    std::optional<std::string> openFile(const std::string& filter, const std::string& defaultExt,
                                        const std::string& initialName) override;
    std::optional<std::string> saveFile(const std::string& filter, const std::string& defaultExt,
                                        const std::string& initialName) override;
    void showError(const std::string& text) override;
    LinksAnswer askAddLinks(const std::string& question,
                            const std::vector<std::string>& links) override;
    void updateAddLinks(const std::string& question,
                        const std::vector<std::string>& links) override;

private:
    Dialogs& m_inner;
    std::optional<std::string> m_preset;
};

} // namespace torvaline
