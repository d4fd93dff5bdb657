#pragma once

#include "WindowData.h"
#include "app/DownloadGrid.h"
#include "app/Main.h"
#include "doubles/FakeBrowser.h"
#include "doubles/FakeDialogs.h"
#include "doubles/FakeShell.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace torvaline::test {

// A main window over fake dialogs, shell and browser, with its default folder in a
// temporary directory.
class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_tmp.isValid());
        defaultFolder = (m_tmp.path() + "/Torvaline/Downloads").toStdString();
        data = windowData(defaultFolder);
        form = std::make_unique<TForm1>(browser, dialogs, shell, *data);
    }

    QToolButton* button(const char* name) const {
        auto* b = form->findChild<QToolButton*>(QString::fromLatin1(name));
        EXPECT_NE(b, nullptr) << name;
        return b;
    }
    QAction* action(const char* name) const {
        auto* a = form->findChild<QAction*>(QString::fromLatin1(name));
        EXPECT_NE(a, nullptr) << name;
        return a;
    }
    DownloadList& list() { return form->downloadList(); }

    // Rows 1.. hold the given links.
    void fill(const std::vector<std::string>& links) {
        list().setRowCount(1 + static_cast<int>(links.size()));
        for (std::size_t i = 0; i < links.size(); ++i)
            list().setCell(static_cast<int>(i) + 1, DownloadList::URL, links[i]);
    }
    std::vector<std::string> links() {
        std::vector<std::string> out;
        for (int r = 1; r < list().rowCount(); ++r)
            out.push_back(list().cell(r, DownloadList::URL));
        return out;
    }
    void focusRow(int row) { form->MyStringGrid()->setCurrentRow(row); }

    std::string tmpPath(const char* name) const {
        return (m_tmp.path() + "/" + name).toStdString();
    }

    // Runs handle on the next modal dialog of type T as soon as it is open.
    template <typename T> static void onNextModal(std::function<void(T*)> handle) {
        QTimer::singleShot(0, [handle] {
            if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
                handle(dialog);
                return;
            }
            onNextModal<T>(handle);
        });
    }

    FakeDialogs dialogs;
    FakeShell shell;
    FakeBrowser browser;
    std::string defaultFolder;
    // What the window shows; it outlives the window.
    std::unique_ptr<SessionData> data;
    std::unique_ptr<TForm1> form;

private:
    QTemporaryDir m_tmp;
};

} // namespace torvaline::test
