#include "dialogs/AboutTorvaline.h"
#include "dialogs/ReferenceUnits.h"

#include "doubles/FakeShell.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace torvaline;

namespace {

class AboutBox : public testing::Test {
protected:
    QLabel* label(const char* name) {
        auto* l = form.findChild<QLabel*>(name);
        EXPECT_NE(l, nullptr) << name;
        return l;
    }

    test::FakeShell shell;
    TForm3 form{shell};
};

TEST_F(AboutBox, ShowsItsTextsWhereTheyBelong) {
    EXPECT_EQ(form.windowTitle(), "About Torvaline");
    // Fixed, at 400 x 355 reference units; the widths may stretch further for the texts.
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    const ReferenceUnits font;
    EXPECT_EQ(form.height(), font.y(355));
    EXPECT_GE(form.width(), font.x(400));
    const ReferenceUnits u = font.widenedTo(form.width() / 400.0);
    EXPECT_EQ(form.width(), u.x(400));
    EXPECT_TRUE(form.findChildren<QPushButton*>().isEmpty());

    auto* group = form.findChild<QGroupBox*>();
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->title(), "Torvaline  V.1.2");
    EXPECT_EQ(group->geometry(), u.rect(8, 8, 377, 305));
    EXPECT_TRUE(group->autoFillBackground());
    EXPECT_EQ(group->palette().color(QPalette::Window), QColor(192, 192, 192));

    struct Text {
        const char* name;
        QString text;
        QPoint at;
    };
    const Text texts[] = {
        {"Label1",
         "Torvaline was build to help people to download files from RAPIDSHARE, ",
         {8, 40}},
        {"Label2",
         "as a FREE USER, without to stay in front of PC downloading URL by URL.",
         {8, 56}},
        {"Label3",
         "Using Torvaline, you can copy and paste all Links, Starting in the first",
         {16, 72}},
        {"Label4",
         " Download  and let the Torvaline running till the end of the download list. ",
         {24, 88}},
        {"Label5",
         "Please, if you like to use Torvaline, click on the link bellow and make",
         {20, 120}},
        {"Label6", "a donnation ", {104, 136}},
        {"Label7", TForm3::DonationAddress, {170, 136}},
        {"Label8", QString("Inform the email ") + TForm3::MailAddress, {80, 152}},
        {"Label9", "Or visit ", {152, 184}},
        {"Label11", TForm3::WebAddress, {112, 200}},
        {"Label10", "Thank you and Enjoy Torvaline", {96, 232}},
        {"Label12", "Help, sugestions and questions, please send an email to: ", {56, 264}},
    };
    for (const Text& t : texts) {
        QLabel* l = label(t.name);
        ASSERT_NE(l, nullptr);
        EXPECT_EQ(l->text(), t.text) << t.name;
        EXPECT_NEAR(l->x(), u.xFactor() * t.at.x(), 1) << t.name;
        EXPECT_EQ(l->y(), u.y(t.at.y())) << t.name;
        EXPECT_EQ(l->parentWidget(), group) << t.name;
    }

    QLabel* credit = label("StaticText1");
    ASSERT_NE(credit, nullptr);
    EXPECT_TRUE(credit->text().contains(TForm3::Publisher));
    EXPECT_TRUE(credit->text().contains(TForm3::MailAddress));
    EXPECT_TRUE(credit->alignment().testFlag(Qt::AlignHCenter));
    EXPECT_GE(credit->width(), group->width() - 8);
    EXPECT_LE(credit->geometry().bottom(), group->height());
    EXPECT_GT(credit->y(), label("Label12")->y());

    // Every address belongs to us, never to somebody else.
    for (const char* address : {TForm3::DonationAddress, TForm3::WebAddress, TForm3::MailAddress})
        EXPECT_TRUE(QString(address).contains(".example")) << address;
}

TEST_F(AboutBox, TheThreeLinksReachTheDesktopAndTheBoxStaysOpen) {
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    for (const char* name : {"Label7", "Label11", "StaticText1"}) {
        QLabel* l = label(name);
        ASSERT_NE(l, nullptr);
        EXPECT_EQ(l->cursor().shape(), Qt::PointingHandCursor) << name;
        QTest::mouseClick(l, Qt::LeftButton);
    }
    // A click on plain text opens nothing.
    QTest::mouseClick(label("Label6"), Qt::LeftButton);

    EXPECT_EQ(shell.opened,
              (std::vector<std::string>{TForm3::DonationAddress, TForm3::WebAddress,
                                        std::string("mailto:") + TForm3::MailAddress}));
    EXPECT_TRUE(form.isVisible());
}

} // namespace
