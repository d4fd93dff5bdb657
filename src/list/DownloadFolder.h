#pragma once

#include <functional>
#include <string>

namespace torvaline {

// The one download folder of the program (the hidden field Edit2): empty at start, set by the
// dialogs and the import command, read whenever a transfer is handed its target path.
class DownloadFolder final {
public:
    // defaultPath: the platform's default folder; separator: what joins folder and file name.
    DownloadFolder(std::string defaultPath, char separator);

    const std::string& text() const { return m_text; }
    void setText(std::string text);
    void setToDefault() { setText(m_default); }
    const std::string& defaultPath() const { return m_default; }
    // Where files go: the folder chosen, else the default one (never the root that an empty
    // folder joined to a name would be).
    const std::string& effective() const { return m_text.empty() ? m_default : m_text; }
    char separator() const { return m_separator; }

    void setOnChanged(std::function<void(const std::string&)> onChanged) {
        m_onChanged = std::move(onChanged);
    }

private:
    std::string m_text;
    std::string m_default;
    char m_separator;
    std::function<void(const std::string&)> m_onChanged;
};

} // namespace torvaline
