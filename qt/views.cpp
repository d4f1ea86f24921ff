#include "qt/views.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMenuBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QCheckBox>
#include <QRadioButton>

#include "qt/live_label.h"
#include "qt/bindings.h"
#include "qt/paint_pacer.h"
#include "qt/view_parts.h"

namespace qvin::qt {

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

MainWindowView::MainWindowView(ui::frmQvin27319& m, QWidget* parent) : QMainWindow(parent), model_(m) {
    setWindowTitle(Q(m.caption()));
    pacer_ = new PaintPacer(this);
    auto* central = new QWidget(this);
    setCentralWidget(central);

    // Menus.
    QMenu* iface = menuBar()->addMenu(Q(m.mnuInterface.caption()));
    iface->menuAction()->setObjectName("mnuInterface");
    auto addAction = [this](QMenu* menu, ui::MenuItem& item, bool checkable) {
        QAction* a = menu ? menu->addAction(QString()) : menuBar()->addAction(QString());
        Bind(item, a, checkable);
        return a;
    };
    addAction(iface, m.mnuPort, true);
    addAction(iface, m.mnuUSB, true);
    addAction(iface, m.mnuSpi, true);
    QMenu* view = menuBar()->addMenu(Q(m.mnuView.caption()));
    view->menuAction()->setObjectName("mnuView");
    addAction(view, m.mnuStripChart, false);
    QMenu* debug = menuBar()->addMenu(Q(m.mnuDebug.caption()));
    debug->menuAction()->setObjectName("mnuDebug");
    addAction(debug, m.mnuRecord, false);
    addAction(debug, m.mnuStopRecording, false);
    debug->addSeparator();
    addAction(debug, m.mnuExportVcd, false);
    debug->addSeparator();
    addAction(debug, m.mnuCheckSetup, false);
    for (ui::MenuItem* item : {&m.MnuAlarms, &m.MnuCal, &m.MnuGpioMsc, &m.mnuRegister, &m.MnuAbout, &m.mnuHelp, &m.MnuExit})
        addAction(nullptr, *item, false);
    // The button that shows the menu entries a narrow window cannot fit.
    if (auto* more = menuBar()->findChild<QToolButton*>("qt_menubar_ext_button")) more->setAccessibleName("More menu entries");

    // Output registers with the loop set-up.
    QGroupBox* data = NewFrame(m.frameDataReg, central);
    auto* dataGrid = new QGridLayout(data);
    int row = 0;
    for (const auto& [index, label] : m.lblReadReg.items()) {
        const int reg = index == 1 ? 2 : index + 1;
        QLabel* l = NewLabel(*label, data);
        QLineEdit* t = NewText(m.txtReadReg(reg), data, Q(label->caption()), true);
        // Rewritten every loop pass: repaint the box alone, not the frame behind it (the
        // pixels a rounded corner leaves are the frame's own, which never changes).
        t->setAttribute(Qt::WA_OpaquePaintEvent);
        l->setBuddy(t);
        dataGrid->addWidget(l, row, 0);
        dataGrid->addWidget(t, row, 1);
        ++row;
    }
    dataGrid->addWidget(NewButton(m.cmdReadData, data), row, 0);
    auto* flags = new QHBoxLayout();
    flags->addWidget(NewLabel(m.lblNewData, data));
    flags->addWidget(NewFlag(m.lblNewDataFlag, data, "Data Read"));
    flags->addWidget(NewLabel(m.lblErrorAlarm, data));
    flags->addWidget(NewFlag(m.lblErrorAlarmFlag, data, "Output status"));
    dataGrid->addLayout(flags, row++, 1);

    QGroupBox* loop = NewFrame(m.frameLoopRun, data);
    auto* loopGrid = new QGridLayout(loop);
    loopGrid->addWidget(NewButton(m.CmdRdLoop, loop), 0, 0);
    loopGrid->addWidget(NewButton(m.cmdStop, loop), 0, 1);
    AddLabelled(loopGrid, 1, m.Label23, m.txtLoopDelay, loop, false);
    auto* log = new QCheckBox(loop);
    Bind(m.chkDatalog, log);
    auto* reset = new QCheckBox(loop);
    Bind(m.chkResetBeforeRead, reset);
    loopGrid->addWidget(log, 2, 0, 1, 2);
    loopGrid->addWidget(reset, 3, 0, 1, 2);
    QLabel* fileLabel = NewLabel(m.Label2, loop);
    auto* file = new QHBoxLayout();
    QLineEdit* stem = NewText(m.txtDlogFile, loop, "Data log file name");
    QLineEdit* index = NewText(m.txtFileIndex, loop, "Data log file number");
    index->setMaximumWidth(60);
    fileLabel->setBuddy(stem);
    file->addWidget(stem);
    file->addWidget(index);
    loopGrid->addWidget(fileLabel, 4, 0);
    loopGrid->addLayout(file, 4, 1);
    loopGrid->addWidget(NewLabel(m.Label3, loop), 5, 0);
    auto* count = new LiveLabel(loop, LiveLabel::Backdrop::Copied);
    Bind(m.lblLoopCount, count);
    FixTextSize(count, {"0000000000"});
    loopGrid->addWidget(count, 5, 1);
    loopGrid->setRowStretch(6, 1);
    dataGrid->addWidget(loop, row, 0, 1, 2);
    dataGrid->setRowStretch(row, 1);

    // The dial, the logo and the part-wide buttons.
    auto* middle = new QVBoxLayout();
    dial_ = new PictureView(m.Picture1, central);
    dial_->setAccessibleName("Inclination dial");
    dial_->setAccessibleDescription("The 360 degree inclination as a turning square and needle");
    dial_->setMinimumSize(220, 220);
    dial_->setFocusPolicy(Qt::NoFocus);
    middle->addWidget(dial_, 1);
    auto* logo = new PictureView(m.picLogo, central);
    logo->SetBanner("QVIN27319");
    logo->setAccessibleName("Logo");
    logo->setAccessibleDescription("Ctrl+Shift+digit sets the factory level");
    logo->setMinimumHeight(50);
    logo->setMaximumHeight(70);
    middle->addWidget(logo);
    middle->addWidget(NewButton(m.cmdNewPart, central));
    middle->addWidget(NewButton(m.cmdResetFactory, central));
    middle->addWidget(NewButton(m.cmdUnlock, central));

    // Status register, rotation and self test.
    auto* right = new QVBoxLayout();
    QGroupBox* status = NewFrame(m.FrmStatus, central);
    auto* statusGrid = new QGridLayout(status);
    int srow = 0;
    for (const auto& r : m.statusRows()) {
        statusGrid->addWidget(NewLabel(*r.row, status), srow, 0);
        statusGrid->addWidget(NewFlag(*r.flag, status, Q(r.row->caption())), srow, 1);
        ++srow;
    }
    statusGrid->addWidget(NewButton(m.CmdUpdateStatus, status), srow, 0);
    statusGrid->addWidget(NewButton(m.cmdResetAlarm, status), srow, 1);
    right->addWidget(status);
    auto* toggles = new QHBoxLayout();
    QGroupBox* rotation = NewFrame(m.frameRotation, central);
    (new QVBoxLayout(rotation))->addWidget(NewStateButton(m.cmdRotation, rotation, "Rotation"));
    QGroupBox* selfTest = NewFrame(m.frameSelfTest, central);
    (new QVBoxLayout(selfTest))->addWidget(NewStateButton(m.CmdSelfTest, selfTest, "Self test"));
    toggles->addWidget(rotation);
    toggles->addWidget(selfTest);
    right->addLayout(toggles);
    right->addStretch();

    // Settings along the bottom: sample rate, auxiliary DAC, power-down.
    auto* bottom = new QHBoxLayout();
    QGroupBox* rate = NewFrame(m.frameSampleRate, central);
    auto* rateBox = new QHBoxLayout(rate);
    QGroupBox* smpl = NewFrame(m.frameSmplPrd, rate);
    auto* smplGrid = new QGridLayout(smpl);
    smplGrid->addWidget(NewScroll(m.hscSmplPrd, smpl, "Sample period register (SMPL_PRD)"), 0, 0, 1, 2);
    smplGrid->addWidget(NewText(m.txtSmplPrd, smpl, "SMPL_PRD value", true), 1, 0);
    AddLabelled(smplGrid, 2, m.Label5, m.txtSamplePeriod, smpl, true);
    QGroupBox* avg = NewFrame(m.frameAvgCnt, rate);
    auto* avgGrid = new QGridLayout(avg);
    avgGrid->addWidget(NewScroll(m.hscAvgCnt, avg, "Average count register (AVG_CNT)"), 0, 0, 1, 2);
    avgGrid->addWidget(NewText(m.txtAvgCnt, avg, "AVG_CNT value", true), 1, 0);
    AddLabelled(avgGrid, 2, m.Label19, m.txtRollAvg, avg, true);
    AddLabelled(avgGrid, 3, m.Label6, m.txtAvgUpdateRate, avg, true);
    rateBox->addWidget(smpl);
    rateBox->addWidget(avg);
    bottom->addWidget(rate, 2);

    QGroupBox* dac = NewFrame(m.frameAuxDac, central);
    auto* dacGrid = new QGridLayout(dac);
    dacGrid->addWidget(NewScroll(m.hscAuxDAC, dac, "Auxiliary DAC code"), 0, 0, 1, 2);
    dacGrid->addWidget(NewText(m.txtAuxDacIn, dac, "Auxiliary DAC code value"), 1, 0);
    AddLabelled(dacGrid, 2, m.Label1, m.txtAuxDacOut, dac, false);
    bottom->addWidget(dac, 1);

    QGroupBox* power = NewFrame(m.framePowerdown, central);
    auto* powerGrid = new QGridLayout(power);
    powerGrid->addWidget(NewScroll(m.hscPowerdown, power, "Powerdown time setting"), 0, 0, 1, 2);
    AddLabelled(powerGrid, 1, m.Label21, m.txtPowerDown, power, true);
    powerGrid->addWidget(NewText(m.txtPwrMde, power, "PWR_MDE value", true), 2, 0);
    powerGrid->addWidget(NewButton(m.cmdPowerDown, power), 2, 1);
    bottom->addWidget(power, 1);

    auto* top = new QHBoxLayout();
    top->addWidget(data, 3);
    top->addLayout(middle, 3);
    top->addLayout(right, 3);
    auto* outer = new QVBoxLayout(central);
    outer->addLayout(top, 1);
    outer->addLayout(bottom);
    resize(1180, 720);
}

void MainWindowView::closeEvent(QCloseEvent* e) {
    // The program's own exit: closing the log, stopping the loop, saving the settings.
    if (model_.visible()) {
        e->ignore();
        model_.UserClose();
    } else {
        e->accept();
    }
}

ModalView::ModalView(ui::Window& model, QWidget* parent) : QDialog(parent), model_(model) {
    setWindowTitle(Q(model.caption()));
    setModal(true);
    model.onCaption = [this, &model] { setWindowTitle(Q(model.caption())); };
}

ModalView::~ModalView() { model_.onCaption = nullptr; }

void ModalView::closeEvent(QCloseEvent* e) {
    e->ignore();
    model_.UserClose();
}

PortDialog::PortDialog(ui::frmPort& m, QWidget* parent) : ModalView(m, parent) {
    auto* grid = new QGridLayout(this);
    AddLabelled(grid, 0, m.Label1, m.txtUser, this, false);
    QPushButton* ok = NewButton(m.cmdOK, this);
    ok->setDefault(true);
    grid->addWidget(ok, 1, 0);
    grid->addWidget(NewButton(m.cmdCancel, this), 1, 1);
}

UsbSelectDialog::UsbSelectDialog(ui::frmUSBselect& m, QWidget* parent) : ModalView(m, parent) {
    auto* outer = new QVBoxLayout(this);
    QGroupBox* frame = NewFrame(m.frameBufferSetup, this);
    auto* grid = new QGridLayout(frame);
    grid->addWidget(NewLabel(m.Label3, frame), 0, 0, 1, 2);
    grid->addWidget(NewLabel(m.Label6, frame), 0, 2);
    grid->addWidget(NewLabel(m.Label7, frame), 0, 3);
    for (int b = 0; b <= 4; ++b) {
        auto* option = new QRadioButton(frame);
        Bind(m.optUsbPort(b), option);
        grid->addWidget(option, b + 1, 0);
        if (b == 4) break;
        const QString row = QString("EzUsb%1 ").arg(b);
        QLineEdit* d = NewText(m.txtDescript0(b), frame, row + "descriptor", true);
        d->setMinimumWidth(280);
        grid->addWidget(d, b + 1, 1);
        QLineEdit* rev = NewText(m.txtDriverRev(b), frame, row + "revision", true);
        rev->setMaximumWidth(60);
        grid->addWidget(rev, b + 1, 2);
        QLineEdit* speed = NewText(m.txtSpeed(b), frame, row + "speed", true);
        speed->setMaximumWidth(60);
        grid->addWidget(speed, b + 1, 3);
    }
    outer->addWidget(frame);
    auto* buttons = new QHBoxLayout();
    buttons->addWidget(NewButton(m.cmdFindEzUsb, this));
    buttons->addWidget(NewButton(m.cmdDebugUsb, this));
    QPushButton* ok = NewButton(m.cmdExit, this);
    ok->setDefault(true);
    buttons->addWidget(ok);
    outer->addLayout(buttons);
}

UsbDebugDialog::UsbDebugDialog(ui::frmUSBdebug& m, QWidget* parent) : ModalView(m, parent) {
    auto* outer = new QVBoxLayout(this);
    QGroupBox* boards = NewFrame(m.frameBufferSetup, this);
    auto* grid = new QGridLayout(boards);
    grid->addWidget(NewLabel(m.Label2, boards), 0, 0, 1, 2);
    grid->addWidget(NewLabel(m.Label3, boards), 0, 2);
    grid->addWidget(NewLabel(m.Label4, boards), 0, 3);
    grid->addWidget(NewLabel(m.Label6, boards), 0, 4);
    grid->addWidget(NewLabel(m.Label7, boards), 0, 5);
    for (int b = 0; b <= 4; ++b) {
        auto* option = new QRadioButton(boards);
        Bind(m.optUsbPort(b), option);
        grid->addWidget(option, b + 1, 0);
        if (b == 4) break;
        const QString row = QString("EzUsb%1 ").arg(b);
        QLineEdit* device = NewText(m.txtUsbPort(b), boards, row + "device", true);
        device->setMaximumWidth(90);
        grid->addWidget(device, b + 1, 1);
        QLineEdit* d0 = NewText(m.txtDescript0(b), boards, row + "descriptor 0", true);
        d0->setMinimumWidth(220);
        grid->addWidget(d0, b + 1, 2);
        QLineEdit* d1 = NewText(m.txtDescript1(b), boards, row + "descriptor 1", true);
        d1->setMinimumWidth(220);
        grid->addWidget(d1, b + 1, 3);
        QLineEdit* rev = NewText(m.txtDriverRev(b), boards, row + "revision", true);
        rev->setMaximumWidth(50);
        grid->addWidget(rev, b + 1, 4);
        QLineEdit* speed = NewText(m.txtSpeed(b), boards, row + "speed", true);
        speed->setMaximumWidth(50);
        grid->addWidget(speed, b + 1, 5);
    }
    grid->addWidget(NewButton(m.cmdFindEzUsb, boards), 5, 5);
    outer->addWidget(boards);

    QGroupBox* setup = NewFrame(m.frameSPIsetup, this);
    auto* setupRow = new QHBoxLayout(setup);
    QGroupBox* bits = NewFrame(m.frameSpiStatic, setup);
    auto* bitsGrid = new QGridLayout(bits);
    for (int i = 2; i <= 5; ++i) {
        auto* box = new QCheckBox(bits);
        Bind(m.chkStaticBits(i), box);
        bitsGrid->addWidget(box, 0, i - 2);
    }
    QPushButton* readBits = NewButton(m.cmdReadBits, bits);
    readBits->setAccessibleName("Read static bits");
    bitsGrid->addWidget(readBits, 1, 0, 1, 2);
    bitsGrid->addWidget(NewButton(m.cmdSetSpiBits, bits), 1, 2, 1, 2);
    setupRow->addWidget(bits);
    QGroupBox* chan = NewFrame(m.frameSpiChan, setup);
    auto* chanGrid = new QGridLayout(chan);
    for (int i = 1; i <= 4; ++i) {
        auto* option = new QRadioButton(chan);
        Bind(m.optSpiChan(i), option);
        chanGrid->addWidget(option, 0, i - 1);
    }
    QLabel* delayLabel = NewLabel(m.Label5, chan);
    QLineEdit* delay = NewText(m.txtLoopDelay, chan, Q(m.Label5.caption()));
    delay->setMaximumWidth(60);
    delayLabel->setBuddy(delay);
    chanGrid->addWidget(delayLabel, 1, 0, 1, 2);
    chanGrid->addWidget(delay, 1, 2);
    QPushButton* readDelay = NewButton(m.cmdReadDelay, chan);
    readDelay->setAccessibleName("Read delay");
    chanGrid->addWidget(readDelay, 1, 3);
    QLabel* polarityLabel = NewLabel(m.Label8, chan);
    QPushButton* polarity = NewStateButton(m.cmdPolarity, chan, "Data input polarity");
    polarityLabel->setBuddy(polarity);
    chanGrid->addWidget(polarityLabel, 2, 0, 1, 2);
    chanGrid->addWidget(polarity, 2, 2);
    setupRow->addWidget(chan);
    outer->addWidget(setup);

    QGroupBox* manual = NewFrame(m.frameManual, this);
    auto* words = new QGridLayout(manual);
    QLabel* countLabel = NewLabel(m.lblNumWords, manual);
    QLineEdit* count = NewText(m.txtNumWords, manual, Q(m.lblNumWords.caption()));
    count->setMaximumWidth(50);
    countLabel->setBuddy(count);
    words->addWidget(countLabel, 0, 0);
    words->addWidget(count, 0, 1);
    // Sixteen words a row pair: written above, read back below, eight to a line.
    words->addWidget(NewLabel(m.Label1, manual), 1, 0);
    words->addWidget(NewLabel(m.lblRead, manual), 3, 0);
    for (int i = 1; i <= 16; ++i) {
        const int row = (i - 1) / 8, column = 1 + (i - 1) % 8;
        QLineEdit* w = NewText(m.txtWriteSpi(i), manual, QString("Write word %1").arg(i));
        QLineEdit* r = NewText(m.txtReadSpi(i), manual, QString("Read word %1").arg(i), true);
        for (QLineEdit* e : {w, r}) e->setMaximumWidth(60);
        words->addWidget(w, 1 + row, column);
        words->addWidget(r, 3 + row, column);
    }
    auto* sendRow = new QHBoxLayout();
    sendRow->addWidget(NewButton(m.cmdWriteSpi, manual));
    sendRow->addWidget(NewButton(m.cmdLoop, manual));
    sendRow->addStretch();
    words->addLayout(sendRow, 5, 0, 1, 9);
    outer->addWidget(manual);
    outer->addWidget(NewButton(m.cmdExit, this), 0, Qt::AlignRight);
}

}  // namespace qvin::qt
