#include "MainWindowFixture.h"

#include "app/DownloadGrid.h"
#include "cycle/DownloadCycle.h"
#include "dialogs/AboutTorvaline.h"

#include <QFontMetricsF>
#include <QGroupBox>
#include <QLabel>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStatusBar>
#include <QStyleOptionViewItem>

#include <cmath>

namespace torvaline::test {
namespace {

// Runs the body with the given application font (null: the platform's own), then restores.
template <typename Body> void withFont(const QFont* font, Body body) {
    const QFont saved = QApplication::font();
    if (font != nullptr)
        QApplication::setFont(*font);
    body();
    QApplication::setFont(saved);
}

std::vector<QFont> fontsToCheck() {
    QFont twelve = QApplication::font();
    twelve.setPointSizeF(12);
    return {QApplication::font(), twelve};
}

bool fitsIn(const QLabel* label, const QString& text) {
    const double needed = QFontMetricsF(label->font()).horizontalAdvance(text);
    return needed <= label->contentsRect().width() - label->indent();
}

// Every text the window writes must show whole in its cell, panel or label: the column
// titles, the widest value of each column, each status-bar text of the cycle with its time,
// and each line of the about box.
class WindowLayout : public MainWindowTest {
protected:
    void checkGrid(const std::string& context) {
        // The widest value of every column, written where the program writes it.
        DownloadList::Row widest;
        widest[DownloadList::Host] = "RapidShare";
        widest[DownloadList::Speed] = "9999Kb/s";
        widest[DownloadList::Total] = "4095.99 MB";
        widest[DownloadList::Downloaded] = "4095.99 MB";
        widest[DownloadList::Progress] = "100.00 %";
        widest[DownloadList::Left] = "23:59:59";
        widest[DownloadList::Estimated] = "23:59:59";
        list().setRowCount(1);
        list().setRowCount(2);
        list().setRow(1, widest);
        for (const char* status :
             {"Waiting...", "Downloading... ", "Completed", "Stopped", "Failed"}) {
            DownloadList::Row row;
            row[DownloadList::Host] = "XFileSharing";
            row[DownloadList::Status] = status;
            list().setRowCount(list().rowCount() + 1);
            list().setRow(list().rowCount() - 1, row);
        }
        DownloadGrid* grid = form->MyStringGrid();
        // The delegate's own measure of what a cell needs (as a table view sizes a column to
        // its contents: one more pixel for the grid line), titles in row 0 included.
        QStyleOptionViewItem option;
        option.initFrom(grid->viewport());
        option.widget = grid;
        option.font = grid->font();
        option.fontMetrics = grid->fontMetrics();
        // Rows below the titles in bold, as the row being worked on is drawn: any of them may
        // become that row.
        QStyleOptionViewItem bold = option;
        bold.font.setBold(true);
        bold.fontMetrics = QFontMetrics(bold.font);
        for (int c = 0; c < DownloadList::ColumnCount; ++c) {
            if (c == DownloadList::URL)
                continue;
            for (int r = 0; r < list().rowCount(); ++r) {
                const QModelIndex index = grid->model()->index(r, c);
                const int needed =
                    grid->itemDelegate()->sizeHint(r == 0 ? option : bold, index).width() + 1;
                EXPECT_LE(needed, grid->columnWidth(c))
                    << context << " \"" << index.data().toString().toStdString() << "\"";
            }
        }
        EXPECT_GE(grid->rowHeight(1), grid->fontMetrics().height()) << context;
        // The columns fit the window: no sideways scrolling on a fresh start.
        int total = 0;
        for (int c = 0; c < DownloadList::ColumnCount; ++c)
            total += grid->columnWidth(c);
        EXPECT_LE(total, grid->viewport()->width()) << context;
        list().setRowCount(1);
    }

    void checkStatusBar(const std::string& context) {
        struct Panels {
            const char* phase;
            const char* texts[3];
            int unitsPerCharacter[3]; // as the cycle sizes them; 0: left as it is
        };
        constexpr int N = StatusBar::UnitsPerCharacter;
        constexpr int C = DownloadCycle::CountdownUnitsPerCharacter;
        const Panels phases[] = {
            {"countdown", {"Download will start in ", "00:00:45", ""}, {C, 0, 0}},
            {"wait", {"Wait ", "00:59:59", " For the Next Download"}, {N, 0, N}},
            {"transfer", {"Downloading...", "100.00 %", " holiday_photos.part2.rar"}, {N, 0, N}},
            {"failure", {" Download failed - HTTP 404 Not Found ", "", ""}, {N, 0, 0}},
            {"bad link", {" Error - Please check the download link ", "", ""}, {N, 0, 0}},
        };
        auto* bar = form->findChild<QStatusBar*>("StatusBar1");
        ASSERT_NE(bar, nullptr);
        for (const Panels& p : phases) {
            form->StatusBar1().clear();
            for (int i = 0; i < 3; ++i) {
                form->StatusBar1().setText(i, p.texts[i]);
                if (p.unitsPerCharacter[i] > 0)
                    form->StatusBar1().setWidth(
                        i, StatusBar::widthFor(p.texts[i], p.unitsPerCharacter[i]));
            }
            QApplication::processEvents();
            for (int i = 0; i < 3; ++i) {
                auto* label = bar->findChild<QLabel*>(QStringLiteral("Panel%1").arg(i));
                ASSERT_NE(label, nullptr);
                EXPECT_TRUE(fitsIn(label, label->text()))
                    << context << ' ' << p.phase << " panel " << i << ": \""
                    << label->text().toStdString() << "\" in " << label->width();
                EXPECT_LE(label->geometry().right(), bar->width()) << context << ' ' << p.phase;
            }
        }
        form->StatusBar1().clear();
    }

