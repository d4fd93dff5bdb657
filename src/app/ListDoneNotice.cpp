#include "app/ListDoneNotice.h"

#include "list/DownloadList.h"
#include "platform/DesktopNotifier.h"

#include <string>

namespace torvaline {

namespace {

std::string rows(int n) {
    return std::to_string(n) + (n == 1 ? " row" : " rows");
}

} // namespace

ListDoneNotice::ListDoneNotice(const DownloadList& list, DesktopNotifier& notifier, Window window)
    : m_list(list)
    , m_notifier(notifier)
    , m_window(std::move(window)) {}

void ListDoneNotice::listDone() {
    if (m_window.inView && m_window.inView())
        return;
    int completed = 0;
    int failed = 0;
    for (int row = 1; row < m_list.rowCount(); ++row) {
        const std::string& status = m_list.cell(row, DownloadList::Status);
        if (status == "Completed")
            ++completed;
        else if (status == "Failed")
            ++failed;
    }
    // The raise may run long after this object's caller returned; it holds its own copy.
    m_notifier.notify("Download list done",
                      rows(completed) + " completed, " + std::to_string(failed) + " failed.",
                      m_window.raise);
}

} // namespace torvaline
