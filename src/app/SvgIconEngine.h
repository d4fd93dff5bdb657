#pragma once

#include <QIconEngine>
#include <QString>

namespace torvaline {

// An icon drawn from the program's own SVG files at whatever size and scale it is asked for,
// so that the toolbar looks the same on every desktop, whatever its icon theme. Rendered here
// rather than through Qt's SVG icon plugin, which a machine may lack without anything failing.
class SvgIconEngine final : public QIconEngine {
public:
    // on: the picture of a checked button (an armed switch); empty: the same as off.
    explicit SvgIconEngine(QString off, QString on = {});

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override;
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override;
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override;
    QIconEngine* clone() const override;
    QString key() const override;
    bool isNull() override;

private:
    const QString& fileFor(QIcon::State state) const;

    QString m_off;
    QString m_on;
};

} // namespace torvaline
