#include "qt/allan_plot.h"

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "core/file_safety.h"
#include "qt/plot_command.h"

namespace qvin::qt {

namespace {

const QColor kColours[] = {QColor(0x1f, 0x77, 0xb4), QColor(0xd6, 0x27, 0x28), QColor(0x2c, 0xa0, 0x2c), QColor(0xff, 0x7f, 0x0e),
                           QColor(0x94, 0x67, 0xbd)};

QString Power(int e) { return QString("1e%1").arg(e); }

}  // namespace

namespace {

bool Drawable(const analysis::AllanPoint& p) { return p.adev > 0 && std::isfinite(p.hi) && p.tau > 0 && std::isfinite(p.tau); }

bool HasModel(const analysis::AllanCurve& c) {
    return c.terms.fitted && std::any_of(std::begin(c.terms.terms), std::end(c.terms.terms), [](const auto& t) { return t.has_value(); });
}

}  // namespace

namespace {

// The plot's area and its logarithmic scales.
struct AllanFrame {
    QRectF area;
    double x0, x1, y0, y1;  // log10 of the ends
    double X(double tau) const { return area.left() + (std::log10(tau) - x0) / (x1 - x0) * area.width(); }
    double Y(double v) const { return area.bottom() - (std::log10(v) - y0) / (y1 - y0) * area.height(); }
};

void PaintTitle(QPainter& g, const QRectF& rect, const QStringList& title) {
    QFont bold = g.font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.2);
    g.setFont(bold);
    g.setPen(Qt::black);
    g.drawText(QRectF(rect.left() + 10, rect.top() + 10, rect.width() - 20, 26), Qt::AlignCenter, title.value(0));
    g.setFont(QFont());
    g.drawText(QRectF(rect.left() + 10, rect.top() + 36, rect.width() - 20, 22), Qt::AlignCenter, title.value(1));
}

// Nothing to draw: said in the area, naming the outputs, so that a panel of its own still
// says whose it is.
void PaintNothing(QPainter& g, const QRectF& area, const std::vector<analysis::AllanCurve>& curves) {
    g.setPen(QColor(90, 90, 90));
    QStringList names;
    for (const analysis::AllanCurve& c : curves) names << QString::fromStdString(c.name);
    const bool none = std::all_of(curves.begin(), curves.end(), [](const analysis::AllanCurve& c) { return c.points.empty(); });
    g.drawText(area, Qt::AlignCenter | Qt::TextWordWrap,
               (names.isEmpty() ? QString() : names.join(", ") + ": ") +
                   (none ? "too few readings for a deviation" : "no deviation above zero to draw (the readings never changed)"));
}

// Grid lines at the decades, and their 2 to 9 more faintly; labels at the decades, and at 2
// and 5 as well where the axis spans less than two decades.
void PaintGrid(QPainter& g, const AllanFrame& f, bool vertical) {
    const double lo = vertical ? f.x0 : f.y0, hi = vertical ? f.x1 : f.y1;
    const QRectF& area = f.area;
    const bool more = hi - lo < 2;
    for (int d = static_cast<int>(std::floor(lo)); d <= static_cast<int>(std::ceil(hi)); ++d)
        for (int k = 1; k <= 9; ++k) {
            const double v = k * std::pow(10.0, d);
            if (std::log10(v) < lo || std::log10(v) > hi) continue;
            g.setPen(QPen(k == 1 ? QColor(200, 200, 200) : QColor(236, 236, 236), 1));
            const QString label = k == 1 ? Power(d) : QString("%1e%2").arg(k).arg(d);
            const bool labelled = k == 1 || (more && (k == 2 || k == 5));
            if (vertical) {
                const double x = f.X(v);
                g.drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
                if (labelled) {
                    g.setPen(Qt::black);
                    g.drawText(QRectF(x - 40, area.bottom() + 6, 80, 18), Qt::AlignCenter, label);
                }
            } else {
                const double y = f.Y(v);
                g.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
                if (labelled) {
                    g.setPen(Qt::black);
                    g.drawText(QRectF(area.left() - 70, y - 9, 62, 18), Qt::AlignRight | Qt::AlignVCenter, label);
                }
            }
        }
}

// The frame and the axes' names: the deviation with the outputs' unit when they share one.
void PaintAxes(QPainter& g, const QRectF& rect, const QRectF& area, const analysis::AllanPicture& picture) {
    g.setPen(QPen(Qt::black, 1));
    g.drawRect(area);
    g.drawText(QRectF(area.left(), area.bottom() + 28, area.width(), 20), Qt::AlignCenter, "averaging time tau (s)");
    std::string unit = picture.curves.front().unit;
    for (const analysis::AllanCurve& c : picture.curves)
        if (c.unit != unit) unit.clear();
    g.save();
    g.translate(rect.left() + 22, area.center().y());
    g.rotate(-90);
    g.drawText(QRectF(-area.height() / 2 - 60, -10, area.height() + 120, 20), Qt::AlignCenter,
               QString::fromStdString(picture.axis + (unit.empty() ? " (each output in its units)" : " (" + unit + ")")));
    g.restore();
}

// Where no model could be fitted, guides of slope -1/2 and +1/2 through the first curve's
// first and last points, named at the plot's lower corners, clear of the curve; where one
// was and no legend says so, a note that the dashes are the model.
void PaintGuides(QPainter& g, const AllanFrame& f, const std::vector<analysis::AllanCurve>& curves, bool legend) {
    const QRectF& area = f.area;
    const bool anyModel = std::any_of(curves.begin(), curves.end(), HasModel);
    const auto& first = curves.front().points;
    if (!anyModel && !first.empty()) {
        auto guide = [&](double tau, double v, double slope) {
            const double t0 = std::pow(10.0, f.x0), t1 = std::pow(10.0, f.x1);
            g.setPen(QPen(QColor(140, 140, 140), 1, Qt::DashLine));
            g.setClipRect(area);
            g.drawLine(QPointF(f.X(t0), f.Y(v * std::pow(t0 / tau, slope))), QPointF(f.X(t1), f.Y(v * std::pow(t1 / tau, slope))));
            g.setClipping(false);
        };
        guide(first.front().tau, first.front().adev, -0.5);
        guide(first.back().tau, first.back().adev, 0.5);
        g.setPen(QColor(110, 110, 110));
        g.drawText(QRectF(area.left() + 8, area.bottom() - 22, area.width() / 2 - 8, 18), Qt::AlignLeft, "dashed: slope -1/2, white noise");
        g.drawText(QRectF(area.center().x(), area.bottom() - 22, area.width() / 2 - 8, 18), Qt::AlignRight, "dashed: slope +1/2, random walk");
    } else if (anyModel && !legend) {
        g.setPen(QColor(110, 110, 110));
        g.drawText(QRectF(area.left() + 8, area.bottom() - 22, area.width() - 16, 18), Qt::AlignLeft, "dashed: the noise model fitted");
    }
}

// One output's curve with its error bars, and its fitted model dashed in the curve's colour
// over the averaging times it was fitted to.
void PaintCurve(QPainter& g, const AllanFrame& f, const analysis::AllanCurve& c, const QColor& colour, double tauLo) {
    QPainterPath path;
    bool started = false;
    for (const analysis::AllanPoint& p : c.points) {
        if (!Drawable(p)) continue;
        const QPointF at(f.X(p.tau), f.Y(p.adev));
        started ? path.lineTo(at) : path.moveTo(at);
        started = true;
        g.setPen(QPen(colour, 1));
        const double lo = f.Y(std::max(p.lo, std::pow(10.0, f.y0))), hi = f.Y(p.hi);
        g.drawLine(QPointF(at.x(), lo), QPointF(at.x(), hi));
        g.drawLine(QPointF(at.x() - 3, lo), QPointF(at.x() + 3, lo));
        g.drawLine(QPointF(at.x() - 3, hi), QPointF(at.x() + 3, hi));
        g.setBrush(colour);
        g.drawEllipse(at, 3, 3);
        g.setBrush(Qt::NoBrush);
    }
    g.setPen(QPen(colour, 1.5));
    g.drawPath(path);
    if (!HasModel(c) || !started) return;
    double from = std::max(c.terms.fromTau, tauLo), to = 0;
    for (const analysis::AllanPoint& p : c.points)
        if (p.adev > 0) to = std::max(to, p.tau);
    QPainterPath fitted;
    for (int k = 0; k <= 120; ++k) {
        const double tau = from * std::pow(to / from, k / 120.0);
        const QPointF at(f.X(tau), f.Y(analysis::ModelAdev(c.terms, tau)));
        k ? fitted.lineTo(at) : fitted.moveTo(at);
    }
    g.setPen(QPen(colour.darker(130), 1.5, Qt::DashLine));
    g.setClipRect(f.area);
    g.drawPath(fitted);
    g.setClipping(false);
}

// Right of the plot at height `ly`: the output's legend line and name, then its noise terms;
// `ly` moves below them.
void PaintLegendEntry(QPainter& g, const QRectF& rect, const QRectF& area, const analysis::AllanCurve& c, const QColor& colour, double& ly) {
    g.setPen(QPen(colour, 1.5));
    g.drawLine(QPointF(area.right() + 16, ly), QPointF(area.right() + 40, ly));
    g.setPen(Qt::black);
    g.drawText(QPointF(area.right() + 46, ly + 5), QString::fromStdString(c.name));
    ly += 20;
    const bool model = HasModel(c);
    QStringList lines;
    if (!c.terms.fitted) {
        lines << (c.terms.points == 0 ? QString("noise terms: no deviation above zero")
                                      : QString("noise terms: too few averaging times (%1)").arg(c.terms.points));
    } else {
        if (model) lines << "dashed: the noise model fitted";
        for (std::size_t k = 0; k < 5; ++k)
            if (const auto& t = c.terms.terms[k])
                lines << QString::fromStdString(std::string(analysis::kTermNames[k]) + " " + analysis::kTermWhat[k] + ": " + analysis::TermText(*t) + " " +
                                                analysis::TermUnit(k, c.unit))
                             .replace("+-", QChar(0x00B1));
        if (!model) lines << "no noise term resolved";
        if (c.terms.fromTau > 0) lines << QString("fitted from tau %1 s (averaged below)").arg(c.terms.fromTau, 0, 'g', 3);
    }
    QFont small = QFont();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    g.setFont(small);
    g.setPen(QColor(60, 60, 60));
    for (const QString& l : lines) {
        g.drawText(QRectF(area.right() + 46, ly - 8, rect.right() - area.right() - 50, 16), Qt::AlignLeft | Qt::AlignVCenter, l);
        ly += 16;
    }
    g.setFont(QFont());
    ly += 14;
}

}  // namespace

