#include "dialogs/ReferenceUnits.h"
#include "dialogs/SaveOn.h"

#include <QComboBox>
#include <QDir>
#include <QFileSystemModel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

using namespace torvaline;

namespace {

class SaveOnDialog : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir(dir.path()).mkpath("inner/deep"));
        ASSERT_TRUE(QDir(dir.path()).mkpath("other"));
        tree = form.findChild<QTreeView*>("ShellTreeView1");
        combo = form.findChild<QComboBox*>("ShellComboBox1");
        ASSERT_NE(tree, nullptr);
        ASSERT_NE(combo, nullptr);
    }
    QString sub(const QString& relative) const {
        return QDir::toNativeSeparators(dir.path() + "/" + relative);
    }

    QTemporaryDir dir;
    TForm4 form;
    QTreeView* tree = nullptr;
    QComboBox* combo = nullptr;
};

TEST_F(SaveOnDialog, ShowsAFolderTreeWithNothingSelected) {
    EXPECT_EQ(form.windowTitle(), "Download Path");
    const ReferenceUnits u;
    EXPECT_EQ(form.minimumSize(), u.size(439, 325));
    EXPECT_EQ(form.maximumSize(), u.size(439, 325));
    EXPECT_EQ(tree->size(), u.size(401, 161));
    EXPECT_FALSE(tree->rootIsDecorated());
    EXPECT_EQ(combo->maxVisibleItems(), 8);
    EXPECT_EQ(form.findChild<QPushButton*>("Button1")->text(), "OK");
    EXPECT_EQ(form.findChild<QPushButton*>("Button2")->text(), "Cancel");
    auto* model = qobject_cast<QFileSystemModel*>(tree->model());
    ASSERT_NE(model, nullptr);
    EXPECT_TRUE(model->filter().testFlag(QDir::Dirs));
    EXPECT_FALSE(model->filter().testFlag(QDir::Files));
    EXPECT_TRUE(tree->isExpanded(model->index(QDir::homePath()).parent()));
    EXPECT_EQ(form.selectedPath(), "");
}

TEST_F(SaveOnDialog, SelectedFolderIsShownWithItsParentsAndGivesItsFullPath) {
    ASSERT_TRUE(form.selectPath(dir.path() + "/inner/deep"));
    EXPECT_EQ(form.selectedPath(), sub("inner/deep").toStdString());

    // The drop-down list holds the chain from the root down to the selection.
    const int depth = QDir::cleanPath(dir.path() + "/inner/deep").count('/');
    ASSERT_EQ(combo->count(), depth + 1);
    EXPECT_EQ(combo->currentIndex(), depth);
    EXPECT_EQ(combo->itemData(depth).toString(), dir.path() + "/inner/deep");
    EXPECT_EQ(combo->itemData(depth - 1).toString(), dir.path() + "/inner");

    // Choosing a parent in the list selects it in the tree.
    emit combo->activated(depth - 1);
    EXPECT_EQ(form.selectedPath(), sub("inner").toStdString());
    EXPECT_EQ(combo->count(), depth);

    // Neither a file nor a missing folder can be selected.
    QFile file(dir.path() + "/a.txt");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_FALSE(form.selectPath(file.fileName()));
    EXPECT_FALSE(form.selectPath(dir.path() + "/missing"));
    EXPECT_EQ(form.selectedPath(), sub("inner").toStdString());
}

TEST_F(SaveOnDialog, RightClickSelects) {
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    ASSERT_TRUE(form.selectPath(dir.path() + "/inner"));
    auto* model = static_cast<QFileSystemModel*>(tree->model());
    const QModelIndex parent = model->index(dir.path());
    tree->scrollTo(parent);
    const QRect rect = tree->visualRect(parent);
    ASSERT_TRUE(rect.isValid());

    QTest::mouseClick(tree->viewport(), Qt::RightButton, {}, rect.center());

    EXPECT_EQ(form.selectedPath(), QDir::toNativeSeparators(dir.path()).toStdString());
}

TEST_F(SaveOnDialog, OkAcceptsAndCancelRejects) {
    form.show();
    QTest::mouseClick(form.findChild<QPushButton*>("Button1"), Qt::LeftButton);
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_FALSE(form.isVisible());
    form.show();
    QTest::mouseClick(form.findChild<QPushButton*>("Button2"), Qt::LeftButton);
    EXPECT_EQ(form.result(), QDialog::Rejected);
}

} // namespace
