// Shows the main window with a few rows in progress and saves a picture of it.
// Usage (run under a display, e.g. xvfb-run):
//   torvaline-screenshot out.png                 rows staged by hand
//   torvaline-screenshot --demo LIST out.png     the real program downloading LIST (the demo
//                                                list of the emulator) into a temporary folder,
//                                                pictured while the row after the first three
//                                                finished ones comes in; beside it
//                                                out-countdown.png (the countdown before the
//                                                second row) and out-about.png (the about box)
//   torvaline-screenshot --demo LIST out.png N   the same once N rows are done (3 by default)
//   torvaline-screenshot --stalls LIST out.png   LIST with a row set aside for its retry:
//                                                out.png while it waits aside, out-end.png at
//                                                the end of the list
//   torvaline-screenshot --mixed LIST out.png    LIST (the emulator's mixed list of three
//                                                hosters) pictured with as many rows coming in
//                                                at once as it gets to, three at most (a window
//                                                that works one row at a time shows one), and
//                                                out-wait.png once a row waits for its hoster
//                                                while others come in
//   torvaline-screenshot --checked LIST out.png  LIST imported and not started, once the link
//                                                check has read every row
//   torvaline-screenshot --clicknload out.png    rows staged by hand and the question a batch
//                                                of Click'n'Load links asks
//   torvaline-screenshot --archives LIST out.png LIST (the emulator's split sets) downloaded,
//                                                checked and extracted, pictured with the
//                                                notice of the last package and the tool tip
//                                                of one of its parts
// Under QT_SCALE_FACTOR=2 the pictures show the window at twice the scale.

#include "NullBrowser.h"
#include "adapters/qt/QtDialogs.h"
#include "adapters/qt/QtTimer.h"
#include "app/CaptchaPrompt.h"
#include "app/DefaultFolder.h"
#include "app/DownloadGrid.h"
#include "app/DownloadListModel.h"
#include "app/LinkIntake.h"
#include "app/Main.h"
#include "app/PresetOpenDialogs.h"
#include "app/TorvalineApp.h"
#include "cycle/DownloadCycle.h"
#include "cycle/TorvalineCore.h"
#include "dialogs/AboutTorvaline.h"
#include "hosters/ProfileLoader.h"
#include "list/DownloadList.h"
#include "list/RowTexts.h"
#include "list/StatusBar.h"
#include "pages/HosterProfiles.h"
#include "platform/Dialogs.h"
#include "platform/Shell.h"
#include "platform/ShutdownService.h"
#include "session/DownloadSession.h"
#include "session/PackageFollowUp.h"
#include "session/SessionData.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

using namespace torvaline;