void PaintAllan(QPainter& g, const QRectF& rect, const analysis::AllanPicture& picture, bool legend, int colour0) {
    const std::vector<analysis::AllanCurve>& curves = picture.curves;
    double tauLo = 1e300, tauHi = 0, yLo = 1e300, yHi = 0;
    for (const analysis::AllanCurve& c : curves)
        for (const analysis::AllanPoint& p : c.points) {
            if (!Drawable(p)) continue;
            tauLo = std::min(tauLo, p.tau), tauHi = std::max(tauHi, p.tau);
            yLo = std::min(yLo, std::max(p.lo, p.adev / 10)), yHi = std::max(yHi, p.hi);
        }
    g.save();
    g.setRenderHint(QPainter::Antialiasing);
    const QStringList title = picture.title.empty() ? QStringList() : QString::fromStdString(picture.title).split('\n');
    const qreal top = rect.top() + (title.isEmpty() ? 14 : 70);
    const qreal right = legend ? std::min<qreal>(410, rect.width() * 0.36) : 18;
    const QRectF area(rect.left() + 90, top, std::max<qreal>(40, rect.width() - 90 - right), std::max<qreal>(40, rect.bottom() - 52 - top));
    if (!title.isEmpty()) PaintTitle(g, rect, title);
    if (tauHi == 0) {
        PaintNothing(g, area, curves);
        g.restore();
        return;
    }
    // The axes reach a little past the data, not to the next whole decade: an empty decade
    // only squeezes the curve. (log10 of the ends, not of the ends scaled: 1.0001 times 1e308
    // is no number.)
    const AllanFrame f{area, std::log10(tauLo) - 0.12, std::log10(tauHi) + 0.12, std::log10(yLo) - 0.08, std::log10(yHi) + 0.08};
    PaintGrid(g, f, true);
    PaintGrid(g, f, false);
    PaintAxes(g, rect, area, picture);
    PaintGuides(g, f, curves, legend);
    double ly = area.top() + 10;
    for (std::size_t i = 0; i < curves.size(); ++i) {
        const QColor colour = kColours[(static_cast<std::size_t>(colour0) + i) % 5];
        PaintCurve(g, f, curves[i], colour, tauLo);
        if (legend) PaintLegendEntry(g, rect, area, curves[i], colour, ly);
    }
    g.restore();
}

