#pragma once

#include "adapters/qt/ClickNLoadServer.h"

#include <QObject>

#include <deque>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

class QAction;
class QLabel;
class QMenu;
class QMimeData;
class QTimer;

namespace torvaline {

class Dialogs;
class Shell;
class TForm1;

// Every way links reach the list besides the Download Options dialog and Import List: a drop on
// the window, a paste, the clipboard watch, a second start of the program and Click'n'Load.
// Links become rows as the dialog adds them; list files are imported as Import List imports
// them. A short notice at the right of the status bar says what came in, so the panels the
// cycle writes keep their texts.
class LinkIntake final : public QObject {
    Q_OBJECT

public:
    static constexpr int NoticeMs = 5000;
    // Click'n'Load batches waiting for the user's answer, one question a source; more are
    // refused as busy.
    static constexpr std::size_t MaxPendingBatches = 4;
    // A source discarded this often is not asked about again until the program ends.
    static constexpr int DiscardsToIgnore = 3;
    // The links one Click'n'Load batch or one clipboard change may bring.
    static constexpr std::size_t MaxBatchLinks = 10000;

    LinkIntake(TForm1& form, Dialogs& dialogs, Shell& shell);
    ~LinkIntake() override;

    // A drop or a paste: uri-list links and list files, else the links in the text.
    // Returns the rows added.
    int addMimeData(const QMimeData& data);
    void paste();
    // What a second start of the program hands over; files are imported before the links
    // are added, then the folder applies and the list starts when asked.
    void receiveHandOff(const std::vector<std::string>& links,
                        const std::vector<std::string>& files, const std::string& folder,
                        bool start);

    // The clipboard watch: each copied link of a known hoster (of any site with anyLink) is
    // added once. Both choices are remembered.
    void setWatchClipboard(bool on);
    void setWatchAnyLink(bool on);
    bool watchesClipboard() const { return m_watch; }
    // Click'n'Load on or off (remembered); false when it cannot listen, after telling why.
    bool setClickNLoad(bool on);
    ClickNLoadServer& clickNLoad() { return *m_server; }
    void setClickNLoadPort(quint16 port) { m_port = port; }
    // The Click'n'Load entry point, also for the tests.
    ClickNLoadServer::Verdict receiveBatch(ClickNLoadServer::Batch batch);

    QLabel* notice() const { return m_notice; }
    QMenu* rowMenu() const { return m_rowMenu; }
    void showNotice(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void clipboardChanged();
    bool startClickNLoad(bool on);
    void askNextBatch();
    int addLinks(std::vector<std::string> links);
    void openFolder();
    void bringWindowUp();

    TForm1& m_form;
    Dialogs& m_dialogs;
    Shell& m_shell;
    QLabel* m_notice;
    QTimer* m_noticeTimer;
    QMenu* m_rowMenu;
    bool m_watch = false;
    bool m_watchAny = false;
    std::unordered_set<std::string> m_watchSeen;
    ClickNLoadServer* m_server;
    quint16 m_port = ClickNLoadServer::DefaultPort;
    struct Pending {
        std::string key;    // what makes two batches one source
        std::string source; // as shown
        std::vector<std::string> links;
        // Each batch's first link in links and the package name it gave: its rows are one
        // package.
        std::vector<std::pair<std::size_t, std::string>> packages;
    };
    // Joins a batch's links to the open question or a waiting one of its source.
    static ClickNLoadServer::Verdict join(Pending& into, std::vector<std::string>& links,
                                          std::string package);
    static std::string question(const Pending& batch);
    std::deque<Pending> m_pending;
    std::optional<Pending> m_asking; // the question open now
    std::unordered_map<std::string, int> m_discards;
    std::unordered_set<std::string> m_ignored;
};

} // namespace torvaline
