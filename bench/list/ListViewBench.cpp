// Imports a 100,000-line list file into the download list shown by a real table view, then
// deletes, moves and clears rows, and prints how long each step takes with and without the
// view attached. Not a test: it prints figures and never fails on timing.

#include "app/DownloadGrid.h"
#include "app/DownloadListModel.h"
#include "list/DownloadList.h"
#include "list/ListFile.h"
#include "list/ListOperations.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

using namespace torvaline;

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double timeMs(const std::function<void()>& fn) {
    const auto start = Clock::now();
    fn();
    return msSince(start);
}

std::string writeListFile(const QString& dir, int lines) {
    const std::string path = (dir + "/links.txt").toStdString();
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < lines; ++i)
        out << "http://rapidshare.example/files/" << 100000000 + i << "/archive_part" << i
            << ".rar\r\n";
    return path;
}

// Everything the view does after a change: layout, then one synchronous paint of what shows.
double settleMs(DownloadGrid& view) {
    return timeMs([&] {
        QCoreApplication::processEvents();
        view.viewport()->repaint();
    });
}

struct Stats {
    double median = 0;
    double worst = 0;
};

Stats stats(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v.back()};
}

} // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const int lines = argc > 1 ? std::max(10, std::atoi(argv[1])) : 100000;
    constexpr int Repeats = 50;

    QTemporaryDir tmp;
    const std::string path = writeListFile(tmp.path(), lines);
    std::printf("list file: %d lines\n\n", lines);

    // The same work on the bare list, as the yardstick for what the view adds; one read
    // first so that both imports find the file in the page cache (and can read it at all).
    if (const auto warm = ReadListFile(path); !warm) {
        std::fprintf(stderr, "%s\n", warm.reason().c_str());
        return 1;
    }
    DownloadList bare;
    const double bareLoad = timeMs([&] { (void)LoadFile(path, bare); });
    const double bareDelete = timeMs([&] {
                                  for (int i = 0; i < Repeats; ++i)
                                      DeleteStringGridRow1(bare, 1);
                              }) /
                              Repeats;

    // The floor for a delete: the same rows in a plain vector, row 1 erased.
    std::vector<DownloadList::Row> plain;
    for (int r = 0; r < bare.rowCount(); ++r)
        plain.push_back(bare.row(r));
    std::vector<double> erases;

    DownloadList list;
    DownloadListModel model(list);
    DownloadGrid view(model);
    view.resize(834, 380);
    view.show();
    QCoreApplication::processEvents();

    const double load = timeMs([&] { (void)LoadFile(path, list); });
    const double loadSettle = settleMs(view);
    std::printf("%-40s %10.1f ms   (bare list %.1f ms, ratio %.2f)\n", "import into model + view",
                load, bareLoad, load / bareLoad);
    std::printf("%-40s %10.1f ms\n", "  first layout + paint afterwards", loadSettle);

    view.scrollToBottom();
    std::printf("%-40s %10.1f ms\n", "scroll to the last row + paint", settleMs(view));
    view.scrollToTop();
    settleMs(view);

    // Deleting row 1 moves every row below it up one place: the worst case of a delete. The
    // view takes the model's signals within the delete call; the paint after it costs the same
    // whatever changed and is reported on its own.
    std::vector<double> deletes;
    std::vector<double> deleteSettles;
    for (int i = 0; i < Repeats; ++i) {
        deletes.push_back(timeMs([&] { DeleteStringGridRow1(list, 1); }));
        deleteSettles.push_back(settleMs(view));
    }
    const Stats d = stats(deletes);
    const Stats ds = stats(deleteSettles);
    // The same erase on a plain vector of the same rows, in a loop of its own likewise.
    for (int i = 0; i < Repeats; ++i)
        erases.push_back(timeMs([&] { plain.erase(plain.begin() + 1); }));
    const Stats e = stats(erases);
    const double deleteRatio = d.median / e.median;
    std::printf("%-40s %10.2f ms   (bare list %.2f ms, ratio %.2f), worst %.2f ms\n",
                "delete row 1 (median)", d.median, bareDelete, d.median / bareDelete, d.worst);
    std::printf("%-40s %10.2f ms   worst %.2f ms\n", "  repaint after a delete (median)", ds.median,
                ds.worst);

    struct Move {
        const char* name;
        void (*op)(DownloadList&, int);
        int row;
    };
    const Move moves[] = {
        {"move to first from the last row", &MoveFirstStringGridRow, list.rowCount() - 1},
        {"move to last from row 1", &MoveLastStringGridRow, 1},
        {"move up in the middle", &MoveUpStringGridRow, list.rowCount() / 2},
        {"move down at the top", &MoveDownStringGridRow, 1},
    };
    for (const Move& m : moves) {
        std::vector<double> ops;
        std::vector<double> settles;
        for (int i = 0; i < Repeats; ++i) {
            ops.push_back(timeMs([&] { m.op(list, m.row); }));
            settles.push_back(settleMs(view));
        }
        const Stats o = stats(ops);
        const Stats s = stats(settles);
        std::printf("%-40s %10.3f ms   + repaint %.2f ms (worst %.2f ms)\n", m.name, o.median,
                    s.median, s.worst);
    }

    // One progress update of the current row, as the transfer display makes every 100 ms.
    std::vector<double> updates;
    for (int i = 0; i < Repeats; ++i)
        updates.push_back(timeMs([&] {
            list.setCell(1, DownloadList::Progress, std::to_string(i) + ".00 %");
            QCoreApplication::processEvents();
            view.viewport()->repaint();
        }));
    const Stats u = stats(updates);
    std::printf("%-40s %10.2f ms   worst %.2f ms\n", "cell update + repaint (median)", u.median,
                u.worst);

    const double clear = timeMs([&] { list.setRowCount(1); });
    std::printf("%-40s %10.1f ms   + repaint %.1f ms\n", "clear list", clear, settleMs(view));
    std::printf("%-40s %10.2f ms\n", "vector::erase of row 1 (median)", e.median);

    // The delete through list, model and view against the bare erase of the same rows.
    constexpr double DeleteGoal = 3.0;
    std::printf("\ntarget delete-row-1-of-100k: x%.2f (goal x%.0f) %s\n", deleteRatio, DeleteGoal,
                deleteRatio <= DeleteGoal ? "met" : "missed");
    return 0;
}
