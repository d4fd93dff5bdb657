// The list operations that take every row of a long list, with everything the window and the
// daemon hang on the list attached: the window's model and its table view, the remote
// control's row table (fed through the row event hub) and the recovery feed. Each is printed
// beside a plain std::vector of the same rows doing the same, as the floor. Not a test: it
// prints figures and never fails on timing.
//
//   bench_list_ops [rows (100000)]

#include "app/DownloadGrid.h"
#include "app/DownloadListModel.h"
#include "cycle/ListRecovery.h"
#include "cycle/RowEventHub.h"
#include "list/DownloadList.h"
#include "remote/RowTable.h"

#include "doubles/FakeDialogs.h"
#include "doubles/FakeRecoveryStore.h"
#include "doubles/ManualTimer.h"

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

using namespace torvaline;

namespace {

using Clock = std::chrono::steady_clock;

double timeMs(const std::function<void()>& fn) {
    const auto start = Clock::now();
    fn();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::vector<DownloadList::Row> waitingRows(int count) {
    std::vector<DownloadList::Row> rows(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        DownloadList::Row& row = rows[static_cast<std::size_t>(i)];
        row[DownloadList::Host] = "rapidshare.example";
        row[DownloadList::URL] = "http://rapidshare.example/files/" +
                                 std::to_string(100000000 + i) + "/archive_part" +
                                 std::to_string(i) + ".rar";
        row[DownloadList::Status] = "Waiting";
    }
    return rows;
}

} // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::max(10, std::atoi(argv[1])) : 100000;
    constexpr int Rounds = 7;
    const std::vector<DownloadList::Row> rows = waitingRows(count);

    // The list as the window has it.
    DownloadList list;
    list.InitGrid();
    DownloadListModel model(list);
    DownloadGrid view(model);
    view.resize(834, 380);
    view.show();
    // The remote control's table, fed by the row events as the window and the daemon feed it.
    RowEventHub hub;
    hub.follow(list);
    RowTable table(list);
    int notices = 0;
    table.setNotify([&notices](RowTable::Notice, std::uint64_t) { ++notices; });
    hub.add(table);
    // The recovery feed, told of the rows by the model's signals as the window tells it.
    test::FakeRecoveryStore store;
    test::ManualTimer recoveryTimer;
    test::FakeDialogs dialogs;
    ListRecovery recovery(list, store, recoveryTimer);
    recovery.offerRestore(dialogs);
    const auto changed = [&recovery] { recovery.listChanged(); };
    QObject::connect(&model, &QAbstractItemModel::rowsInserted, changed);
    QObject::connect(&model, &QAbstractItemModel::rowsRemoved, changed);
    QObject::connect(&model, &QAbstractItemModel::rowsMoved, changed);
    QObject::connect(&model, &QAbstractItemModel::dataChanged, changed);
    QCoreApplication::processEvents();

    // The plain vector: row 0 the titles, as in the list.
    std::vector<DownloadList::Row> plain;

    struct Figures {
        std::vector<double> list, vector;
    };
    Figures add, moveLast, moveFirst, clear;
    for (int round = 0; round < Rounds; ++round) {
        std::vector<DownloadList::Row> copy = rows;
        add.list.push_back(timeMs([&] { list.appendRows(std::move(copy)); }));
        copy = rows;
        plain.assign(1, DownloadList::Row{});
        add.vector.push_back(timeMs([&] {
            plain.insert(plain.end(), std::make_move_iterator(copy.begin()),
                         std::make_move_iterator(copy.end()));
        }));
        QCoreApplication::processEvents();

        const int last = list.rowCount() - 1;
        moveLast.list.push_back(timeMs([&] { list.moveRow(1, last); }));
        moveLast.vector.push_back(
            timeMs([&] { std::rotate(plain.begin() + 1, plain.begin() + 2, plain.end()); }));
        moveFirst.list.push_back(timeMs([&] { list.moveRow(last, 1); }));
        moveFirst.vector.push_back(
            timeMs([&] { std::rotate(plain.begin() + 1, plain.end() - 1, plain.end()); }));
        QCoreApplication::processEvents();
        // The copy the recovery feed writes within the second after the changes (untimed).
        recoveryTimer.tick();

        // Clear List, as the window's command does it.
        clear.list.push_back(timeMs([&] { list.setRowCount(1); }));
        clear.vector.push_back(timeMs([&] { plain.resize(1); }));
        QCoreApplication::processEvents();
    }

    std::printf("%d rows; the list with the window's model and view, the remote control's row "
                "table and the recovery feed attached,\nagainst a plain std::vector of the same "
                "rows; median of %d rounds.\n\n",
                count, Rounds);
    struct Line {
        const char* name;
        const Figures& f;
    };
    constexpr double Goal = 3.0;
    std::vector<std::string> targets;
    for (const Line& l : {Line{"add rows", add}, Line{"move row 1 to last", moveLast},
                          Line{"move last row to first", moveFirst}, Line{"Clear List", clear}}) {
        const double ours = median(l.f.list);
        const double floor = median(l.f.vector);
        const double ratio = floor > 0 ? ours / floor : 0;
        std::printf("%-26s %10.3f ms   vector %8.3f ms   x%.2f\n", l.name, ours, floor, ratio);
        char line[160];
        std::snprintf(line, sizeof line, "target %s: x%.2f (goal within x%.0f) %s", l.name, ratio,
                      Goal, ratio <= Goal ? "met" : "missed");
        targets.emplace_back(line);
    }
    std::printf("\n(remote notices %d, recovery copies written %zu)\n\n", notices,
                store.saves.size());
    for (const std::string& t : targets)
        std::printf("%s\n", t.c_str());
    hub.remove(table);
    return 0;
}
