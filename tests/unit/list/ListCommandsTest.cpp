#include "list/ListCommands.h"

#include "doubles/FakeDialogs.h"

#include "doubles/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

using namespace torvaline;
namespace fs = std::filesystem;

namespace {

class ListCommandsTest : public testing::Test {
protected:
    void SetUp() override {
        folder.setText("/chosen/before");
        statusBar.setText(0, "progress");
    }

    std::string path(const std::string& name) const { return (m_dir / name).string(); }
    static void write(const std::string& file, const std::string& bytes) {
        test::writeFile(file, bytes);
    }
    static std::string read(const std::string& file) { return test::readFile(file); }
    void addRows(std::initializer_list<const char*> links) {
        for (const char* link : links) {
            const int r = list.rowCount();
            list.setRowCount(r + 1);
            list.setCell(r, DownloadList::URL, link);
        }
    }

    DownloadList list;
    DownloadFolder folder{"/home/u/Torvaline/Downloads", '/'};
    StatusBar statusBar;
    test::FakeDialogs dialogs;
    ListCommands commands{list, folder, statusBar, dialogs};
    test::TempDir m_temp;
    const fs::path& m_dir = m_temp.path();
};

TEST_F(ListCommandsTest, ImportAppendsTheFileRemembersItsNameAndResetsTheFolder) {
    const std::string file = path("links.txt");
    write(file, "http://rapidshare.example/a\r\n\r\nb");
    addRows({"1", "2"});
    dialogs.files.push_back(file);

    commands.ImportList1Click();

    ASSERT_EQ(dialogs.fileRequests.size(), 1u);
    EXPECT_FALSE(dialogs.fileRequests[0].save);
    EXPECT_EQ(dialogs.fileRequests[0].filter,
              "Text Files (*.TXT)|*.TXT|Rich Text Files (*.RTF)| *.RTF");
    EXPECT_EQ(dialogs.fileRequests[0].defaultExt, ".Txt");
    EXPECT_EQ(dialogs.fileRequests[0].initialName, ".Txt");
    ASSERT_EQ(list.rowCount(), 6);
    EXPECT_EQ(list.cell(3, DownloadList::Host), "RapidShare");
    EXPECT_EQ(list.cell(4, DownloadList::URL), "");
    EXPECT_EQ(list.cell(4, DownloadList::Status), "Waiting...");
    EXPECT_EQ(list.cell(5, DownloadList::URL), "b");
    EXPECT_EQ(commands.ListFileName(), file);
    EXPECT_EQ(folder.text(), "/home/u/Torvaline/Downloads");
}

TEST_F(ListCommandsTest, ImportOfAnEmptyFileOrACancelledChoiceStillResetsTheFolder) {
    const std::string empty = path("empty.txt");
    write(empty, "");
    dialogs.files.push_back(empty);
    commands.ImportList1Click();
    EXPECT_EQ(list.rowCount(), 1);
    EXPECT_EQ(commands.ListFileName(), empty);
    EXPECT_EQ(folder.text(), "/home/u/Torvaline/Downloads");

    folder.setText("/chosen/again");
    commands.ImportList1Click(); // cancelled
    EXPECT_EQ(list.rowCount(), 1);
    EXPECT_EQ(commands.ListFileName(), empty);
    EXPECT_EQ(folder.text(), "/home/u/Torvaline/Downloads");
    EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(ListCommandsTest, ImportOfAnUnreadableFileShowsTheReasonAndChangesNothing) {
    addRows({"1"});
    const std::string missing = path("missing.txt");
    dialogs.files.push_back(missing);

    commands.ImportList1Click();

    ASSERT_EQ(dialogs.errors.size(), 1u);
    EXPECT_NE(dialogs.errors[0].find(missing), std::string::npos);
    EXPECT_NE(dialogs.errors[0].find("No such file or directory"), std::string::npos);
    EXPECT_EQ(list.rowCount(), 2);
    EXPECT_EQ(commands.ListFileName(), "");
    EXPECT_EQ(folder.text(), "/chosen/before");
}

TEST_F(ListCommandsTest, SaveAsWritesTheLinksAndEmptiesTheFirstPanel) {
    addRows({"a", "b", "c"});
    const std::string file = path("out.txt");
    dialogs.files.push_back(file);

    EXPECT_TRUE(commands.FileSave());

    ASSERT_EQ(dialogs.fileRequests.size(), 1u);
    EXPECT_TRUE(dialogs.fileRequests[0].save);
    EXPECT_EQ(dialogs.fileRequests[0].filter,
              "Text Files (*.TXT)|*.TXT|Rich Text Files (*.RTF)|*.RTF");
    EXPECT_EQ(dialogs.fileRequests[0].defaultExt, ".Txt");
    EXPECT_EQ(dialogs.fileRequests[0].initialName, ".Txt");
    EXPECT_TRUE(dialogs.questions.empty()); // a new file needs no confirmation
    EXPECT_EQ(read(file), "a\r\nb\r\nc\r\n");
    EXPECT_EQ(commands.ListFileName(), file);
    EXPECT_EQ(statusBar.text(0), "");
}

TEST_F(ListCommandsTest, OnlyYesOverwritesAnExistingFile) {
    addRows({"new"});
    const std::string file = path("old.txt");
    write(file, "old\r\n");
    for (Answer answer : {Answer::No, Answer::Cancel}) {
        dialogs.files.push_back(file);
        dialogs.answers.push_back(answer);
        EXPECT_FALSE(commands.FileSave());
        EXPECT_EQ(read(file), "old\r\n");
        EXPECT_EQ(commands.ListFileName(), "");
        EXPECT_EQ(statusBar.text(0), "progress");
    }
    dialogs.files.push_back(file);
    dialogs.answers.push_back(Answer::Yes);
    EXPECT_TRUE(commands.FileSave());
    EXPECT_EQ(read(file), "new\r\n");
    EXPECT_EQ(dialogs.questions, std::vector<std::string>(3, "OK to overwrite " + file));
}

TEST_F(ListCommandsTest, FailedSaveShowsTheReasonKeepsTheNameAndThePanel) {
    addRows({"a"});
    const std::string file = path("no-such-folder") + "/out.txt";
    dialogs.files.push_back(file);

    EXPECT_FALSE(commands.FileSave());

    ASSERT_EQ(dialogs.errors.size(), 1u);
    EXPECT_NE(dialogs.errors[0].find(file), std::string::npos);
    EXPECT_EQ(commands.ListFileName(), file);
    EXPECT_EQ(statusBar.text(0), "progress");
}

TEST_F(ListCommandsTest, ExitPrompt) {
    // Titles alone: no question, the program may close.
    EXPECT_TRUE(commands.AskSaveChanges());
    EXPECT_TRUE(dialogs.questions.empty());

    addRows({"a"});
    const std::string file = path("exit.txt");
    struct Step {
        Answer answer;
        std::optional<std::string> saveAs;
        bool mayClose;
    };
    const Step steps[] = {
        {Answer::Cancel, std::nullopt, false},
        {Answer::No, std::nullopt, true},
        // A save the user asked for but that did not happen keeps the program open.
        {Answer::Yes, std::nullopt, false},
        {Answer::Yes, path("missing-folder") + "/x.txt", false},
        {Answer::Yes, file, true},
    };
    for (const Step& step : steps) {
        dialogs.answers.push_back(step.answer);
        if (step.saveAs)
            dialogs.files.push_back(*step.saveAs);
        EXPECT_EQ(commands.AskSaveChanges(), step.mayClose);
        EXPECT_TRUE(dialogs.files.empty());
    }
    EXPECT_EQ(dialogs.questions.front(), "Save changes to ?");
    EXPECT_EQ(read(file), "a\r\n");

    dialogs.answers.push_back(Answer::Cancel);
    commands.AskSaveChanges();
    EXPECT_EQ(dialogs.questions.back(), "Save changes to " + file + "?");
}

} // namespace
