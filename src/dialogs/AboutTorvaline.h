#pragma once

#include "platform/Shell.h"

#include <QDialog>

class QLabel;

namespace torvaline {

// The about box: what the program is for, and three links handed to the desktop.
class TForm3 final : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* DonationAddress = "https://donate.torvaline.example/";
    static constexpr const char* WebAddress = "https://www.torvaline.example/";
    static constexpr const char* Publisher = "Torvaline Developers";
    static constexpr const char* MailAddress = "contact@torvaline.example";

    explicit TForm3(Shell& shell, QWidget* parent = nullptr);

public slots:
    void Label7Click();
    void Label11Click();
    void StaticText1Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Shell& m_shell;
    QLabel* m_label7;
    QLabel* m_label11;
    QLabel* m_staticText1;
};

} // namespace torvaline
