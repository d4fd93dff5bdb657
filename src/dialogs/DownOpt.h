#pragma once

#include "list/DownloadFolder.h"
#include "list/DownloadList.h"

#include <QDialog>

#include <functional>

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace torvaline {

// "Download Options": links typed or pasted one per line become rows of the list.
class TForm2 final : public QDialog {
    Q_OBJECT
public:
    // startDownload runs the Start Download command when "Start Download Now" is ticked.
    TForm2(DownloadList& list, DownloadFolder& folder, std::function<void()> startDownload,
           QWidget* parent = nullptr);

public slots:
    void NewURLBtnClick();
    void CheckBox1Click();
    void SavePathChange();
    void SaveOnBtnClick();

private:
    DownloadList& m_list;
    DownloadFolder& m_folder;
    std::function<void()> m_startDownload;
    QLineEdit* m_savePath;
    QPushButton* m_saveOnBtn;
    QPlainTextEdit* m_memo1;
    QCheckBox* m_checkBox1;
    QPushButton* m_newURLBtn;
    QPushButton* m_bitBtn2;
};

} // namespace torvaline
