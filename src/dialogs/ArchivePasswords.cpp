#include "dialogs/ArchivePasswords.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace torvaline {

namespace {

// The order of the choices in the list, as the enum has them.
const char* const AfterExtractTexts[] = {"Move the parts to the trash", "Delete the parts",
                                         "Keep the parts"};

QListWidgetItem* passwordItem(const QString& text) {
    auto* item = new QListWidgetItem(text);
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    return item;
}

} // namespace

ArchivePasswords::ArchivePasswords(const ArchiveChoices& choices, QWidget* parent)
    : QDialog(parent)
    , m_list(new QListWidget(this))
    , m_newPassword(new QLineEdit(this))
    , m_addBtn(new QPushButton(QStringLiteral("Add"), this))
    , m_removeBtn(new QPushButton(QStringLiteral("Remove"), this))
    , m_afterExtract(new QComboBox(this))
    , m_packageFolders(
          new QCheckBox(QStringLiteral("Put each package in a folder of its own"), this)) {
    setObjectName(QStringLiteral("ArchivePasswords"));
    setWindowTitle(QStringLiteral("Archive Passwords"));
    auto* layout = new QVBoxLayout(this);

    auto* listLabel = new QLabel(
        QStringLiteral("Passwords tried in turn on the archives the list brings:"), this);
    layout->addWidget(listLabel);
    m_list->setObjectName(QStringLiteral("PasswordList"));
    for (const std::string& password : choices.passwords)
        m_list->addItem(passwordItem(QString::fromStdString(password)));
    listLabel->setBuddy(m_list);
    layout->addWidget(m_list);

    auto* addRow = new QHBoxLayout;
    m_newPassword->setObjectName(QStringLiteral("NewPassword"));
    m_newPassword->setPlaceholderText(QStringLiteral("New password"));
    m_addBtn->setObjectName(QStringLiteral("AddBtn"));
    m_removeBtn->setObjectName(QStringLiteral("RemoveBtn"));
    m_addBtn->setAutoDefault(false);
    m_removeBtn->setAutoDefault(false);
    addRow->addWidget(m_newPassword, 1);
    addRow->addWidget(m_addBtn);
    addRow->addWidget(m_removeBtn);
    layout->addLayout(addRow);
    connect(m_addBtn, &QPushButton::clicked, this, &ArchivePasswords::AddBtnClick);
    connect(m_newPassword, &QLineEdit::returnPressed, this, &ArchivePasswords::AddBtnClick);
    connect(m_removeBtn, &QPushButton::clicked, this, &ArchivePasswords::RemoveBtnClick);

    auto* afterRow = new QHBoxLayout;
    auto* afterLabel = new QLabel(QStringLiteral("After a good extraction:"), this);
    m_afterExtract->setObjectName(QStringLiteral("AfterExtract"));
    for (const char* text : AfterExtractTexts)
        m_afterExtract->addItem(QString::fromLatin1(text));
    m_afterExtract->setCurrentIndex(static_cast<int>(choices.afterExtract));
    afterLabel->setBuddy(m_afterExtract);
    afterRow->addWidget(afterLabel);
    afterRow->addWidget(m_afterExtract, 1);
    layout->addLayout(afterRow);

    m_packageFolders->setObjectName(QStringLiteral("PackageFolders"));
    m_packageFolders->setChecked(choices.packageFolders);
    layout->addWidget(m_packageFolders);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("Buttons"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

void ArchivePasswords::AddBtnClick() {
    // One a line in the stored file: a line break cannot be part of one.
    QString text = m_newPassword->text();
    text.remove(QLatin1Char('\r')).remove(QLatin1Char('\n'));
    if (text.isEmpty())
        return;
    if (m_list->findItems(text, Qt::MatchExactly).isEmpty())
        m_list->addItem(passwordItem(text));
    m_newPassword->clear();
}

void ArchivePasswords::RemoveBtnClick() {
    delete m_list->currentItem();
}

ArchiveChoices ArchivePasswords::choices() const {
    ArchiveChoices choices;
    for (int i = 0; i < m_list->count(); ++i) {
        QString text = m_list->item(i)->text();
        text.remove(QLatin1Char('\r')).remove(QLatin1Char('\n'));
        if (!text.isEmpty())
            choices.passwords.push_back(text.toStdString());
    }
    choices.afterExtract =
        static_cast<ArchiveChoices::AfterExtract>(std::max(0, m_afterExtract->currentIndex()));
    choices.packageFolders = m_packageFolders->isChecked();
    return choices;
}

} // namespace torvaline