namespace {

// Nothing is asked while the picture is taken.
class SilentDialogs final : public Dialogs {
public:
    Answer confirm(const std::string&) override { return Answer::No; }
    std::optional<std::string> openFile(const std::string&, const std::string&,
                                        const std::string&) override {
        return std::nullopt;
    }
    std::optional<std::string> saveFile(const std::string&, const std::string&,
                                        const std::string&) override {
        return std::nullopt;
    }
    void showError(const std::string&) override {}
};

// Silent but for the Click'n'Load question, which is the picture.
class AskingDialogs final : public Dialogs {
public:
    Answer confirm(const std::string&) override { return Answer::No; }
    std::optional<std::string> openFile(const std::string&, const std::string&,
                                        const std::string&) override {
        return std::nullopt;
    }
    std::optional<std::string> saveFile(const std::string&, const std::string&,
                                        const std::string&) override {
        return std::nullopt;
    }
    void showError(const std::string&) override {}
    LinksAnswer askAddLinks(const std::string& question,
                            const std::vector<std::string>& links) override {
        return m_qt.askAddLinks(question, links);
    }

private:
    QtDialogs m_qt;
};

class NoShell final : public Shell {
public:
    void setClipboardText(const std::string&) override {}
    void openAddress(const std::string&) override {}
};

// The picture never switches anything off.
class NoShutdown final : public ShutdownService {
public:
    void enableShutdownPrivilege() override {}
    void requestExit(ExitRequest, bool) override {}
};

// Completed rows so far, and the progress text of the row coming in (empty when none).
struct ListState {
    int completed = 0;
    std::string progress;
};

ListState listState(const DownloadList& list) {
    ListState state;
    for (int r = 1; r < list.rowCount(); ++r) {
        const std::string status = list.cell(r, DownloadList::Status);
        if (status == StatusCompleted)
            ++state.completed;
        else if (status == StatusDownloading)
            state.progress = list.cell(r, DownloadList::Progress);
    }
    return state;
}

// "docs/shot.png" -> "docs/shot-countdown.png".
QString besides(const QString& out, const char* what) {
    const QFileInfo info(out);
    return info.path() + '/' + info.completeBaseName() + '-' + what + '.' + info.suffix();
}

bool save(QWidget& widget, const QString& path) {
    const bool saved = widget.grab().save(path);
    std::printf("%s: %s\n", saved ? "saved" : "could not save", qPrintable(path));
    return saved;
}

// Runs the demo list and saves the window during the countdown before the second row, then
// once `completed` rows are done and the next one is well under way, then the about box.
// Gives up after four minutes.
// The real program's window over a temporary download folder, without dialogs, a shell or a
// shutdown of its own: what each picture of a list at work starts from.
struct PictureRun {
    // builtInProfiles: the hoster profiles as the program has them, so that any of the
    // emulator's sites can be pictured; else the compiled-in ones.
    explicit PictureRun(bool builtInProfiles, bool checkLinks = false) {
        TorvalineApp::Options options;
        options.defaultFolder = (tmp.path() + "/Downloads").toStdString();
        options.checkLinks = checkLinks;
        program = std::make_unique<TorvalineApp>(dialogs, shell, shutdown, options);
        if (builtInProfiles) {
            profiles.emplace(LoadHosters({}).profiles);
            program->session().setProfiles(&*profiles);
        }
    }
    // Shows the window, imports LIST and, when asked, presses Start Download.
    void open(const QString& listFile, bool start = true) {
        TForm1& form = program->form();
        form.show();
        dialogs.presetOpenFile(listFile.toStdString());
        form.ImportList1Click();
        if (start)
            form.findChild<QToolButton*>(QStringLiteral("startBtn"))->click();
    }

    QTemporaryDir tmp;
    SilentDialogs silent;
    PresetOpenDialogs dialogs{silent};
    NoShell shell;
    NoShutdown shutdown;
    // Before the program, which holds on to them.
    std::optional<HosterProfiles> profiles;
    std::unique_ptr<TorvalineApp> program;
};

int demo(const QString& listFile, const QString& out, int completed) {
    PictureRun run(true);
    TorvalineApp& program = *run.program;
    TForm1& form = program.form();
    run.open(listFile);

    QElapsedTimer elapsed;
    elapsed.start();
    int rc = 1;
    bool countdownSaved = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const ListState state = listState(form.downloadList());
        const StatusBar& panels = form.StatusBar1();
        if (!countdownSaved && state.completed >= 1 &&
            panels.text(0) == DownloadCycle::CountdownPanelText && panels.text(1) != "00:00:00")
            countdownSaved = save(form, besides(out, "countdown"));
        // "37.50 %": far enough in that speed, sizes and time left all show.
        const bool underWay = state.completed >= completed && !state.progress.empty() &&
                              std::atof(state.progress.c_str()) >= 30.0;
        if (!underWay && elapsed.elapsed() < 240000)
            return;
        poll.stop();
        if (underWay && countdownSaved && save(form, out)) {
            TForm3 about(run.shell, &form);
            about.show();
            QApplication::processEvents();
            rc = save(about, besides(out, "about")) ? 0 : 1;
        }
        form.downloadList().setRowCount(1);
        QApplication::quit();
    });
    poll.start(100);
    QApplication::exec();
    return rc;
}

