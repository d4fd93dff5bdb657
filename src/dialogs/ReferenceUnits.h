#pragma once

#include <QFont>
#include <QFontMetricsF>
#include <QPoint>
#include <QRect>
#include <QSize>

class QString;

namespace torvaline {

// The windows' pixel figures were drawn for a small 8-point dialog font at 96 dpi. Taken as
// they stand, the geometry keeps its size while this platform's larger fonts cut every text
// short. So each figure is read as measured in that reference font and converted through the
// ratio of the application font's metrics to the reference's, the way dialog units work:
// widths by the average width of the Latin alphabet, heights by the line height. A window laid
// out this way grows with its font and keeps its proportions, at any font size and any scale.
class ReferenceUnits final {
public:
    // The reference font's base units: the average alphabet width and the line height.
    static constexpr double ReferenceCharWidth = 6.0;
    static constexpr double ReferenceLineHeight = 13.0;

    // Units of the application font.
    ReferenceUnits();
    explicit ReferenceUnits(const QFont& font);

    // The same units with widths stretched to at least xFactor (for a layout whose texts need
    // more room than the font's average suggests).
    ReferenceUnits widenedTo(double xFactor) const;

    double xFactor() const { return m_x; }
    double yFactor() const { return m_y; }

    int x(double reference) const;
    int y(double reference) const;
    QPoint point(double left, double top) const { return {x(left), y(top)}; }
    QSize size(double width, double height) const { return {x(width), y(height)}; }
    QRect rect(double left, double top, double width, double height) const {
        return {point(left, top), size(width, height)};
    }

    // The width the text takes in this font, rounded up.
    int textWidth(const QString& text) const;
    // The same in the bold face of the font (the row being worked on is drawn in it).
    int boldTextWidth(const QString& text) const;
    const QFontMetricsF& metrics() const { return m_metrics; }

private:
    QFontMetricsF m_metrics;
    QFontMetricsF m_boldMetrics;
    double m_x = 1.0;
    double m_y = 1.0;
};

} // namespace torvaline
