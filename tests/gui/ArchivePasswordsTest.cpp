#include "dialogs/ArchivePasswords.h"
#include "app/Main.h"
#include "app/TorvalineApp.h"
#include "doubles/FakeDialogs.h"
#include "doubles/FakeShell.h"
#include "doubles/RecordingShutdown.h"
#include "doubles/TempDir.h"
#include "session/ArchiveSettings.h"
#include "session/DownloadSession.h"
#include "session/PackageFollowUp.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace torvaline::test {
namespace {

template <typename T> void onNextModal(std::function<void(T*)> handle) {
    QTimer::singleShot(0, [handle] {
        if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
            handle(dialog);
            return;
        }
        onNextModal<T>(handle);
    });
}

unsigned modeOf(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 0777) : 0;
}

// Tools > Archive Passwords over the stored choices: what an earlier run left is read (a file
// others could read is closed to them first), the dialog's edits reach the running list and
// the files, a password never holds a line break, and Cancel changes nothing.
TEST(ArchivePasswordsTool, EditsTheStoredChoicesAndKeepsThePasswordsPrivate) {
    QTemporaryDir config;
    ASSERT_TRUE(config.isValid());
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    const std::string folder = config.path().toStdString() + "/torvaline";
    const std::string passwords = folder + "/archive-passwords";
    ::mkdir(folder.c_str(), 0755);
    {
        std::ofstream out(passwords, std::ios::binary);
        out << "old one\r\n\nsecond\n";
    }
    ::chmod(passwords.c_str(), 0644);

    FakeDialogs dialogs;
    FakeShell shell;
    RecordingShutdownService shutdownService;
    QTemporaryDir downloads;
    TorvalineApp::Options options;
    options.defaultFolder = (downloads.path() + "/Downloads").toStdString();
    {
        TorvalineApp app(dialogs, shell, shutdownService, options);
        PackageFollowUp& packages = app.session().packages();
        EXPECT_EQ(packages.choices().passwords, (std::vector<std::string>{"old one", "second"}));
        EXPECT_EQ(packages.choices().afterExtract, ArchiveChoices::AfterExtract::Trash);
        EXPECT_FALSE(packages.choices().packageFolders);
        EXPECT_EQ(modeOf(passwords), 0600u);

        auto* entry = app.form().findChild<QAction*>(QStringLiteral("ArchivePasswords1"));
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->text(), QStringLiteral("Archive Passwords"));
        bool seen = false;
        onNextModal<ArchivePasswords>([&seen](ArchivePasswords* dialog) {
            seen = true;
            auto* list = dialog->findChild<QListWidget*>(QStringLiteral("PasswordList"));
            auto* add = dialog->findChild<QPushButton*>(QStringLiteral("AddBtn"));
            auto* text = dialog->findChild<QLineEdit*>(QStringLiteral("NewPassword"));
            EXPECT_EQ(list->count(), 2);
            list->setCurrentRow(0);
            dialog->findChild<QPushButton*>(QStringLiteral("RemoveBtn"))->click();
            for (const char* typed : {"two\nlines", "second", "  spaced  "}) {
                text->setText(QString::fromLatin1(typed));
                add->click();
            }
            dialog->findChild<QComboBox*>(QStringLiteral("AfterExtract"))->setCurrentIndex(2);
            dialog->findChild<QCheckBox*>(QStringLiteral("PackageFolders"))->setChecked(true);
            dialog->accept();
        });
        entry->trigger();
        EXPECT_TRUE(seen);
        const std::vector<std::string> now = {"second", "twolines", "  spaced  "};
        EXPECT_EQ(packages.choices().passwords, now);
        EXPECT_EQ(packages.choices().afterExtract, ArchiveChoices::AfterExtract::Keep);
        EXPECT_TRUE(packages.choices().packageFolders);
        EXPECT_EQ(readFile(passwords), "second\ntwolines\n  spaced  \n");
        EXPECT_EQ(modeOf(passwords), 0600u);

        onNextModal<ArchivePasswords>([](ArchivePasswords* dialog) {
            auto* list = dialog->findChild<QListWidget*>(QStringLiteral("PasswordList"));
            list->clear();
            dialog->reject();
        });
        entry->trigger();
        EXPECT_EQ(packages.choices().passwords, now);
        EXPECT_TRUE(dialogs.errors.empty());
    }
    // The next start, and a run without a window, read the same.
    const ArchiveChoices stored = ArchiveSettings::load();
    EXPECT_EQ(stored.passwords, (std::vector<std::string>{"second", "twolines", "  spaced  "}));
    EXPECT_EQ(stored.afterExtract, ArchiveChoices::AfterExtract::Keep);
    EXPECT_TRUE(stored.packageFolders);
    qputenv("XDG_CONFIG_HOME", saved);
}

} // namespace
} // namespace torvaline::test