// Imports LIST without starting it and saves the window once the link check has read every
// row (or after a minute): the rows' states and sizes before the list runs.
int checked(const QString& listFile, const QString& out) {
    PictureRun run(false, true);
    TorvalineApp& program = *run.program;
    TForm1& form = program.form();
    run.open(listFile, false);
    QElapsedTimer elapsed;
    elapsed.start();
    int rc = 1;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const DownloadList& list = form.downloadList();
        bool all = list.rowCount() > 1;
        for (int r = 1; all && r < list.rowCount(); ++r)
            all = list.checked(r) != nullptr;
        if (!all && elapsed.elapsed() < 60000)
            return;
        poll.stop();
        rc = all && save(form, out) ? 0 : 1;
        form.downloadList().setRowCount(1);
        QApplication::quit();
    });
    poll.start(100);
    QApplication::exec();
    return rc;
}

// Runs LIST, whose first row's page shows an image captcha, and saves the window with the
// captcha's dialog over it while the other rows come in. Gives up after a minute.
int captcha(const QString& listFile, const QString& out) {
    PictureRun run(true);
    TorvalineApp& program = *run.program;
    TForm1& form = program.form();
    run.open(listFile);
    QElapsedTimer elapsed;
    elapsed.start();
    int rc = 1;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        CaptchaDialog* dialog = program.captchas().dialog();
        const bool shown = dialog && dialog->isVisible() && elapsed.elapsed() > 3000;
        if (!shown && elapsed.elapsed() < 60000)
            return;
        poll.stop();
        if (shown) {
            QPixmap picture = form.grab();
            const QPixmap over = dialog->grab();
            QPainter painter(&picture);
            painter.drawPixmap((picture.width() - over.width()) / 2,
                               (picture.height() - over.height()) / 2, over);
            painter.end();
            rc = picture.save(out) ? 0 : 1;
            std::printf("%s: %s\n", rc == 0 ? "saved" : "could not save", qPrintable(out));
        }
        form.downloadList().setRowCount(1);
        QApplication::quit();
    });
    poll.start(100);
    QApplication::exec();
    return rc;
}

// Runs LIST (one row of it failing transiently, one dead) and saves the window while a row is
// set aside for its retry and another comes in, then at the end of the list (out-end.png).
// Gives up after four minutes.
int stalls(const QString& listFile, const QString& out) {
    PictureRun run(false);
    TorvalineApp& program = *run.program;
    TForm1& form = program.form();
    run.open(listFile);

    QElapsedTimer elapsed;
    elapsed.start();
    bool asideSaved = false;
    int rc = 1;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const DownloadList& list = form.downloadList();
        bool aside = false;
        for (int r = 1; r < list.rowCount(); ++r)
            aside = aside || list.cell(r, DownloadList::Status).rfind("Retry ", 0) == 0;
        const ListState state = listState(list);
        if (!asideSaved && aside && !state.progress.empty() &&
            std::atof(state.progress.c_str()) >= 20.0)
            asideSaved = save(form, out);
        const bool done = form.StatusBar1().text(0).rfind(" List done", 0) == 0;
        if (!done && elapsed.elapsed() < 240000)
            return;
        poll.stop();
        if (done && asideSaved && save(form, besides(out, "end")))
            rc = 0;
        form.downloadList().setRowCount(1);
        QApplication::quit();
    });
    poll.start(100);
    QApplication::exec();
    return rc;
}

