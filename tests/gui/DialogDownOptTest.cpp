#include "dialogs/DownOpt.h"
#include "dialogs/ReferenceUnits.h"
#include "dialogs/SaveOn.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace torvaline;

namespace {

class DownOptDialog : public testing::Test {
protected:
    template <typename T> T* child(const char* name) {
        T* w = form.findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void click(const char* button) {
        QTest::mouseClick(child<QPushButton>(button), Qt::LeftButton);
    }
    void type(const QString& links) { child<QPlainTextEdit>("Memo1")->setPlainText(links); }

    // Answers the "Download Path" dialog that "..." opens, once it is up.
    void answerDownloadPath(const QString& select, bool ok) {
        QTimer::singleShot(0, &form, [this, select, ok] {
            auto* path = form.findChild<TForm4*>();
            ASSERT_NE(path, nullptr);
            if (!select.isEmpty())
                path->selectPath(select);
            ok ? path->Button1Click() : path->Button2Click();
        });
    }

    DownloadList list;
    DownloadFolder folder{"/home/u/Torvaline/Downloads", '/'};
    int starts = 0;
    std::function<void()> onStart;
    TForm2 form{list, folder, [this] {
                    ++starts;
                    if (onStart)
                        onStart();
                }};
};

TEST_F(DownOptDialog, OpensEmptyWithItsControls) {
    EXPECT_EQ(form.windowTitle(), "Download Options");
    const ReferenceUnits u;
    EXPECT_EQ(form.minimumSize(), u.size(552, 338));
    EXPECT_EQ(form.maximumSize(), u.size(552, 338));
    EXPECT_EQ(child<QLineEdit>("SavePath")->text(), "");
    EXPECT_EQ(child<QPushButton>("SaveOnBtn")->text(), "...");
    EXPECT_EQ(child<QPushButton>("NewURLBtn")->text(), "OK");
    EXPECT_EQ(child<QPushButton>("BitBtn2")->text(), "Cancel");
    auto* check = child<QCheckBox>("CheckBox1");
    EXPECT_EQ(check->text(), "Start Download Now");
    EXPECT_FALSE(check->isChecked());
    auto* memo = child<QPlainTextEdit>("Memo1");
    EXPECT_EQ(memo->size(), u.size(529, 169));
    EXPECT_EQ(memo->toPlainText(), "");
    EXPECT_EQ(memo->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_EQ(memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QStringList captions;
    for (auto* label : form.findChildren<QLabel*>())
        captions << label->text();
    EXPECT_TRUE(captions.contains("Save on Folder:"));
    EXPECT_TRUE(captions.contains("Enter new URL(s)"));
}

TEST_F(DownOptDialog, StartDownloadNowCannotBeUnticked) {
    auto* check = child<QCheckBox>("CheckBox1");
    form.show();
    for (int i = 0; i < 3; ++i) {
        QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(6, check->height() / 2));
        EXPECT_TRUE(check->isChecked()) << i;
    }
}

TEST_F(DownOptDialog, OkAppendsOneRowPerLineThenStartsThenClosesKeepingTheFolder) {
    list.setRowCount(2);
    list.setCell(1, DownloadList::URL, "old");
    child<QLineEdit>("SavePath")->setText("/data/dl");
    type(QString::fromUtf8("http://rapidshare.example/a\n\nhttp://4shared.example/\xc3\xa9\n"));
    child<QCheckBox>("CheckBox1")->click();
    // The cycle starts once the rows exist, before the folder could be reset.
    onStart = [this] {
        EXPECT_EQ(list.rowCount(), 5);
        EXPECT_EQ(folder.text(), "/data/dl");
    };

    click("NewURLBtn");

    EXPECT_EQ(starts, 1);
    EXPECT_EQ(form.result(), QDialog::Accepted);
    ASSERT_EQ(list.rowCount(), 5);
    EXPECT_EQ(list.cell(1, DownloadList::URL), "old");
    const char* urls[] = {"http://rapidshare.example/a", "", "http://4shared.example/\xc3\xa9"};
    const char* hosts[] = {"RapidShare", "", "4Shared"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(list.cell(2 + i, DownloadList::URL), urls[i]);
        EXPECT_EQ(list.cell(2 + i, DownloadList::Host), hosts[i]);
        EXPECT_EQ(list.cell(2 + i, DownloadList::Status), "Waiting...");
    }
    EXPECT_EQ(folder.text(), "/data/dl");
}

TEST_F(DownOptDialog, OkWithNothingTypedStillStartsAndSetsTheDefaultFolder) {
    for (bool ticked : {false, true}) {
        DownloadList rows;
        DownloadFolder dest{"/default", '/'};
        int started = 0;
        TForm2 dialog(rows, dest, [&] { ++started; });
        dest.setText("/earlier");
        if (ticked)
            dialog.CheckBox1Click();
        dialog.NewURLBtnClick();
        EXPECT_EQ(rows.rowCount(), 1);
        EXPECT_EQ(started, ticked ? 1 : 0);
        EXPECT_EQ(dest.text(), "/default");
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
}

TEST_F(DownOptDialog, FolderTakesEffectAtOnceAndCancelDoesNotUndoIt) {
    auto* savePath = child<QLineEdit>("SavePath");
    form.show();
    QTest::keyClicks(savePath, "/mnt/x");
    EXPECT_EQ(folder.text(), "/mnt/x");
    type("http://rapidshare.example/a");

    click("BitBtn2");

    EXPECT_EQ(form.result(), QDialog::Rejected);
    EXPECT_EQ(folder.text(), "/mnt/x");
    EXPECT_EQ(list.rowCount(), 1);
    EXPECT_EQ(starts, 0);
}

TEST_F(DownOptDialog, FolderChosenWithTheButtonFillsTheFieldOnlyOnOk) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    auto* savePath = child<QLineEdit>("SavePath");
    savePath->setText("/typed");

    answerDownloadPath(dir.path(), false);
    form.SaveOnBtnClick();
    EXPECT_EQ(savePath->text(), "/typed");
    EXPECT_EQ(folder.text(), "/typed");

    answerDownloadPath(dir.path(), true);
    form.SaveOnBtnClick();
    EXPECT_EQ(savePath->text(), dir.path());
    EXPECT_EQ(folder.text(), dir.path().toStdString());

    // OK with nothing selected empties the field, and with it the download folder.
    answerDownloadPath({}, true);
    form.SaveOnBtnClick();
    EXPECT_EQ(savePath->text(), "");
    click("BitBtn2");
    EXPECT_EQ(folder.text(), "");
    EXPECT_TRUE(form.findChildren<TForm4*>().isEmpty());
}

} // namespace

TEST_F(DownOptDialog, RangesBecomeOneRowEachAndAPatternBeyondTheLimitAddsNothing) {
    type("http://rapidshare.example/f.part[01-20].rar\nplain [x]");
    click("NewURLBtn");
    ASSERT_EQ(list.rowCount(), 1 + 21);
    EXPECT_EQ(list.cell(1, DownloadList::URL), "http://rapidshare.example/f.part01.rar");
    EXPECT_EQ(list.cell(20, DownloadList::URL), "http://rapidshare.example/f.part20.rar");
    EXPECT_EQ(list.cell(20, DownloadList::Host), "RapidShare");
    EXPECT_EQ(list.cell(21, DownloadList::URL), "plain [x]");

    TForm2 again(list, folder, [this] { ++starts; });
    again.findChild<QPlainTextEdit*>("Memo1")->setPlainText("http://h/a\nhttp://h/[1-10001]");
    QString shown;
    QTimer::singleShot(0, &again, [&shown] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        shown = box->text();
        box->accept();
    });
    QTest::mouseClick(again.findChild<QPushButton*>("NewURLBtn"), Qt::LeftButton);
    EXPECT_NE(shown.indexOf("at most 10000 links"), -1) << shown.toStdString();
    EXPECT_EQ(list.rowCount(), 1 + 21);
    EXPECT_NE(again.result(), QDialog::Accepted);
}
