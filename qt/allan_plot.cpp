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

std::string DrawAllanPng(const std::vector<cli::AllanCurve>& curves, const std::string& file) {
    const auto app = OffscreenApplication();
    double tauLo = 1e300, tauHi = 0, yLo = 1e300, yHi = 0;
    for (const cli::AllanCurve& c : curves)
        for (const analysis::AllanPoint& p : c.points) {
            if (!(p.adev > 0) || !std::isfinite(p.hi) || !(p.tau > 0) || !std::isfinite(p.tau)) continue;
            tauLo = std::min(tauLo, p.tau), tauHi = std::max(tauHi, p.tau);
            yLo = std::min(yLo, std::max(p.lo, p.adev / 10)), yHi = std::max(yHi, p.hi);
        }
    if (tauHi == 0) return file + ": nothing to draw (no Allan deviation above zero)";
    // Whole decades around the data.
    // (log10 of the ends, not of the ends scaled: 1.0001 times 1e308 is no number.)
    const int xd0 = static_cast<int>(std::floor(std::log10(tauLo))), xd1 = static_cast<int>(std::ceil(std::log10(tauHi) + 4e-5));
    const int yd0 = static_cast<int>(std::floor(std::log10(yLo))), yd1 = static_cast<int>(std::ceil(std::log10(yHi) + 4e-5));
    const int xdn = std::max(1, xd1 - xd0), ydn = std::max(1, yd1 - yd0);

    QImage image(960, 680, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter g(&image);
    g.setRenderHint(QPainter::Antialiasing);
    const QRectF area(90, 50, 640, 560);
    auto X = [&](double tau) { return area.left() + (std::log10(tau) - xd0) / xdn * area.width(); };
    auto Y = [&](double v) { return area.bottom() - (std::log10(v) - yd0) / ydn * area.height(); };

    // Grid: decades, and their 2 to 9 more faintly.
    for (int d = 0; d <= xdn; ++d)
        for (int k = 1; k <= (d < xdn ? 9 : 1); ++k) {
            const double x = X(k * std::pow(10.0, xd0 + d));
            g.setPen(QPen(k == 1 ? QColor(190, 190, 190) : QColor(232, 232, 232), 1));
            g.drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
            if (k == 1) {
                g.setPen(Qt::black);
                g.drawText(QRectF(x - 40, area.bottom() + 6, 80, 18), Qt::AlignCenter, Power(xd0 + d));
            }
        }
    for (int d = 0; d <= ydn; ++d)
        for (int k = 1; k <= (d < ydn ? 9 : 1); ++k) {
            const double y = Y(k * std::pow(10.0, yd0 + d));
            g.setPen(QPen(k == 1 ? QColor(190, 190, 190) : QColor(232, 232, 232), 1));
            g.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
            if (k == 1) {
                g.setPen(Qt::black);
                g.drawText(QRectF(area.left() - 70, y - 9, 62, 18), Qt::AlignRight | Qt::AlignVCenter, Power(yd0 + d));
            }
        }
    g.setPen(QPen(Qt::black, 1));
    g.drawRect(area);
    QFont title = g.font();
    title.setBold(true);
    title.setPointSizeF(title.pointSizeF() * 1.2);
    g.setFont(title);
    g.drawText(QRectF(area.left(), 12, area.width(), 28), Qt::AlignCenter, "Overlapping Allan deviation, 68 % intervals");
    g.setFont(QFont());
    g.drawText(QRectF(area.left(), area.bottom() + 28, area.width(), 20), Qt::AlignCenter, "averaging time tau (s)");
    g.save();
    g.translate(22, area.center().y());
    g.rotate(-90);
    g.drawText(QRectF(-200, -10, 400, 20), Qt::AlignCenter, "Allan deviation (units of the output)");
    g.restore();

    // Slope guides through the first curve: -1/2 from its first point, +1/2 to its last.
    const auto& first = curves.front().points;
    auto guide = [&](double tau, double v, double slope, const QString& label) {
        const double t0 = std::pow(10.0, xd0), t1 = std::pow(10.0, xd0 + xdn);
        const QPointF a(X(t0), Y(v * std::pow(t0 / tau, slope))), b(X(t1), Y(v * std::pow(t1 / tau, slope)));
        g.setPen(QPen(QColor(120, 120, 120), 1, Qt::DashLine));
        g.setClipRect(area);
        g.drawLine(a, b);
        g.setClipping(false);
        const QPointF at = slope < 0 ? QPointF(X(tau) + 8, Y(v) - 4) : QPointF(X(tau) - 110, Y(v) - 8);
        g.drawText(at, label);
    };
    if (!first.empty()) {
        guide(first.front().tau, first.front().adev, -0.5, "slope -1/2: white noise");
        guide(first.back().tau, first.back().adev, 0.5, "slope +1/2: random walk");
    }

    for (std::size_t i = 0; i < curves.size(); ++i) {
        const QColor colour = kColours[i % 5];
        QPainterPath path;
        bool started = false;
        for (const analysis::AllanPoint& p : curves[i].points) {
            if (!(p.adev > 0) || !std::isfinite(p.hi) || !(p.tau > 0) || !std::isfinite(p.tau)) continue;
            const QPointF at(X(p.tau), Y(p.adev));
            started ? path.lineTo(at) : path.moveTo(at);
            started = true;
            g.setPen(QPen(colour, 1));
            const double lo = Y(std::max(p.lo, std::pow(10.0, yd0))), hi = Y(p.hi);
            g.drawLine(QPointF(at.x(), lo), QPointF(at.x(), hi));
            g.drawLine(QPointF(at.x() - 3, lo), QPointF(at.x() + 3, lo));
            g.drawLine(QPointF(at.x() - 3, hi), QPointF(at.x() + 3, hi));
            g.setBrush(colour);
            g.drawEllipse(at, 3, 3);
            g.setBrush(Qt::NoBrush);
        }
        g.setPen(QPen(colour, 1.5));
        g.drawPath(path);
        // The legend, right of the plot.
        const double ly = area.top() + 10 + 24 * static_cast<double>(i);
        g.drawLine(QPointF(area.right() + 16, ly), QPointF(area.right() + 40, ly));
        g.setPen(Qt::black);
        g.drawText(QPointF(area.right() + 46, ly + 5), QString::fromStdString(curves[i].name));
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
