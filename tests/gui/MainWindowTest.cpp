#include "MainWindowFixture.h"
#include "WindowData.h"

#include "app/Commands.h"
#include "app/PresetOpenDialogs.h"
#include "cycle/ShutdownControl.h"
#include "dialogs/DownOpt.h"
#include "dialogs/ReferenceUnits.h"
#include "dialogs/SaveOn.h"
#include "doubles/FakeClock.h"
#include "doubles/FakeDownloadComponent.h"
#include "doubles/ManualTimer.h"
#include "doubles/RecordingShutdown.h"
#include "platform/Timer.h"
#include "state/CycleState.h"
#include "transfer/ProgressDisplay.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>

#include <string_view>

namespace torvaline::test {
namespace {

// The title the window manager is given: Qt adds the application's display name after a dash
// unless the title already ends with it.
QString shownTitle(const QWidget& window) {
    const QString title = window.windowTitle();
    const QString name = QGuiApplication::applicationDisplayName();
    return name.isEmpty() || title.endsWith(name) ? title
                                                  : title + QString::fromUtf8(" \u2014 ") + name;
}

TEST_F(MainWindowTest, StartsAsAFixedWindowWithTheTitleRowAndAnEmptyFolderField) {
    EXPECT_EQ(form->objectName(), "Form1");
    EXPECT_EQ(form->windowTitle(), "Torvaline V.1.2");
    const ReferenceUnits u;
    EXPECT_EQ(form->minimumSize(), u.size(834, 480));
    EXPECT_EQ(form->maximumSize(), u.size(834, 480));
    // The version once, not "Torvaline V.1.2 - Torvaline V.1.2.2".
    EXPECT_EQ(shownTitle(*form), "Torvaline V.1.2");
    EXPECT_EQ(form->windowIconText(), "Torvaline V.1.2.2");

    EXPECT_EQ(browser.navigations, std::vector<std::string>{"about:blank"});
    EXPECT_TRUE(QDir(QString::fromStdString(defaultFolder)).exists());
    EXPECT_EQ(form->Edit2().text(), "");
    EXPECT_EQ(form->Edit2().defaultPath(), defaultFolder);

    ASSERT_EQ(list().rowCount(), 1);
    const QAbstractItemModel* model = form->MyStringGrid()->model();
    ASSERT_EQ(model->rowCount(), 1);
    ASSERT_EQ(model->columnCount(), 9);
    const char* titles[] = {"Host",     "URL",  "Speed",     "Total", "Downloaded",
                            "Progress", "Left", "Estimated", "Status"};
    for (int c = 0; c < 9; ++c)
        EXPECT_EQ(model->index(0, c).data().toString(), titles[c]);
}

TEST_F(MainWindowTest, ToolbarFollowsTheCommandTable) {
    auto* bar = form->findChild<QToolBar*>("ToolBar1");
    ASSERT_NE(bar, nullptr);
    const ReferenceUnits u;
    EXPECT_EQ(bar->height(), u.y(52));

    std::vector<QString> expected;
    for (const ButtonEntry& entry : Commands::toolBar())
        expected.push_back(entry.objectName == nullptr
                               ? QStringLiteral("|")
                               : QString::fromLatin1(entry.objectName) + ": " + entry.toolTip);
    // Every button shows in the fixed window; none is pushed into an overflow menu.
    form->show();
    std::vector<QString> seen;
    for (QAction* a : bar->actions()) {
        if (a->isSeparator()) {
            seen.emplace_back("|");
            continue;
        }
        auto* b = qobject_cast<QToolButton*>(bar->widgetForAction(a));
        ASSERT_NE(b, nullptr);
        seen.push_back(b->objectName() + ": " + b->toolTip());
        EXPECT_EQ(b->size(), u.size(49, 48)) << b->objectName().toStdString();
        EXPECT_TRUE(b->isVisible()) << b->objectName().toStdString();
        EXPECT_LE(b->mapTo(form.get(), QPoint(b->width(), 0)).x(), form->width());
        EXPECT_EQ(b->iconSize().width(), std::min(u.x(42), u.y(42)));
        EXPECT_EQ(b->iconSize().width(), b->iconSize().height());
        EXPECT_FALSE(b->icon().isNull()) << b->objectName().toStdString();
        const bool alwaysOff = b->objectName() == "pauseBtn" || b->objectName() == "resumeBtn";
        EXPECT_EQ(b->isEnabled(), !alwaysOff) << b->objectName().toStdString();
    }
    EXPECT_EQ(seen, expected);
}

TEST_F(MainWindowTest, MenusFollowTheCommandTable) {
    std::vector<std::pair<QString, std::vector<QString>>> expected;
    for (const MenuEntry& menu : Commands::menus()) {
        std::vector<QString> entries;
        for (const ActionEntry& action : Commands::actions())
            if (action.menu != nullptr && std::string_view(action.menu) == menu.objectName)
                entries.push_back(QString::fromLatin1(action.text));
        expected.emplace_back(QString::fromLatin1(menu.title), entries);
    }
    std::vector<std::pair<QString, std::vector<QString>>> seen;
    for (QAction* top : form->menuBar()->actions()) {
        std::vector<QString> entries;
        for (QAction* a : top->menu()->actions())
            entries.push_back(a->text());
        seen.emplace_back(top->text(), entries);
    }
    EXPECT_EQ(seen, expected);
}

TEST_F(MainWindowTest, GridShowsRowsOfSixteenPixelsInTheGivenWidthsWithoutEditing) {
    DownloadGrid* grid = form->MyStringGrid();
    EXPECT_EQ(grid->objectName(), "MyStringGrid");
    // In reference units; a narrow column may take more for its texts, and "URL" gives it.
    const ReferenceUnits u;
    const int widths[] = {62, 330, 45, 74, 74, 45, 50, 50, 78};
    int total = 0;
    int scaledTotal = 0;
    for (int c = 0; c < 9; ++c) {
        if (c == DownloadList::URL)
            EXPECT_LE(grid->columnWidth(c), u.x(widths[c]));
        else
            EXPECT_GE(grid->columnWidth(c), u.x(widths[c])) << c;
        total += grid->columnWidth(c);
        scaledTotal += u.x(widths[c]);
    }
    EXPECT_EQ(total, scaledTotal);
    fill({"a", "b"});
    EXPECT_GE(grid->rowHeight(0), u.y(16));
    EXPECT_EQ(grid->rowHeight(2), grid->rowHeight(0));
    EXPECT_FALSE(grid->model()->flags(grid->model()->index(1, 1)) & Qt::ItemIsEditable);
}

TEST_F(MainWindowTest, DraggingACellBorderResizesItsColumn) {
    form->show();
    DownloadGrid* grid = form->MyStringGrid();
    fill({"a"});
    QWidget* vp = grid->viewport();
    const int before = grid->columnWidth(0);
    const int border = grid->columnViewportPosition(0) + before;
    const int y = grid->rowViewportPosition(1) + 8;
    QTest::mousePress(vp, Qt::LeftButton, {}, QPoint(border, y));
    QTest::mouseMove(vp, QPoint(border + 30, y));
    QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(border + 30, y));
    EXPECT_EQ(grid->columnWidth(0), before + 30);
    // A click inside a cell selects as usual.
    QTest::mouseClick(vp, Qt::LeftButton, {}, QPoint(grid->columnViewportPosition(1) + 40, y));
    EXPECT_EQ(grid->currentRow(), 1);
}

TEST_F(MainWindowTest, StatusPanelsFollowTheCoreStatusBar) {
    auto* bar = form->findChild<QStatusBar*>("StatusBar1");
    ASSERT_NE(bar, nullptr);
    const ReferenceUnits u;
    const int widths[] = {190, 50, 50};
    for (int i = 0; i < 3; ++i) {
        auto* label = bar->findChild<QLabel*>(QStringLiteral("Panel%1").arg(i));
        ASSERT_NE(label, nullptr);
        // The last panel reaches to the window's edge.
        if (i < 2) {
            EXPECT_EQ(label->width(), u.x(widths[i]));
        } else {
            EXPECT_EQ(label->minimumWidth(), u.x(widths[i]));
        }
        form->StatusBar1().setText(i, "text " + std::to_string(i));
        EXPECT_EQ(label->text(), QStringLiteral("text %1").arg(i));
    }
    form->StatusBar1().setWidth(0, 250);
    EXPECT_EQ(bar->findChild<QLabel*>("Panel0")->width(), u.x(250));
}

struct MoveCase {
    const char* button;
    int row;
    std::vector<std::string> after;
    bool upEnabled;
};

TEST_F(MainWindowTest, MoveButtonsTradeRowsAndKeepTheSelectionOnItsIndex) {
    const MoveCase cases[] = {
        {"UpButton", 5, {"a", "b", "c", "e", "d"}, true},
        {"UpButton", 2, {"b", "a", "c", "d", "e"}, false},
        {"MDownBtn", 3, {"a", "b", "d", "c", "e"}, true},
        {"MDownBtn", 5, {"a", "b", "c", "d", "e"}, true},
        {"MFirstBtn", 4, {"d", "b", "c", "a", "e"}, true},
        {"LastBtn", 2, {"a", "e", "c", "d", "b"}, false},
        {"UpButton", 1, {"a", "b", "c", "d", "e"}, false},
        {"MFirstBtn", 0, {"a", "b", "c", "d", "e"}, false},
        {"LastBtn", 0, {"a", "b", "c", "d", "e"}, false},
    };
    for (const MoveCase& c : cases) {
        fill({"a", "b", "c", "d", "e"});
        focusRow(c.row);
        button(c.button)->click();
        EXPECT_EQ(links(), c.after) << c.button << " from row " << c.row;
        EXPECT_EQ(form->MyStringGrid()->currentRow(), c.row) << c.button;
        EXPECT_EQ(button("UpButton")->isEnabled(), c.upEnabled) << c.button << c.row;
        EXPECT_EQ(list().cell(0, 1), "URL");
    }
}

TEST_F(MainWindowTest, DeleteRemovesTheFocusedRowOnlyAndNeverTheTitles) {
    fill({"a", "b", "c", "d"});
    // A highlighted range: the focused row is the one that goes.
    form->MyStringGrid()->selectRow(1);
    form->MyStringGrid()->selectionModel()->setCurrentIndex(
        form->MyStringGrid()->model()->index(2, 0),
        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    button("delBtn")->click();
    EXPECT_EQ(links(), (std::vector<std::string>{"a", "c", "d"}));
    EXPECT_EQ(form->MyStringGrid()->currentRow(), 2);

    focusRow(3);
    action("DelAction")->trigger();
    EXPECT_EQ(links(), (std::vector<std::string>{"a", "c"}));

    focusRow(0);
    button("delBtn")->click();
    EXPECT_EQ(links(), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(list().cell(0, 8), "Status");
}

TEST_F(MainWindowTest, CopySelectedPutsOnlyTheLinkOnTheClipboard) {
    fill({"http://rapidshare.example/files/1/a.zip", "http://x/b"});
    list().setCell(1, DownloadList::Status, "Waiting...");
    focusRow(1);
    button("CopyBtn")->click();
    focusRow(2);
    action("CopySelected1")->trigger();
    EXPECT_EQ(shell.clipboard,
              (std::vector<std::string>{"http://rapidshare.example/files/1/a.zip", "http://x/b"}));
}

TEST_F(MainWindowTest, ClearListEmptiesPanelsAndRowsWithoutAsking) {
    fill({"a", "b", "c"});
    form->StatusBar1().setText(0, "Downloading... 45.00 %");
    form->StatusBar1().setText(2, "a.zip");
    form->show();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    QTest::keyClick(form->MyStringGrid(), Qt::Key_L, Qt::ControlModifier);
    EXPECT_EQ(list().rowCount(), 1);
    EXPECT_EQ(form->StatusBar1().text(0), "");
    EXPECT_EQ(form->StatusBar1().text(2), "");
    EXPECT_TRUE(dialogs.questions.empty());
    EXPECT_EQ(form->MyStringGrid()->model()->rowCount(), 1);
}

struct ExitCase {
    const char* name;
    int rows;
    std::vector<Answer> answers;
    bool saveChosen;
    bool staysOpen;
};

TEST_F(MainWindowTest, ExitAndTheCloseBoxAskBeforeAListIsLost) {
    const ExitCase cases[] = {
        {"title row only", 0, {}, false, false},
        {"cancel", 2, {Answer::Cancel}, false, true},
        {"no", 2, {Answer::No}, false, false},
        {"yes, save cancelled", 2, {Answer::Yes}, false, true},
        {"yes, saved", 2, {Answer::Yes}, true, false},
    };
    for (bool viaCloseBox : {false, true}) {
        for (const ExitCase& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (viaCloseBox ? " (close box)" : " (Exit)"));
            dialogs = FakeDialogs();
            dialogs.answers.assign(c.answers.begin(), c.answers.end());
            const std::string target = tmpPath("saved.txt");
            QFile::remove(QString::fromStdString(target));
            if (c.saveChosen)
                dialogs.files.push_back(target);
            std::vector<std::string> rows;
            for (int i = 0; i < c.rows; ++i)
                rows.push_back("link" + std::to_string(i));
            fill(rows);
            form->show();
            if (viaCloseBox)
                form->close();
            else
                action("Exit1")->trigger();
            EXPECT_EQ(form->isVisible(), c.staysOpen);
            EXPECT_EQ(dialogs.questions.size(), c.rows > 0 ? 1u : 0u);
            if (c.rows > 0) {
                // Names the list file once one was saved.
                const std::string& q = dialogs.questions.front();
                EXPECT_EQ(q.rfind("Save changes to ", 0), 0u) << q;
                EXPECT_EQ(q.back(), '?');
            }
            EXPECT_EQ(QFile::exists(QString::fromStdString(target)), c.saveChosen);
        }
    }
}

TEST_F(MainWindowTest, MinimiseAndRestoreSetTheProgramTitleAndArmTheMirror) {
    form->show();
    Timer& mirror = form->StbarTimer();
    EXPECT_EQ(form->appTitle().text(), "Torvaline V.1.2.2");

    // Unbound, the window has no title mirror of its own.
    form->setWindowState(Qt::WindowMinimized);
    form->setWindowState(Qt::WindowNoState);
    EXPECT_EQ(form->appTitle().text(), "Torvaline V.1.2.2");

    CycleState state;
    FakeClock clock;
    ManualTimer elpsTimer;
    ManualTimer estTimer;
    FakeDownloadComponent component;
    ProgressDisplay display({list(), form->StatusBar1(), form->appTitle(), state, clock, elpsTimer,
                             estTimer, mirror, component});
    form->bindProgressDisplay(&display);

    form->setWindowState(Qt::WindowMinimized);
    EXPECT_FALSE(mirror.enabled());
    EXPECT_EQ(form->appTitle().text(), " Torvaline V.1.2.2");
    EXPECT_EQ(shownTitle(*form), "Torvaline V.1.2");
    form->setWindowState(Qt::WindowNoState);

    form->StatusBar1().setText(0, "Downloading... 45.00 %");
    form->StatusBar1().setText(2, "name.zip");
    form->setWindowState(Qt::WindowMinimized);
    EXPECT_TRUE(mirror.enabled());
    // The timer's own tick reaches the display.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return form->appTitle().text() == "Downloading... 45.00 %  name.zip"; }, 3000));
    EXPECT_EQ(form->windowIconText(), "Downloading... 45.00 %  name.zip");
    EXPECT_EQ(shownTitle(*form),
              QString::fromUtf8("Torvaline V.1.2 \u2014 Downloading... 45.00 %  name.zip"));
    form->StatusBar1().setText(2, "other.zip");
    form->StbarTimerTimer();
    EXPECT_EQ(form->appTitle().text(), "Downloading... 45.00 %  other.zip");

    form->setWindowState(Qt::WindowNoState);
    EXPECT_FALSE(mirror.enabled());
    EXPECT_EQ(form->appTitle().text(), " Torvaline V.1.2.2");
    form->bindProgressDisplay(nullptr);
    mirror.setOnTick(nullptr); // the display goes before the window
}

TEST_F(MainWindowTest, StartAndStopRunWhatTheCycleBinds) {
    // Unbound they do nothing (and must not crash).
    button("startBtn")->click();
    button("stopBtn")->click();

    int starts = 0;
    int stops = 0;
    form->bindStartDownload([&] { ++starts; });
    form->bindStopDownload([&] { ++stops; });
    button("startBtn")->click();
    action("StartDownload1")->trigger();
    button("stopBtn")->click();
    action("StopDownload1")->trigger();
    EXPECT_EQ(starts, 2);
    EXPECT_EQ(stops, 2);
}

TEST_F(MainWindowTest, ShutdownControlsLatchAndMarkTheirUse) {
    QToolButton* shut = button("shutBtn");
    QAction* item = action("ShutPC1");
    // Unbound there is nothing to arm: the controls stay up.
    shut->click();
    item->trigger();
    EXPECT_FALSE(shut->isChecked());
    EXPECT_FALSE(item->isChecked());

    RecordingShutdownService service;
    RecordingShutdownNotice notice;
    ManualTimer noticeTimer;
    FakeClock clock;
    ShutdownControl control(service, notice, noticeTimer, clock);
    form->bindShutdownControl(&control);
    EXPECT_EQ(control.Tag(), 0);
    shut->click();
    EXPECT_TRUE(control.down());
    EXPECT_TRUE(shut->isChecked());
    EXPECT_EQ(control.Tag(), 1);
    shut->click();
    EXPECT_FALSE(control.down());
    EXPECT_FALSE(shut->isChecked());
    EXPECT_EQ(control.Tag(), 1);

    // The menu item and the button are one switch: each shows what the other set, and
    // whichever is used last decides.
    item->trigger();
    EXPECT_TRUE(control.down());
    EXPECT_TRUE(item->isChecked());
    EXPECT_TRUE(shut->isChecked());
    shut->click();
    EXPECT_FALSE(control.down());
    EXPECT_FALSE(item->isChecked());
    EXPECT_FALSE(shut->isChecked());
    shut->click();
    EXPECT_TRUE(item->isChecked());
    item->trigger();
    EXPECT_FALSE(control.down());
    EXPECT_FALSE(item->isChecked());
    EXPECT_FALSE(shut->isChecked());

    // What the control changes by itself shows on both.
    control.clickShutBtn();
    EXPECT_TRUE(shut->isChecked());
    EXPECT_TRUE(item->isChecked());
    control.clickShutBtn();
    EXPECT_FALSE(shut->isChecked());
    EXPECT_FALSE(item->isChecked());
    EXPECT_TRUE(service.requests.empty());
    form->bindShutdownControl(nullptr);
    EXPECT_FALSE(shut->isChecked());
}

TEST_F(MainWindowTest, ImportListAppendsTheFileAndResetsTheFolder) {
    const std::string path = tmpPath("list.txt");
    QFile f(QString::fromStdString(path));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("http://rapidshare.example/files/1/a.zip\r\nhttp://x/b\r\n");
    f.close();
    form->Edit2().setText("/somewhere");
    dialogs.files.push_back(path);
    button("impBtn")->click();
    EXPECT_EQ(links(),
              (std::vector<std::string>{"http://rapidshare.example/files/1/a.zip", "http://x/b"}));
    EXPECT_EQ(list().cell(1, DownloadList::Host), "RapidShare");
    EXPECT_EQ(form->Edit2().text(), defaultFolder);
    EXPECT_EQ(form->listCommands().ListFileName(), path);

    // Both choosers start unnamed with the suffix "txt": a name of ".Txt" would be a hidden
    // file here, written by a mere Enter.
    button("saveasBtn")->click();
    ASSERT_EQ(dialogs.fileRequests.size(), 2u);
    for (const auto& request : dialogs.fileRequests) {
        EXPECT_EQ(request.initialName, "");
        EXPECT_EQ(request.defaultExt, "txt");
    }
}

TEST_F(MainWindowTest, DownloadOptionsAddRowsAndCanStartTheCycle) {
    int starts = 0;
    form->bindStartDownload([&] { ++starts; });
    onNextModal<TForm2>([](TForm2* dialog) {
        dialog->findChild<QPlainTextEdit*>("Memo1")->setPlainText("a\nhttp://4shared.example/x\n");
        dialog->findChild<QCheckBox*>("CheckBox1")->click();
        dialog->findChild<QPushButton*>("NewURLBtn")->click();
    });
    button("addBtn")->click();
    EXPECT_EQ(links(), (std::vector<std::string>{"a", "http://4shared.example/x"}));
    EXPECT_EQ(list().cell(2, DownloadList::Host), "4Shared");
    EXPECT_EQ(starts, 1);
    // The dialog is gone once the command returns.
    EXPECT_EQ(form->findChild<TForm2*>(), nullptr);
}

TEST_F(MainWindowTest, SaveOptionsSetsTheFolderOnlyForAChosenFolder) {
    const QString chosen = QString::fromStdString(tmpPath("chosen"));
    ASSERT_TRUE(QDir().mkpath(chosen));
    onNextModal<TForm4>([&](TForm4* dialog) {
        ASSERT_TRUE(dialog->selectPath(chosen));
        dialog->Button2Click();
    });
    button("SaveOptBtn")->click();
    EXPECT_EQ(form->Edit2().text(), "");

    onNextModal<TForm4>([&](TForm4* dialog) {
        ASSERT_TRUE(dialog->selectPath(chosen));
        dialog->Button1Click();
    });
    action("DownloadOptions1")->trigger();
    EXPECT_EQ(form->Edit2().text(), chosen.toStdString());
    EXPECT_EQ(form->findChild<TForm4*>(), nullptr);
}

TEST_F(MainWindowTest, FilesNamedAtStartAreImportedAsImportListImportsThem) {
    const std::string good = tmpPath("start.txt");
    QFile f(QString::fromStdString(good));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("http://x/1\r\nhttp://x/2\r\n");
    f.close();

    FakeDialogs inner;
    PresetOpenDialogs preset(inner);
    const auto data = windowData(defaultFolder);
    TForm1 window(browser, preset, shell, *data);
    for (const std::string& path : {good, tmpPath("missing.txt")}) {
        preset.presetOpenFile(path);
        window.ImportList1Click();
    }
    EXPECT_EQ(window.downloadList().rowCount(), 3);
    EXPECT_EQ(window.listCommands().ListFileName(), good);
    EXPECT_EQ(window.Edit2().text(), defaultFolder);
    // The missing file is reported; no chooser was shown for either file.
    EXPECT_EQ(inner.errors.size(), 1u);
    EXPECT_TRUE(inner.fileRequests.empty());

    // Once used, the preset is gone: the next Import List asks the user again.
    window.ImportList1Click();
    EXPECT_EQ(inner.fileRequests.size(), 1u);
}

} // namespace
} // namespace torvaline::test
