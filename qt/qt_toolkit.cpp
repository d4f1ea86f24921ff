#include "qt/qt_toolkit.h"

#include "qt/allan_plot.h"

#include <cstdio>

#include "core/file_safety.h"
#include "qt/paint_pacer.h"

#include <algorithm>

#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QBuffer>
#include <QFileDialog>
#include <QSettings>
#include <QFileInfo>
#include <QImageWriter>
#include <QLineEdit>
#include <QInputDialog>
#include <QMainWindow>
#include <QLabel>
#include <QMessageBox>
#include <QStatusBar>
#include <QPainter>
#include <QPrintDialog>
#include <QProgressDialog>
#include <QPushButton>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace qvin::qt {

namespace {
QString Q(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }
QString Title(std::string_view title) { return title.empty() ? QString(ui::kAppTitle) : Q(title); }
// Messages use CR LF inside; a message box wants plain line feeds.
QString Text(std::string_view text) { return Q(text).replace("\r\n", "\n"); }
}  // namespace

QWidget* QtToolkit::View(ui::Window& window) {
    const auto it = views_.find(&window);
    if (it != views_.end()) return it->second;
    QWidget* view = makeView ? makeView(window) : nullptr;
    if (view) views_[&window] = view;
    return view;
}

void QtToolkit::Unload(ui::Window& window) {
    const auto it = views_.find(&window);
    if (it == views_.end()) return;
    // The modal loop has ended, so no event of the view is being handled any more.
    delete it->second;
    views_.erase(it);
    window.onHidden = nullptr;
    window.onCaption = nullptr;
}

void QtToolkit::PaintWindow(QWidget& view, QPainter& painter, const QRect& page) {
    // Texts that wait for the window's next paint are shown in a print too.
    if (PaintPacer* pacer = PaintPacer::Of(&view)) pacer->SyncNow();
    const double scale = std::min(static_cast<double>(page.width()) / view.width(),
                                  static_cast<double>(page.height()) / view.height());
    painter.save();
    painter.translate(page.left() + (page.width() - view.width() * scale) / 2, page.top());
    painter.scale(scale, scale);
    view.render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
    painter.restore();
}

bool QtToolkit::PrintWidget(QWidget& view, QPrinter& printer) {
    QPainter painter;
    if (!painter.begin(&printer)) return false;
    PaintWindow(view, painter, painter.viewport());
    return painter.end();
}

void QtToolkit::PrintWindow(ui::Window& w) {
    QWidget* view = View(w);
    if (!view) return;
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(Q(w.caption()));
    const bool chosen = choosePrinter ? choosePrinter(printer, view) : [&] {
        QPrintDialog dialog(&printer, view);
        dialog.setWindowTitle("Print " + Q(w.caption()));
        return dialog.exec() == QDialog::Accepted;
    }();
    if (!chosen) return;
    if (!PrintWidget(*view, printer)) {
        const QString where = printer.outputFileName().isEmpty() ? printer.printerName() : printer.outputFileName();
        Message("The window could not be printed: " + where.toStdString() + " cannot be opened.", "Print");
    }
}

void QtToolkit::ShowStatus(ui::Window& w, const std::string& text, std::optional<int> forSeconds) {
    if (auto* window = qobject_cast<QMainWindow*>(View(w))) window->statusBar()->showMessage(Q(text), forSeconds ? *forSeconds * 1000 : 0);
}

void QtToolkit::ShowStatusField(ui::Window& w, const std::string& text) {
    auto* window = qobject_cast<QMainWindow*>(View(w));
    if (!window) return;
    auto* field = window->statusBar()->findChild<QLabel*>("statusField");
    if (!field) {
        field = new QLabel(window->statusBar());
        field->setObjectName("statusField");
        field->setAccessibleName("Background task");
        window->statusBar()->addPermanentWidget(field);
    }
    field->setText(Q(text));
    field->setVisible(!text.empty());
}

QWidget* QtToolkit::Parent() {
    QWidget* active = QApplication::activeModalWidget();
    if (active) return active;
    return main_ ? View(*main_) : nullptr;
}