// Runs LIST and saves the window each time more of its rows are coming in at once (each a
// quarter of the way in at least) than at any moment before, until three are; then, beside it
// (out-wait.png), once a row waits for its hoster while others come in. Gives up after two
// minutes; a window that works one row at a time shows one.
int mixed(const QString& listFile, const QString& out) {
    PictureRun run(true);
    TorvalineApp& program = *run.program;
    TForm1& form = program.form();
    run.open(listFile);

    QElapsedTimer elapsed;
    elapsed.start();
    int best = 0;
    bool waitSaved = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const DownloadList& list = form.downloadList();
        const DownloadListModel& model = form.listModel();
        int coming = 0;
        bool waits = false;
        for (int r = 1; r < list.rowCount(); ++r) {
            // As the window shows it: a row among several at work shows its own wait.
            const QString status = model.data(model.index(r, DownloadList::Status)).toString();
            coming += status.startsWith(QStringLiteral("Downloading")) &&
                      std::atof(list.cell(r, DownloadList::Progress).c_str()) >= 25.0;
            // Its first second gone: the wait and the status bar have come round to it.
            waits = waits || (status.startsWith(QStringLiteral("Wait ")) &&
                              !status.contains(QStringLiteral("00:00:00")) &&
                              !status.contains(QStringLiteral(" 00:01:00")));
        }
        if (best < 3 && coming > best && save(form, out))
            best = coming;
        if (best == 3 && !waitSaved && waits && coming >= 2)
            waitSaved = save(form, besides(out, "wait"));
        if (!waitSaved && elapsed.elapsed() < 120000)
            return;
        poll.stop();
        std::printf("%d row(s) coming in at once%s\n", best,
                    waitSaved ? ", then one waiting for its hoster beside others" : "");
        form.downloadList().setRowCount(1);
        QApplication::quit();
    });
    poll.start(100);
    QApplication::exec();
    return best > 0 ? 0 : 1;
}

void fill(DownloadList& list) {
    struct Sample {
        const char* host;
        const char* url;
        const char* cells[6];
        const char* status;
    };
    const Sample samples[] = {
        {"RapidShare",
         "http://rapidshare.example/files/118273645/holiday_photos.part1.rar",
         {"", "", "", "", "", ""},
         "Completed"},
        {"RapidShare",
         "http://rapidshare.example/files/118273646/holiday_photos.part2.rar",
         {"182 KB/s", "97.66 MB", "44.12 MB", "45.18 %", "00:05:01", "00:09:08"},
         "Downloading... "},
        {"RapidShare",
         "http://rapidshare.example/files/118273647/holiday_photos.part3.rar",
         {"", "", "", "", "", ""},
         "Waiting..."},
        {"4Shared",
         "http://www.4shared.example/file/55321/a1b2c3/lecture_notes.html",
         {"", "", "", "", "", ""},
         "Waiting..."},
        {"", "http://example.org/not-a-hoster-link", {"", "", "", "", "", ""}, "Waiting..."},
    };
    list.setRowCount(1 + static_cast<int>(std::size(samples)));
    int r = 1;
    for (const Sample& s : samples) {
        DownloadList::Row row;
        row[DownloadList::Host] = s.host;
        row[DownloadList::URL] = s.url;
        for (int c = 0; c < 6; ++c)
            row[static_cast<std::size_t>(DownloadList::Speed + c)] = s.cells[c];
        row[DownloadList::Status] = s.status;
        list.setRow(r++, row);
    }
}

} // namespace

// The staged rows with a batch of Click'n'Load links asking to be added: the window and the
// question over it, as one picture of the window's part of the screen.
int clickNLoad(const QString& out) {
    QTemporaryDir tmp;
    AskingDialogs dialogs;
    NoShell shell;
    NullBrowser browser;
    SessionData data((tmp.path() + "/Downloads").toStdString(), DefaultFolder::separator(),
                     std::make_unique<QtTimer>());
    TForm1 form(browser, dialogs, shell, data);
    fill(form.downloadList());
    form.show();
    form.linkIntake().receiveBatch({"http://links.example/folder/17", "holiday photos",
                                    "http://rapidshare.example/files/40/holiday.part4.rar\n"
                                    "http://rapidshare.example/files/41/holiday.part5.rar\n"});
    int rc = 1;
    QTimer::singleShot(1200, [&] {
        const QRect area = form.frameGeometry();
        const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(
            0, area.x(), area.y(), area.width(), area.height());
        rc = shot.save(out) ? 0 : 1;
        std::printf("%s: %s\n", rc == 0 ? "saved" : "could not save", qPrintable(out));
        if (QWidget* box = QApplication::activeModalWidget())
            box->close(); // Discard
        QTimer::singleShot(0, [&] {
            form.downloadList().setRowCount(1);
            QApplication::quit();
        });
    });
    QApplication::exec();
    return rc;
}