    void checkAboutBox(const std::string& context) {
        TForm3 about(shell);
        about.show();
        QApplication::processEvents();
        auto* group = about.findChild<QGroupBox*>();
        ASSERT_NE(group, nullptr);
        EXPECT_LE(QFontMetricsF(group->font()).horizontalAdvance(group->title()), group->width());
        const QList<QLabel*> labels = group->findChildren<QLabel*>();
        EXPECT_EQ(labels.size(), 13);
        for (const QLabel* label : labels) {
            const std::string name = context + ' ' + label->objectName().toStdString();
            EXPECT_TRUE(fitsIn(label, label->text())) << name;
            EXPECT_LE(label->geometry().right(), group->contentsRect().right()) << name;
            EXPECT_LE(label->geometry().bottom(), group->contentsRect().bottom()) << name;
            for (const QLabel* other : labels) {
                if (other == label)
                    continue;
                // A label's own width may exceed its text; the texts must not meet.
                const QRect text(label->pos(), label->sizeHint());
                const QRect otherText(other->pos(), other->sizeHint());
                EXPECT_FALSE(text.intersects(otherText))
                    << name << " overlaps " << other->objectName().toStdString();
            }
        }
        EXPECT_LE(group->geometry().right(), about.width());
    }
};

TEST_F(WindowLayout, EveryTextShowsWholeAtTheDefaultAndATwelvePointFont) {
    if (const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR"); !scale.isEmpty()) {
        ASSERT_DOUBLE_EQ(qApp->devicePixelRatio(), scale.toDouble());
    }
    for (const QFont& font : fontsToCheck()) {
        const std::string context = font.family().toStdString() + ' ' +
                                    std::to_string(font.pointSizeF()) + "pt scale " +
                                    std::to_string(qApp->devicePixelRatio());
        withFont(&font, [&] {
            form.reset();
            data = windowData(defaultFolder);
            form = std::make_unique<TForm1>(browser, dialogs, shell, *data);
            form->show();
            QApplication::processEvents();
            checkGrid(context);
            checkStatusBar(context);
            checkAboutBox(context);
            form.reset();
        });
    }
}

// Qt reads the scale factor only when the application starts: the same checks run again in
// a program of their own.
TEST(WindowLayoutScaled, EveryTextShowsWholeAtScaleFactorTwo) {
    if (!qEnvironmentVariable("QT_SCALE_FACTOR").isEmpty())
        GTEST_SKIP() << "already the scaled run";
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_SCALE_FACTOR", "2");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_filter=WindowLayout.EveryTextShowsWholeAtTheDefaultAndATwelvePointFont"});
    ASSERT_TRUE(child.waitForFinished(120000));
    const QString output = QString::fromLocal8Bit(child.readAll());
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
}

// Start Download is the one button a user looks for; next to the always disabled Pause and
// Resume it must not look disabled itself.
TEST_F(MainWindowTest, StartDownloadLooksEnabledBesideTheDisabledButtons) {
    const auto saturation = [](QToolButton* b) {
        const QIcon::Mode mode = b->isEnabled() ? QIcon::Normal : QIcon::Disabled;
        const QImage image = b->icon().pixmap(b->iconSize(), mode).toImage();
        int most = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c.alpha() > 128)
                    most = std::max(most, c.hsvSaturation());
            }
        return most;
    };
    QToolButton* start = button("startBtn");
    ASSERT_TRUE(start->isEnabled());
    EXPECT_FALSE(start->toolTip().isEmpty());
    EXPECT_EQ(start->toolButtonStyle(), Qt::ToolButtonIconOnly);
    const int startColour = saturation(start);
    EXPECT_GT(startColour, 100);
    for (const char* name : {"pauseBtn", "resumeBtn"}) {
        EXPECT_GT(startColour, saturation(button(name)) + 60) << name;
    }
}

} // namespace
} // namespace torvaline::test