void QtToolkit::Message(std::string_view text, std::string_view title) {
    if (unattended) {
        std::fprintf(stderr, "qvin-eval: %s\n", Text(text).replace("\n", "\n  ").toLocal8Bit().constData());
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, Title(title), Text(text), QMessageBox::Ok, Parent());
    box.exec();
}

bool QtToolkit::Question(std::string_view text, std::string_view title) {
    if (unattended) {
        std::fprintf(stderr, "qvin-eval: %s (nobody to answer: No)\n", Text(text).replace("\n", " ").toLocal8Bit().constData());
        return false;
    }
    QMessageBox box(QMessageBox::Question, Title(title), Text(text), QMessageBox::Yes | QMessageBox::No, Parent());
    return box.exec() == QMessageBox::Yes;
}

void QtToolkit::SetBusy(bool busy) {
    if (busy) {
        ++busyDepth_;
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else if (busyDepth_ > 0) {
        --busyDepth_;
        QApplication::restoreOverrideCursor();
    }
}

void QtToolkit::DoEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    sinceEvents_.start();
}

void QtToolkit::DoLoopEvents() {
    if (sinceEvents_.isValid() && sinceEvents_.nsecsElapsed() < loopEventsIntervalNs) return;
    DoEvents();
}

void QtToolkit::ShowModal(ui::Window& w) {
    QWidget* view = View(w);
    if (!view) return;
    if (!main_ && !qobject_cast<QDialog*>(view)) main_ = &w;
    w.BeginShow();
    if (main_ && main_ != &w) {
        // Secondary windows open over the main window's top-left corner.
        if (QWidget* mainView = View(*main_)) view->move(mainView->geometry().topLeft());
    }
    if (auto* dialog = qobject_cast<QDialog*>(view)) {
        w.onHidden = [dialog] { dialog->done(0); };
        dialog->show();
        w.ActivateNow();
        if (w.visible()) dialog->exec();
        dialog->hide();
    } else {
        QEventLoop loop;
        w.onHidden = [&loop] { loop.quit(); };
        view->show();
        w.ActivateNow();
        if (w.visible()) loop.exec();
        view->hide();
    }
    w.onHidden = nullptr;
}

void QtToolkit::Show(ui::Window& w) {
    QWidget* view = View(w);
    if (!view) return;
    w.BeginShow();
    w.onHidden = [view] { view->hide(); };
    view->show();
    view->raise();
    view->activateWindow();
    w.ActivateNow();
}

std::optional<std::string> QtToolkit::AskText(ui::Window& w, const std::string& title, const std::string& prompt, const std::string& initial) {
    bool ok = false;
    const QString text = QInputDialog::getText(View(w), QString::fromStdString(title), QString::fromStdString(prompt), QLineEdit::Normal,
                                               QString::fromStdString(initial), &ok);
    if (!ok) return std::nullopt;
    return text.trimmed().toStdString();
}

void QtToolkit::AskFile(ui::Window& w, bool save, const std::string& title, const std::string& filter, const std::string& suggested,
                        std::function<void(const std::string& file)> then) {
    if (chooseFile) return then(chooseFile(save, title));
    // Not exec(): a dialog's own event loop would hold the read loop, which runs inside a
    // button's handler, for as long as the dialog is open.
    // Each kind of file opens where the user last chose one, in this run or an earlier one.
    QSettings kept("qvin27319", "qvin-eval");
    if (!foldersLoaded_) {
        foldersLoaded_ = true;
        kept.beginGroup("folders");
        for (const QString& key : kept.childKeys())
            folders_.folders[key == "any" ? std::string() : QByteArray::fromPercentEncoding(key.toUtf8()).toStdString()] =
                kept.value(key).toString().toStdString();
        kept.endGroup();
    }
    auto* dialog = new QFileDialog(View(w), Q(title), Q(folders_.StartAt(filter, suggested)), Q(filter));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog->setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    QObject::connect(dialog, &QFileDialog::finished, dialog, [this, dialog, filter, then = std::move(then)](int result) {
        const QStringList chosen = dialog->selectedFiles();
        const std::string file = result == QDialog::Accepted && !chosen.isEmpty() ? chosen.front().toStdString() : std::string();
        if (!file.empty()) {
            folders_.Chosen(filter, file);
            QSettings remember("qvin27319", "qvin-eval");
            remember.setValue("folders/" + QString::fromUtf8(QByteArray::fromStdString(filter).toPercentEncoding()), Q(folders_.folders[filter]));
            remember.setValue("folders/any", Q(folders_.folders[""]));
        }
        then(file);
    });
    dialog->open();
}

