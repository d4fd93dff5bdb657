#pragma once

#include <QStatusBar>

#include <array>

class QLabel;

namespace torvaline {

class StatusBar;

// StatusBar1: three text panels that follow the core status bar's texts and widths.
class StatusPanels final : public QStatusBar {
    Q_OBJECT

public:
    explicit StatusPanels(StatusBar& panels, QWidget* parent = nullptr);
    ~StatusPanels() override;

    QLabel* panel(int index) const;

private:
    void showPanel(int index);

    StatusBar& m_panels;
    std::array<QLabel*, 3> m_labels{};
};

} // namespace torvaline
