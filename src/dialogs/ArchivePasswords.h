#pragma once

#include "archive/ArchiveChoices.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace torvaline {

// Tools > "Archive Passwords": the passwords tried in turn on the archives a list brings, what
// becomes of the parts after a good extraction, and whether each package gets a folder of its
// own. Edits a copy; the caller stores what OK gives back.
class ArchivePasswords final : public QDialog {
    Q_OBJECT
public:
    explicit ArchivePasswords(const ArchiveChoices& choices, QWidget* parent = nullptr);

    ArchiveChoices choices() const;

public slots:
    void AddBtnClick();
    void RemoveBtnClick();

private:
    QListWidget* m_list;
    QLineEdit* m_newPassword;
    QPushButton* m_addBtn;
    QPushButton* m_removeBtn;
    QComboBox* m_afterExtract;
    QCheckBox* m_packageFolders;
};

} // namespace torvaline
