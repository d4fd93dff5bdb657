#include "adapters/qt/QtShutdownNotice.h"

#include <QMessageBox>

namespace torvaline {

QtShutdownNotice::QtShutdownNotice(QWidget* parent)
    : m_parent(parent) {}

QtShutdownNotice::~QtShutdownNotice() {
    close();
}

QMessageBox* QtShutdownNotice::box() const {
    return m_box;
}

QString QtShutdownNotice::text(int secondsLeft) {
    return QStringLiteral("The download list is done. The computer will shut down in %1 "
                          "seconds.\n\nPress Cancel to keep it running.")
        .arg(secondsLeft);
}

void QtShutdownNotice::show(int secondsLeft, std::function<void()> onCancel) {
    m_onCancel = std::move(onCancel);
    if (m_box == nullptr) {
        m_box = new QMessageBox(QMessageBox::Warning, QStringLiteral("ShutDown PC"), QString(),
                                QMessageBox::Cancel, m_parent);
        m_box->setObjectName(QStringLiteral("ShutdownNotice"));
        m_box->setAttribute(Qt::WA_DeleteOnClose);
        m_box->setModal(false);
        // Cancel, Escape and the close box all come here; close() detaches first.
        QObject::connect(m_box, &QDialog::finished, m_box, [this] {
            m_box = nullptr;
            if (auto onCancel = std::move(m_onCancel))
                onCancel();
        });
    }
    m_box->setText(text(secondsLeft));
    m_box->show();
    m_box->raise();
}

void QtShutdownNotice::close() {
    m_onCancel = nullptr;
    if (m_box == nullptr)
        return;
    QMessageBox* box = m_box;
    m_box = nullptr;
    QObject::disconnect(box, &QDialog::finished, nullptr, nullptr);
    box->close();
}

} // namespace torvaline
