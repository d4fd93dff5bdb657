#pragma once

#include "platform/ShutdownNotice.h"

#include <QPointer>
#include <QWidget>

class QMessageBox;

namespace torvaline {

// The warning before a forced shutdown: a box that stays on top of the main window, shows the
// seconds left and offers Cancel. It does not block: the list's last handlers and the
// countdown timer go on while it shows.
class QtShutdownNotice final : public ShutdownNotice {
public:
    explicit QtShutdownNotice(QWidget* parent = nullptr);
    ~QtShutdownNotice() override;
    // The window the box stays on top of, when it comes after the notice.
    void setParent(QWidget* parent) { m_parent = parent; }

    void show(int secondsLeft, std::function<void()> onCancel) override;
    void close() override;

    // The box while it shows, else null.
    QMessageBox* box() const;

    static QString text(int secondsLeft);

private:
    QPointer<QWidget> m_parent;
    QPointer<QMessageBox> m_box;
    std::function<void()> m_onCancel;
};

} // namespace torvaline
