#include "dialogs/DownOpt.h"

#include "dialogs/ReferenceUnits.h"
#include "dialogs/SaveOn.h"
#include "list/LinkLines.h"
#include "list/UrlRanges.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>

namespace torvaline {

TForm2::TForm2(DownloadList& list, DownloadFolder& folder, std::function<void()> startDownload,
               QWidget* parent)
    : QDialog(parent)
    , m_list(list)
    , m_folder(folder)
    , m_startDownload(std::move(startDownload)) {
    setObjectName("Form2");
    setWindowTitle("Download Options");
    // Laid out in reference units: the dialog grows with its font.
    const ReferenceUnits u;
    setFixedSize(u.size(552, 338));

    auto* folderLabel = new QLabel("Save on Folder:", this);
    folderLabel->move(u.point(8, 8));
    folderLabel->adjustSize();
    m_savePath = new QLineEdit(this);
    m_savePath->setObjectName("SavePath");
    m_savePath->setGeometry(u.rect(8, 26, 497, 23));
    folderLabel->setBuddy(m_savePath);

    m_saveOnBtn = new QPushButton("...", this);
    m_saveOnBtn->setObjectName("SaveOnBtn");
    m_saveOnBtn->setGeometry(u.rect(512, 25, 25, 25));
    m_saveOnBtn->setAutoDefault(false);

    auto* memoLabel = new QLabel("Enter new URL(s)", this);
    memoLabel->move(u.point(8, 58));
    memoLabel->adjustSize();
    m_memo1 = new QPlainTextEdit(this);
    m_memo1->setObjectName("Memo1");
    m_memo1->setGeometry(u.rect(8, 76, 529, 169));
    m_memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_memo1->setTabChangesFocus(true);
    memoLabel->setBuddy(m_memo1);

    m_checkBox1 = new QCheckBox("Start Download Now", this);
    m_checkBox1->setObjectName("CheckBox1");
    m_checkBox1->move(u.point(8, 256));
    m_checkBox1->adjustSize();

    m_newURLBtn = new QPushButton("OK", this);
    m_newURLBtn->setObjectName("NewURLBtn");
    m_newURLBtn->setGeometry(u.rect(366, 296, 80, 27));
    m_bitBtn2 = new QPushButton("Cancel", this);
    m_bitBtn2->setObjectName("BitBtn2");
    m_bitBtn2->setGeometry(u.rect(456, 296, 80, 27));
    m_bitBtn2->setAutoDefault(false);

    connect(m_savePath, &QLineEdit::textChanged, this, &TForm2::SavePathChange);
    connect(m_saveOnBtn, &QPushButton::clicked, this, &TForm2::SaveOnBtnClick);
    connect(m_checkBox1, &QCheckBox::clicked, this, &TForm2::CheckBox1Click);
    connect(m_newURLBtn, &QPushButton::clicked, this, &TForm2::NewURLBtnClick);
    connect(m_bitBtn2, &QPushButton::clicked, this, &QDialog::reject);

    m_memo1->setFocus();
}

void TForm2::NewURLBtnClick() {
    Result<RangeExpansion> links =
        ExpandUrlRanges(SplitTypedLinks(m_memo1->toPlainText().toUtf8().toStdString()));
    if (!links) {
        // Nothing is added: the user shortens the range and presses OK again.
        QMessageBox box(QMessageBox::Warning, windowTitle(), QString::fromStdString(links.reason()),
                        QMessageBox::Ok, this);
        box.setObjectName("RangeLimitBox");
        box.setTextFormat(Qt::PlainText);
        box.exec();
        return;
    }
    AppendExpandedLinks(m_list, std::move(links).value());
    if (m_checkBox1->isChecked() && m_startDownload)
        m_startDownload();
    if (m_savePath->text().isEmpty())
        m_folder.setToDefault();
    accept();
}

void TForm2::CheckBox1Click() {
    // Once asked for, the start cannot be taken back in this dialog.
    m_checkBox1->setChecked(true);
}

void TForm2::SavePathChange() {
    // Takes effect at once, also for a transfer that starts while the dialog is still open;
    // Cancel does not undo it.
    m_folder.setText(m_savePath->text().toUtf8().toStdString());
}

void TForm2::SaveOnBtnClick() {
    TForm4 form4(this);
    if (form4.exec() == QDialog::Accepted)
        m_savePath->setText(QString::fromStdString(form4.selectedPath()));
}

} // namespace torvaline