std::string QtToolkit::SavePlot(ui::Window&, const std::string& file, const analysis::AllanPicture& picture) {
    return DrawAllanPng(picture, file);
}

std::string QtToolkit::SaveImage(ui::Window& w, const std::string& file, const std::string& heading) {
    QWidget* view = View(w);
    if (!view) return "the window is not shown";
    QWidget* chart = view->findChild<QWidget*>("picChart");
    // Encoded in memory, then written beside the file and renamed: a full disk keeps the
    // old picture, and a link of another user's or a pipe is refused.
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (PaintPacer* pacer = PaintPacer::Of(view)) pacer->SyncNow();
    QImage image = (chart ? chart : view)->grab().toImage();
    if (!heading.empty()) {
        // A line above the picture says what it shows and when, so that it stands alone.
        const QFont font = view->font();
        const int line = QFontMetrics(font).height(), pad = line / 2;
        QImage headed(image.width(), image.height() + line + 2 * pad, QImage::Format_ARGB32_Premultiplied);
        headed.setDevicePixelRatio(image.devicePixelRatio());
        headed.fill(view->palette().color(QPalette::Window));
        QPainter painter(&headed);
        painter.setFont(font);
        painter.setPen(view->palette().color(QPalette::WindowText));
        const qreal ratio = image.devicePixelRatio();
        painter.drawText(QRectF(pad, pad, image.width() / ratio - 2 * pad, line), Qt::AlignLeft | Qt::AlignVCenter,
                         QString::fromStdString(heading));
        painter.drawImage(QPointF(0, line + 2 * pad), image);
        painter.end();
        image = headed;
    }
    if (!writer.write(image)) return file + ": " + writer.errorString().toStdString();
    return WriteWholeFile(file, bytes.toStdString());
}

void QtToolkit::PostActivate(ui::Window& w) {
    QTimer::singleShot(0, &posted_, [&w] {
        if (w.visible()) w.ActivateNow();
    });
}

void QtToolkit::OpenHelp(const std::string& path) {
    const QString file = QString::fromStdString(path);
    if (!QFileInfo::exists(file)) {
        Message("The help file " + path + " cannot be found.", "Help");
        return;
    }
    auto* viewer = new QDialog(Parent());
    viewer->setAttribute(Qt::WA_DeleteOnClose);
    viewer->setWindowTitle("QVIN27319 Evaluation Help");
    auto* layout = new QVBoxLayout(viewer);
    auto* browser = new QTextBrowser(viewer);
    browser->setOpenExternalLinks(true);
    browser->setSource(QUrl::fromLocalFile(file), QTextDocument::HtmlResource);
    browser->setAccessibleName("Help text");
    layout->addWidget(browser);
    auto* close = new QPushButton("Close", viewer);
    QObject::connect(close, &QPushButton::clicked, viewer, &QDialog::close);
    layout->addWidget(close);
    viewer->resize(760, 640);
    viewer->show();
}

bool QtToolkit::Progress(ui::Window& w, const std::string& text, int percent) {
    QProgressDialog*& dialog = progress_[&w];
    if (!dialog) {
        // Shown only when the task lasts longer than half a second.
        dialog = new QProgressDialog(Q(text), "Cancel", 0, 100, View(w));
        dialog->setWindowModality(Qt::WindowModal);
        dialog->setMinimumDuration(500);
        dialog->setAutoClose(false);
        dialog->setAutoReset(false);
    }
    dialog->setLabelText(Q(text));
    dialog->setValue(std::clamp(percent, 0, 100));
    QCoreApplication::processEvents();
    return !dialog->wasCanceled();
}

void QtToolkit::EndProgress(ui::Window& w) {
    const auto it = progress_.find(&w);
    if (it == progress_.end()) return;
    delete it->second;
    progress_.erase(it);
}

}  // namespace qvin::qt
