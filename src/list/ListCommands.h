#pragma once

#include "list/DownloadFolder.h"
#include "list/DownloadList.h"
#include "list/StatusBar.h"
#include "platform/Dialogs.h"

#include <string>

namespace torvaline {

// Import List, Save As and the exit prompt: the commands that move the list to and from files.
class ListCommands final {
public:
    static constexpr const char* OpenFilter =
        "Text Files (*.TXT)|*.TXT|Rich Text Files (*.RTF)| *.RTF";
    static constexpr const char* SaveFilter =
        "Text Files (*.TXT)|*.TXT|Rich Text Files (*.RTF)|*.RTF";
    static constexpr const char* DefaultExt = ".Txt";
    static constexpr const char* InitialName = ".Txt";

    ListCommands(DownloadList& list, DownloadFolder& folder, StatusBar& statusBar,
                 Dialogs& dialogs);

    // What the file choosers start with. The defaults are the Windows ones, where an initial
    // name of ".Txt" means "only the extension"; a system whose dot files are hidden files
    // starts with an empty name and lets the default suffix complete what the user types.
    void setChooserNames(std::string defaultExt, std::string initialName) {
        m_defaultExt = std::move(defaultExt);
        m_initialName = std::move(initialName);
    }

    // Appends the lines of a chosen file; always ends with the default download folder, except
    // when the file could not be read.
    void ImportList1Click();
    // What Import List does with the file once chosen: a file dropped on the window, pasted or
    // handed over by a second start goes the same way. Returns true when it was read.
    bool ImportFile(const std::string& name);
    // Save As. Returns true when the list was written.
    bool FileSave();
    // Asks whether to save before the program ends. Returns true when it may close.
    bool AskSaveChanges();

    const std::string& ListFileName() const { return m_listFileName; }

private:
    DownloadList& m_list;
    DownloadFolder& m_folder;
    StatusBar& m_statusBar;
    Dialogs& m_dialogs;
    std::string m_listFileName;
    std::string m_defaultExt = DefaultExt;
    std::string m_initialName = InitialName;
};

} // namespace torvaline
