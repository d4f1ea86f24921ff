#include "qt/plot_command.h"
#include "qt/numeric_locale.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <ostream>

#include <QApplication>
#include <QBuffer>
#include <QImageWriter>

#include "cli/plot_args.h"
#include "core/file_safety.h"
#include "device/data_log_reader.h"
#include "qt/chart_panel.h"

namespace qvin::qt {

namespace {

constexpr int kBadInput = 1, kFileError = 3;

}  // namespace

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

int PlotCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::string bad;
    const auto parsed = cli::ParsePlotArgs(args, bad);
    if (!parsed) {
        err << "qvin-cli: " << bad << "\n";
        return kBadInput;
    }
    const std::string& log = parsed->log;
    const std::string& png = parsed->png;
    int width = parsed->width, height = parsed->height;

    // The picture never replaces the log it is drawn from, nor goes where it must not.
    if (const std::string same = SameFileRefusal(png, log); !same.empty()) {
        err << "qvin-cli: " << same << "\n";
        return kBadInput;
    }
    if (const std::string refused = WriteRefusal(png); !refused.empty()) {
        err << "qvin-cli: " << refused << "\n";
        return kFileError;
    }

    // Streamed into the chart's summaries: a log of any size in bounded memory, one pass.
    ui::StripChartData data(std::chrono::minutes(10));
    DataLogParser parser;
    std::size_t passes = 0;
    if (const std::string why = ui::StreamLogInto(data, log, parser, passes); !why.empty()) {
        err << "qvin-cli: " << why << "\n";
        return kFileError;
    }
    const DataLogContents* contents = &parser.contents;
    if (passes == 0) {
        err << "qvin-cli: " << log << " holds no passes";
        if (contents->skipped) err << " (" << contents->skipped << " malformed line" << (contents->skipped == 1 ? "" : "s") << ")";
        err << "\n";
        return kBadInput;
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
        err << "qvin-cli: a " << width << "x" << height << " picture cannot hold the chart; the smallest is "
            << std::max(width, smallest.width()) << "x" << std::max(height, smallest.height()) << "\n";
        return kBadInput;
    }
    ui::frmStripChart::Shown shown;
    shown.data = &data;
    shown.from = *data.oldest();
    shown.to = std::max(*data.newest(), shown.from + std::chrono::seconds(1));
    shown.visible.fill(true);
    shown.log = true;
    const std::string source = DataLogSummary(std::filesystem::path(log).filename().string(), passes, *contents);
    // Twice, with the layout in between: the second draw knows the charts' real widths.
    for (int pass = 0; pass < 2; ++pass) {
        panel.Draw(shown);
        QCoreApplication::processEvents();
    }
    panel.hoverLabel()->setText(QString::fromStdString(source));
    QCoreApplication::processEvents();
    const QImage image = panel.grab().toImage();
    // Written beside the target and renamed over it: a full disk leaves the old picture.
    static const bool noSizeSignal = std::signal(SIGXFSZ, SIG_IGN) != SIG_ERR;
    (void)noSizeSignal;
    // Encoded in memory first: a PNG writer that meets a full disk may not notice (its last
    // flush goes unchecked), and then a cut picture would replace a good one.
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter encoder(&buffer, "png");
    if (!encoder.write(image)) {
        err << "qvin-cli: " << png << ": " << encoder.errorString().toStdString() << "\n";
        return kFileError;
    }
    const std::string failed = WriteWholeFile(png, bytes.toStdString());
    if (!failed.empty()) {
        err << "qvin-cli: " << failed << "\n";
        return kFileError;
    }
    width = image.width();
    height = image.height();
    out << png << ": " << source << ", " << width << "x" << height << "\n";
    return 0;
}

}  // namespace qvin::qt
