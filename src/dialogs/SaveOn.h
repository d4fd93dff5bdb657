#pragma once

#include <QDialog>
#include <QString>

#include <string>

class QComboBox;
class QFileSystemModel;
class QModelIndex;
class QPushButton;
class QTreeView;

namespace torvaline {

// "Download Path": a folder chooser over the file system tree.
class TForm4 final : public QDialog {
    Q_OBJECT
public:
    explicit TForm4(QWidget* parent = nullptr);

    // The full path of the selected folder, or empty text when none is selected.
    std::string selectedPath() const;
    // Selects the folder in the tree (and so in the drop-down list); false when it is no folder.
    bool selectPath(const QString& path);

public slots:
    void Button1Click();
    void Button2Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void selectIndex(const QModelIndex& index);
    void showChainOf(const QModelIndex& index);
    void ShellComboBox1Change(int entry);

    QFileSystemModel* m_model;
    QComboBox* m_shellComboBox1;
    QTreeView* m_shellTreeView1;
    QPushButton* m_button1;
    QPushButton* m_button2;
};

} // namespace torvaline
