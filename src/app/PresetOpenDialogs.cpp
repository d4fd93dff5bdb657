#include "app/PresetOpenDialogs.h"

namespace torvaline {

PresetOpenDialogs::PresetOpenDialogs(Dialogs& inner)
    : m_inner(inner) {}

Answer PresetOpenDialogs::confirm(const std::string& text) {
    return m_inner.confirm(text);
}

std::optional<std::string> PresetOpenDialogs::openFile(const std::string& filter,
                                                       const std::string& defaultExt,
                                                       const std::string& initialName) {
    if (m_preset) {
        std::optional<std::string> path = std::move(m_preset);
        m_preset.reset();
        return path;
    }
    return m_inner.openFile(filter, defaultExt, initialName);
}

std::optional<std::string> PresetOpenDialogs::saveFile(const std::string& filter,
                                                       const std::string& defaultExt,
                                                       const std::string& initialName) {
    return m_inner.saveFile(filter, defaultExt, initialName);
}

void PresetOpenDialogs::showError(const std::string& text) {
    m_inner.showError(text);
}

LinksAnswer PresetOpenDialogs::askAddLinks(const std::string& question,
                                           const std::vector<std::string>& links) {
    return m_inner.askAddLinks(question, links);
}

void PresetOpenDialogs::updateAddLinks(const std::string& question,
                                       const std::vector<std::string>& links) {
    m_inner.updateAddLinks(question, links);
}

} // namespace torvaline
