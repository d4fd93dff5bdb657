#include "dialogs/SaveOn.h"

#include "dialogs/ReferenceUnits.h"
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTreeView>

namespace torvaline {

TForm4::TForm4(QWidget* parent)
    : QDialog(parent) {
    setObjectName("Form4");
    setWindowTitle("Download Path");
    // Laid out in reference units: the dialog grows with its font.
    const ReferenceUnits u;
    setFixedSize(u.size(439, 325));

    m_model = new QFileSystemModel(this);
    m_model->setFilter(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Drives);
    m_model->setReadOnly(true);
    m_model->setRootPath(QDir::rootPath());

    m_shellComboBox1 = new QComboBox(this);
    m_shellComboBox1->setObjectName("ShellComboBox1");
    m_shellComboBox1->setGeometry(u.rect(19, 16, 401, 25));
    m_shellComboBox1->setMaxVisibleItems(8);

    m_shellTreeView1 = new QTreeView(this);
    m_shellTreeView1->setObjectName("ShellTreeView1");
    m_shellTreeView1->setGeometry(u.rect(19, 56, 401, 161));
    m_shellTreeView1->setModel(m_model);
    m_shellTreeView1->setRootIsDecorated(false);
    m_shellTreeView1->setHeaderHidden(true);
    m_shellTreeView1->setSelectionMode(QAbstractItemView::SingleSelection);
    m_shellTreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (int column = 1; column < m_model->columnCount(); ++column)
        m_shellTreeView1->hideColumn(column);
    m_shellTreeView1->viewport()->installEventFilter(this);

    m_button1 = new QPushButton("OK", this);
    m_button1->setObjectName("Button1");
    m_button1->setGeometry(u.rect(252, 280, 80, 27));
    m_button2 = new QPushButton("Cancel", this);
    m_button2->setObjectName("Button2");
    m_button2->setGeometry(u.rect(340, 280, 80, 27));
    m_button2->setAutoDefault(false);

    connect(m_button1, &QPushButton::clicked, this, &TForm4::Button1Click);
    connect(m_button2, &QPushButton::clicked, this, &TForm4::Button2Click);
    connect(m_shellTreeView1->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { showChainOf(current); });
    connect(m_shellComboBox1, &QComboBox::activated, this, &TForm4::ShellComboBox1Change);

    // Open where the user's own folders are, without choosing one for them.
    const QModelIndex home = m_model->index(QDir::homePath());
    for (QModelIndex i = home; i.isValid(); i = i.parent())
        m_shellTreeView1->expand(i);
    m_shellTreeView1->scrollTo(home, QAbstractItemView::PositionAtTop);
    showChainOf(home);
    m_shellComboBox1->setCurrentIndex(-1);
}

std::string TForm4::selectedPath() const {
    const QModelIndexList rows = m_shellTreeView1->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return {};
    return QDir::toNativeSeparators(m_model->filePath(rows.first())).toUtf8().toStdString();
}

bool TForm4::selectPath(const QString& path) {
    const QFileInfo info(path);
    if (!info.isDir())
        return false;
    const QModelIndex index = m_model->index(info.absoluteFilePath());
    if (!index.isValid())
        return false;
    selectIndex(index);
    return true;
}

void TForm4::Button1Click() {
    accept();
}

void TForm4::Button2Click() {
    reject();
}

bool TForm4::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_shellTreeView1->viewport() && event->type() == QEvent::MouseButtonPress) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::RightButton) {
            const QModelIndex index = m_shellTreeView1->indexAt(mouse->position().toPoint());
            if (index.isValid())
                selectIndex(index);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TForm4::selectIndex(const QModelIndex& index) {
    for (QModelIndex i = index.parent(); i.isValid(); i = i.parent())
        m_shellTreeView1->expand(i);
    m_shellTreeView1->setCurrentIndex(index);
    m_shellTreeView1->scrollTo(index);
}

void TForm4::showChainOf(const QModelIndex& index) {
    QModelIndexList chain;
    for (QModelIndex i = index; i.isValid(); i = i.parent())
        chain.prepend(i);

    const QSignalBlocker blocker(m_shellComboBox1);
    m_shellComboBox1->clear();
    for (int depth = 0; depth < chain.size(); ++depth) {
        const QModelIndex& i = chain[depth];
        const QString name =
            m_model->fileName(i).isEmpty() ? m_model->filePath(i) : m_model->fileName(i);
        m_shellComboBox1->addItem(m_model->fileIcon(i), QString(depth * 2, ' ') + name,
                                  m_model->filePath(i));
    }
    m_shellComboBox1->setCurrentIndex(m_shellComboBox1->count() - 1);
}

void TForm4::ShellComboBox1Change(int entry) {
    if (entry >= 0)
        selectPath(m_shellComboBox1->itemData(entry).toString());
}

} // namespace torvaline