// Runs the archive list in the window until every package is extracted, then pictures the
// window's part of the screen with the tool tip of the last part of the last package.
int archives(const QString& listFile, const QString& out) {
    // The sets are served as the Free Download family's files: its profile reads their pages.
    PictureRun run(true);
    TorvalineApp& program = *run.program;
    TForm1& form = program.form();
    form.resize(form.width(), form.height() + 40);
    run.open(listFile);

    QElapsedTimer elapsed;
    elapsed.start();
    int rc = 1;
    bool tipShown = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const DownloadList& list = form.downloadList();
        const QLabel* notice = form.linkIntake().notice();
        const bool done = form.StatusBar1().text(0).rfind(" List done", 0) == 0 &&
                          !program.session().packages().busy() && notice->isVisible() &&
                          notice->text().startsWith(QStringLiteral("Extracted"));
        if (!done && elapsed.elapsed() < 240000)
            return;
        if (done && !tipShown) {
            // The last part whose note tells its package.
            int row = list.rowCount() - 1;
            while (row > 1 && list.note(row).rfind("Package ", 0) != 0)
                --row;
            DownloadGrid* grid = form.MyStringGrid();
            const QRect cell = grid->visualRect(grid->model()->index(row, DownloadList::Status));
            QToolTip::showText(grid->viewport()->mapToGlobal(cell.center()),
                               QString::fromStdString(list.note(row)), grid);
            tipShown = true;
            return;
        }
        poll.stop();
        if (done) {
            const QRect area = form.frameGeometry();
            const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(
                0, area.x(), area.y(), area.width(), area.height());
            rc = shot.save(out) ? 0 : 1;
            std::printf("%s: %s\n", rc == 0 ? "saved" : "could not save", qPrintable(out));
        }
        form.downloadList().setRowCount(1);
        QApplication::quit();
    });
    poll.start(400);
    QApplication::exec();
    return rc;
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "--demo") == 0)
        return demo(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                    argc == 5 ? std::atoi(argv[4]) : 3);
    if (argc == 3 && std::strcmp(argv[1], "--clicknload") == 0)
        return clickNLoad(QString::fromLocal8Bit(argv[2]));
    if (argc == 4 && std::strcmp(argv[1], "--mixed") == 0)
        return mixed(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    if (argc == 4 && std::strcmp(argv[1], "--captcha") == 0)
        return captcha(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    if (argc == 4 && std::strcmp(argv[1], "--checked") == 0)
        return checked(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    if (argc == 4 && std::strcmp(argv[1], "--archives") == 0)
        return archives(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    if (argc == 4 && std::strcmp(argv[1], "--stalls") == 0)
        return stalls(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: %s out.png | --demo LIST out.png [N] | --stalls LIST out.png | "
                     "--mixed LIST out.png | --checked LIST out.png | --archives LIST out.png | "
                     "--captcha LIST out.png | --clicknload out.png\n",
                     argv[0]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QTemporaryDir tmp;
    SilentDialogs dialogs;
    NoShell shell;
    NullBrowser browser;
    SessionData data((tmp.path() + "/Downloads").toStdString(), DefaultFolder::separator(),
                     std::make_unique<QtTimer>());
    TForm1 form(browser, dialogs, shell, data);
    fill(form.downloadList());
    form.StatusBar1().setText(0, "Downloading... 45.18 %");
    form.StatusBar1().setText(1, "182 KB/s");
    form.StatusBar1().setText(2, "holiday_photos.part2.rar");
    form.show();
    form.MyStringGrid()->setCurrentRow(2);
    form.MyStringGrid()->setFocus();

    int rc = 1;
    QTimer::singleShot(800, [&] {
        rc = form.grab().save(out) ? 0 : 1;
        std::printf("%s: %s\n", rc == 0 ? "saved" : "could not save", argv[1]);
        // The rows are demonstration only: leave without the exit prompt.
        form.downloadList().setRowCount(1);
        QApplication::quit();
    });
    QApplication::exec();
    return rc;
}
