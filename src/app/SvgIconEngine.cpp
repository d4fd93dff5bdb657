#include "app/SvgIconEngine.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QStyle>
#include <QStyleOption>
#include <QSvgRenderer>

#include <cmath>

namespace torvaline {

SvgIconEngine::SvgIconEngine(QString off, QString on)
    : m_off(std::move(off))
    , m_on(std::move(on)) {}

const QString& SvgIconEngine::fileFor(QIcon::State state) const {
    return state == QIcon::On && !m_on.isEmpty() ? m_on : m_off;
}

void SvgIconEngine::paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
                          QIcon::State state) {
    const qreal scale = painter->device() != nullptr ? painter->device()->devicePixelRatioF() : 1;
    painter->drawPixmap(rect, scaledPixmap(rect.size(), mode, state, scale));
}

QPixmap SvgIconEngine::pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) {
    return scaledPixmap(size, mode, state, 1);
}

QPixmap SvgIconEngine::scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                                    qreal scale) {
    const QSize pixels(static_cast<int>(std::lround(size.width() * scale)),
                       static_cast<int>(std::lround(size.height() * scale)));
    if (pixels.isEmpty())
        return {};
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QSvgRenderer renderer(fileFor(state));
    if (renderer.isValid()) {
        QPainter painter(&image);
        // Square pictures, centred in a box of another shape.
        const int side = std::min(pixels.width(), pixels.height());
        renderer.render(&painter, QRectF((pixels.width() - side) / 2.0,
                                         (pixels.height() - side) / 2.0, side, side));
    }
    QPixmap pixmap = QPixmap::fromImage(std::move(image));
    pixmap.setDevicePixelRatio(scale);
    if (mode == QIcon::Disabled) {
        // Greyed as the style greys every other disabled picture.
        QStyleOption option;
        option.palette = QApplication::palette();
        pixmap = QApplication::style()->generatedIconPixmap(QIcon::Disabled, pixmap, &option);
    }
    return pixmap;
}

QIconEngine* SvgIconEngine::clone() const {
    return new SvgIconEngine(m_off, m_on);
}

QString SvgIconEngine::key() const {
    return QStringLiteral("TorvalineSvg");
}

bool SvgIconEngine::isNull() {
    return !QSvgRenderer(m_off).isValid();
}

} // namespace torvaline
