#include "dialogs/ReferenceUnits.h"

#include <QApplication>
#include <QString>

#include <algorithm>
#include <cmath>

namespace torvaline {

ReferenceUnits::ReferenceUnits()
    : ReferenceUnits(QApplication::font()) {}

namespace {

QFont boldOf(QFont font) {
    font.setBold(true);
    return font;
}

} // namespace

ReferenceUnits::ReferenceUnits(const QFont& font)
    : m_metrics(font)
    , m_boldMetrics(boldOf(font)) {
    static const QString alphabet =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const double average = m_metrics.horizontalAdvance(alphabet) / alphabet.size();
    if (average > 0)
        m_x = average / ReferenceCharWidth;
    if (m_metrics.height() > 0)
        m_y = m_metrics.height() / ReferenceLineHeight;
}

ReferenceUnits ReferenceUnits::widenedTo(double xFactor) const {
    ReferenceUnits wider = *this;
    wider.m_x = std::max(m_x, xFactor);
    return wider;
}

int ReferenceUnits::x(double reference) const {
    return static_cast<int>(std::lround(reference * m_x));
}

int ReferenceUnits::y(double reference) const {
    return static_cast<int>(std::lround(reference * m_y));
}

int ReferenceUnits::textWidth(const QString& text) const {
    return static_cast<int>(std::ceil(m_metrics.horizontalAdvance(text)));
}

int ReferenceUnits::boldTextWidth(const QString& text) const {
    return static_cast<int>(std::ceil(m_boldMetrics.horizontalAdvance(text)));
}

} // namespace torvaline