std::string DrawAllanPng(const analysis::AllanPicture& picture, const std::string& file) {
    const auto app = OffscreenApplication();
    bool any = false;
    for (const analysis::AllanCurve& c : picture.curves)
        for (const analysis::AllanPoint& p : c.points) any = any || Drawable(p);
    if (!any) return file + ": nothing to draw (no Allan deviation above zero)";
    // Outputs in different units each get a plot of their own, one under another, the
    // title once above them.
    bool shared = true;
    for (const analysis::AllanCurve& c : picture.curves) shared = shared && c.unit == picture.curves.front().unit;
    std::vector<analysis::AllanPicture> panels;
    if (shared) {
        panels.push_back(picture);
    } else {
        for (const analysis::AllanCurve& c : picture.curves) {
            analysis::AllanPicture one;
            one.axis = picture.axis;
            one.curves.push_back(c);
            panels.push_back(std::move(one));
        }
        panels.front().title = picture.title;
    }
    constexpr int kWidth = 1140, kSingle = 700, kPanel = 440, kTitle = 56;
    const int height = shared ? kSingle : kTitle + kPanel * static_cast<int>(panels.size());
    QImage image(kWidth, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter g(&image);
    if (shared) {
        PaintAllan(g, QRectF(0, 0, kWidth, kSingle), picture, true);
    } else {
        for (std::size_t i = 0; i < panels.size(); ++i) {
            // Each output in its colour of a single plot; the title above the first.
            const qreal y = i == 0 ? 0 : kTitle + kPanel * static_cast<qreal>(i);
            const qreal h = i == 0 ? kTitle + kPanel : kPanel;
            PaintAllan(g, QRectF(0, y, kWidth, h), panels[i], true, static_cast<int>(i));
        }
    }
    g.end();

    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image)) return file + ": " + writer.errorString().toStdString();
    return WriteWholeFile(file, bytes.toStdString());
}

}  // namespace qvin::qt
