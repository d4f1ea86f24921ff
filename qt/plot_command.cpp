#include "qt/plot_command.h"
#include "qt/numeric_locale.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include <QApplication>
#include <QBuffer>
#include <QDateTime>
#include <QImageWriter>

#include "core/file_safety.h"
#include "device/data_log_reader.h"
#include "qt/chart_panel.h"

namespace qvin::qt {

std::unique_ptr<QApplication> OffscreenApplication() {
    // No display needed, nor wanted: the picture is the same on a server. What the
    // offscreen platform says about itself is of no use to the user of a command.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtCriticalMsg || type == QtFatalMsg) fprintf(stderr, "qvin-cli: %s\n", qPrintable(message));
    });
    if (QApplication::instance()) return nullptr;
    static int argc = 1;
    static char name[] = "qvin-cli";
    static char* argv[] = {name, nullptr};
    auto app = std::make_unique<QApplication>(argc, argv);
    KeepNumbersWithAPoint();
    return app;
}

std::string PlotHeading(const std::string& source, std::chrono::system_clock::time_point first, std::chrono::system_clock::time_point last) {
    const auto local = [](std::chrono::system_clock::time_point t) {
        return QDateTime::fromMSecsSinceEpoch(std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count());
    };
    const QDateTime from = local(first), to = local(last);
    return QString("QVIN27319 data log %1, %2 to %3")
        .arg(QString::fromStdString(source), from.toString("yyyy-MM-dd hh:mm:ss"), to.toString(to.date() == from.date() ? "hh:mm:ss" : "yyyy-MM-dd hh:mm:ss"))
        .toStdString();
}

Outcome DrawPlotPng(const std::string& log, const std::string& png, int width, int height) {
    // The picture never replaces the log it is drawn from, nor goes where it must not.
    if (const std::string same = SameFileRefusal(png, log); !same.empty()) {
        return {kBadInput, same};
    }
    if (const std::string refused = WriteRefusal(png); !refused.empty()) {
        return {kFileError, refused};
    }

    // Streamed into the chart's summaries: a log of any size in bounded memory, one pass.
    ui::StripChartData data(std::chrono::minutes(10));
    DataLogParser parser;
    std::size_t passes = 0;
    if (const std::string why = ui::StreamLogInto(data, log, parser, passes); !why.empty()) {
        return {kFileError, why};
    }
    const DataLogContents* contents = &parser.contents;
    if (passes == 0) {
        std::string why = log + " holds no passes";
        if (contents->skipped) why += " (" + std::to_string(contents->skipped) + " malformed line" + (contents->skipped == 1 ? "" : "s") + ")";
        return {kBadInput, why};
    }

    const auto app = OffscreenApplication();
    ChartPanel panel;
    panel.setAttribute(Qt::WA_DontShowOnScreen);
    panel.setAutoFillBackground(true);
    panel.resize(width, height);
    panel.show();
    // The charts, their axes and the legend need some room; a smaller picture would come
    // out larger than asked.
    const QSize smallest = panel.minimumSizeHint().expandedTo(panel.minimumSize());
    if (width < smallest.width() || height < smallest.height()) {
        return {kBadInput, "a " + std::to_string(width) + "x" + std::to_string(height) + " picture cannot hold the chart; the smallest is " +
                               std::to_string(std::max(width, smallest.width())) + "x" + std::to_string(std::max(height, smallest.height()))};
    }
    ui::frmStripChart::Shown shown;
    shown.data = &data;
    shown.from = *data.oldest();
    shown.to = std::max(*data.newest(), shown.from + std::chrono::seconds(1));
    shown.visible.fill(true);
    shown.log = true;
    const std::string source = DataLogSummary(std::filesystem::path(log).filename().string(), passes, *contents);
    panel.SetHeading(QString::fromStdString(PlotHeading(source, *data.oldest(), *data.newest())));
    // Twice, with the layout in between: the second draw knows the charts' real widths.
    for (int pass = 0; pass < 2; ++pass) {
        panel.Draw(shown);
        QCoreApplication::processEvents();
    }
    QCoreApplication::processEvents();
    const QImage image = panel.grab().toImage();
    // Past the file-size limit a write fails with EFBIG and is said, instead of a signal
    // ending the program with the temporary file left behind.
    static const bool noSizeSignal = std::signal(SIGXFSZ, SIG_IGN) != SIG_ERR;
    (void)noSizeSignal;
    // Encoded in memory first: a PNG writer that meets a full disk may not notice (its last
    // flush goes unchecked), and then a cut picture would replace a good one.
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter encoder(&buffer, "png");
    if (!encoder.write(image)) {
        return {kFileError, png + ": " + encoder.errorString().toStdString()};
    }
    // Written beside the target and renamed over it: a full disk leaves the old picture.
    const std::string failed = WriteWholeFile(png, bytes.toStdString());
    if (!failed.empty()) {
        return {kFileError, failed};
    }
    return {kOk, png + ": " + source + ", " + std::to_string(image.width()) + "x" + std::to_string(image.height())};
}

}  // namespace qvin::qt
