#include "list/ListCommands.h"

#include "list/ListFile.h"

#include <filesystem>

namespace torvaline {

ListCommands::ListCommands(DownloadList& list, DownloadFolder& folder, StatusBar& statusBar,
                           Dialogs& dialogs)
    : m_list(list)
    , m_folder(folder)
    , m_statusBar(statusBar)
    , m_dialogs(dialogs) {}

void ListCommands::ImportList1Click() {
    if (const auto name = m_dialogs.openFile(OpenFilter, m_defaultExt, m_initialName)) {
        ImportFile(*name);
        return;
    }
    m_folder.setToDefault();
}

bool ListCommands::ImportFile(const std::string& name) {
    if (const Result<void> loaded = LoadFile(name, m_list); !loaded) {
        m_dialogs.showError(loaded.reason());
        return false;
    }
    m_listFileName = name;
    m_folder.setToDefault();
    return true;
}

bool ListCommands::FileSave() {
    const auto name = m_dialogs.saveFile(SaveFilter, m_defaultExt, m_initialName);
    if (!name)
        return false;
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::path(*name), ec) &&
        m_dialogs.confirm("OK to overwrite " + *name) != Answer::Yes)
        return false;
    m_listFileName = *name;
    if (const Result<void> saved = SaveGrid(m_listFileName, m_list); !saved) {
        m_dialogs.showError(saved.reason());
        return false;
    }
    m_statusBar.setText(0, "");
    return true;
}

bool ListCommands::AskSaveChanges() {
    if (m_list.rowCount() <= 1)
        return true;
    switch (m_dialogs.confirm("Save changes to " + m_listFileName + "?")) {
    case Answer::Cancel:
        return false;
    case Answer::No:
        return true;
    case Answer::Yes:
        // The user asked for the list to be kept: closing after a cancelled or failed save
        // would throw it away.
        return FileSave();
    }
    return false;
}

} // namespace torvaline
