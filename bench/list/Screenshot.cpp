// Shows the main window with a few rows in progress and saves a picture of it.
// Usage: torvaline-screenshot out.png   (run under a display, e.g. xvfb-run)

#include "app/DownloadGrid.h"
#include "app/Main.h"
#include "app/NullBrowser.h"
#include "list/DownloadList.h"
#include "platform/Dialogs.h"
#include "platform/Shell.h"

#include <QApplication>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

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

class NoShell final : public Shell {
public:
    void setClipboardText(const std::string&) override {}
    void openAddress(const std::string&) override {}
};

void fill(DownloadList& list) {
    struct Sample {
        const char* host;
        const char* url;
        const char* cells[6];
        const char* status;
    };
    const Sample samples[] = {
        {"RapidShare",
         "http://rapidshare.com/files/118273645/holiday_photos.part1.rar",
         {"", "", "", "", "", ""},
         "Completed"},
        {"RapidShare",
         "http://rapidshare.com/files/118273646/holiday_photos.part2.rar",
         {"182 KB/s", "97.66 MB", "44.12 MB", "45.18 %", "00:05:01", "00:09:08"},
         "Downloading... "},
        {"RapidShare",
         "http://rapidshare.com/files/118273647/holiday_photos.part3.rar",
         {"", "", "", "", "", ""},
         "Waiting..."},
        {"4Shared",
         "http://www.4shared.com/file/55321/a1b2c3/lecture_notes.html",
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

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s out.png\n", argv[0]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QTemporaryDir tmp;
    SilentDialogs dialogs;
    NoShell shell;
    NullBrowser browser;
    TForm1 form(browser, dialogs, shell, (tmp.path() + "/Downloads").toStdString());
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
