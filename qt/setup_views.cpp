#include "qt/setup_views.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPainter>
#include <QPlainTextEdit>
#include <QSvgRenderer>
#include <QVBoxLayout>

#include "qt/view_parts.h"

namespace qvin::qt {

namespace {

// One alarm's frame: source, mode and filter, then the threshold and sample period frames.
struct AlarmWidgets {
    ui::Frame& outer;
    ui::Label &source, &mode, &data;
    ui::ComboBox& list;
    ui::Button &modeButton, &dataButton;
    ui::Frame& mag;
    ui::Label& threshold;
    ui::ScrollBar& thresh;
    ui::TextBox& code;
    ui::Button& compare;
    ui::TextBox& value;
    ui::Label &units, &tempNote;
    ui::Frame& smpl;
    ui::Label& samplePeriod;
    ui::ScrollBar& sp;
    ui::TextBox& spText;
};

QGroupBox* AlarmFrame(const AlarmWidgets& a, const QString& alarm, QWidget* parent) {
    QGroupBox* outer = NewFrame(a.outer, parent);
    auto* grid = new QGridLayout(outer);
    QLabel* source = NewLabel(a.source, outer);
    QComboBox* list = NewCombo(a.list, outer, alarm + " source");
    source->setBuddy(list);
    grid->addWidget(source, 0, 0);
    grid->addWidget(list, 0, 1);
    grid->addWidget(NewLabel(a.mode, outer), 1, 0);
    grid->addWidget(NewStateButton(a.modeButton, outer, alarm + " mode"), 1, 1);
    grid->addWidget(NewLabel(a.data, outer), 2, 0);
    grid->addWidget(NewStateButton(a.dataButton, outer, alarm + " data"), 2, 1);

    QGroupBox* mag = NewFrame(a.mag, outer);
    auto* magGrid = new QGridLayout(mag);
    QLabel* threshold = NewLabel(a.threshold, mag);
    QLineEdit* code = NewText(a.code, mag, alarm + " threshold code", true);
    threshold->setBuddy(code);
    magGrid->addWidget(threshold, 0, 0);
    magGrid->addWidget(code, 0, 1, 1, 2);
    magGrid->addWidget(NewScroll(a.thresh, mag, alarm + " threshold code bar"), 1, 0, 1, 3);
    QPushButton* compare = NewStateButton(a.compare, mag, alarm + " comparison");
    compare->setMaximumWidth(40);
    magGrid->addWidget(compare, 2, 0);
    magGrid->addWidget(NewText(a.value, mag, alarm + " threshold (Enter to set)"), 2, 1);
    QLabel* units = NewLabel(a.units, mag);
    units->setMinimumWidth(units->fontMetrics().horizontalAdvance("DegC") + 4);  // no jump when a source is chosen
    magGrid->addWidget(units, 2, 2);
    QLabel* note = NewLabel(a.tempNote, mag);
    note->setWordWrap(true);
    magGrid->addWidget(note, 3, 0, 1, 3);
    grid->addWidget(mag, 3, 0, 1, 2);

    QGroupBox* smpl = NewFrame(a.smpl, outer);
    auto* smplGrid = new QGridLayout(smpl);
    QLabel* period = NewLabel(a.samplePeriod, smpl);
    QLineEdit* spText = NewText(a.spText, smpl, alarm + " sample period", true);
    period->setBuddy(spText);
    smplGrid->addWidget(period, 0, 0);
    smplGrid->addWidget(spText, 0, 1);
    smplGrid->addWidget(NewScroll(a.sp, smpl, alarm + " sample period bar"), 1, 0, 1, 2);
    grid->addWidget(smpl, 4, 0, 1, 2);
    grid->setRowStretch(5, 1);
    return outer;
}

// A label above the button it names, as the output frames stack them.
void AddStacked(QVBoxLayout* box, ui::Label& label, ui::Button& button, QWidget* parent, const QString& what) {
    QLabel* l = NewLabel(label, parent);
    QPushButton* b = NewStateButton(button, parent, what);
    l->setBuddy(b);
    box->addWidget(l);
    box->addWidget(b);
}

}  // namespace

AlarmDialog::AlarmDialog(ui::FrmAlarm& m, QWidget* parent) : ModalView(m, parent) {
    auto* row = new QHBoxLayout(this);
    row->addWidget(AlarmFrame({m.FrmAlmCtrl1, m.Label1, m.Label2, m.Label12, m.cmboA1S, m.cmdAlarm1mode, m.cmdDataA1,
                               m.frameAlm1mag, m.Label3, m.hscAlarm1thresh, m.txtAlarmThreshold1, m.cmdAlarm1GT,
                               m.txtAlarm1Thresh, m.LblAlm1Mag, m.lblTempNote1, m.frameAlm1smpl, m.Label4, m.hscAlarm1sp,
                               m.txtAlarm1sp},
                              "Alarm 1", this));
    row->addWidget(AlarmFrame({m.FrmAlmCtrl2, m.Label9, m.Label10, m.Label13, m.cmboA2S, m.cmdAlarm2mode, m.cmdDataA2,
                               m.frameAlm2mag, m.Label8, m.hscAlarm2thresh, m.txtAlarmThreshold2, m.cmdAlarm2GT,
                               m.txtAlarm2Thresh, m.LblAlm2Mag, m.lblTempNote2, m.frameAlm2Smpl, m.Label11, m.hscAlarm2sp,
                               m.txtAlarm2sp},
                              "Alarm 2", this));
    auto* right = new QVBoxLayout();
    QGroupBox* out = NewFrame(m.FrmAlmOutCtrl, this);
    auto* outBox = new QVBoxLayout(out);
    AddStacked(outBox, m.Label5, m.cmdAlarmOut, out, "Alarm output");
    AddStacked(outBox, m.Label6, m.cmdAlarmPolarity, out, "Alarm output polarity");
    AddStacked(outBox, m.Label7, m.cmdAlarmPin, out, "Alarm output pin");
    outBox->addStretch();
    right->addWidget(out, 1);
    right->addWidget(NewButton(m.ComOK, this));
    row->addLayout(right);
}

GpioDialog::GpioDialog(ui::frmGpioMisc& m, QWidget* parent) : ModalView(m, parent) {
    auto* outer = new QVBoxLayout(this);
    QGroupBox* gpio = NewFrame(m.frameGpio, this);
    auto* grid = new QGridLayout(gpio);
    QLabel* dio1 = NewLabel(m.Label1, gpio);
    QLabel* dio0 = NewLabel(m.Label4, gpio);
    dio1->setAlignment(Qt::AlignCenter);
    dio0->setAlignment(Qt::AlignCenter);
    grid->addWidget(dio1, 0, 1);
    grid->addWidget(dio0, 0, 2);
    grid->addWidget(NewLabel(m.Label2, gpio), 1, 0);
    grid->addWidget(NewStateButton(m.CmdDir1, gpio, "DIO1 direction"), 1, 1);
    grid->addWidget(NewStateButton(m.CmdDir0, gpio, "DIO0 direction"), 1, 2);
    grid->addWidget(NewLabel(m.Label3, gpio), 2, 0);
    grid->addWidget(NewStateButton(m.CmdDat1, gpio, "DIO1 output level"), 2, 1);
    grid->addWidget(NewStateButton(m.CmdDat0, gpio, "DIO0 output level"), 2, 2);
    outer->addWidget(gpio);

    QGroupBox* misc = NewFrame(m.frameMiscCtrl, this);
    auto* miscGrid = new QGridLayout(misc);
    const struct {
        ui::Label& label;
        ui::Button& button;
        const char* what;
    } rows[] = {{m.Label5, m.CmdDatRdy, "Data ready output"},
                {m.Label6, m.CmdCtrlPlry, "Data ready polarity"},
                {m.Label7, m.CmdCtrlLn, "Data ready line"}};
    int r = 0;
    for (const auto& row : rows) {
        QLabel* l = NewLabel(row.label, misc);
        QPushButton* b = NewStateButton(row.button, misc, row.what);
        l->setBuddy(b);
        miscGrid->addWidget(l, r, 0);
        miscGrid->addWidget(b, r++, 1);
    }
    outer->addWidget(misc);
    outer->addWidget(NewButton(m.cmdOK, this));
}

CalibrationDialog::CalibrationDialog(ui::FrmCalReg& m, QWidget* parent) : ModalView(m, parent) {
    auto* outer = new QVBoxLayout(this);
    QGroupBox* frame = NewFrame(m.frameCalReg, this);
    auto* row = new QHBoxLayout(frame);
    QLabel* name = NewLabel(m.lblReadReg(1), frame);
    QLineEdit* value = NewText(m.txtCalReg(8), frame, "INCL_NULL");
    name->setBuddy(value);
    row->addWidget(name);
    row->addWidget(value);
    row->addWidget(NewButton(m.cmdReadCal, frame));
    outer->addWidget(frame);
    outer->addWidget(NewButton(m.CmdNull, this));
    outer->addWidget(NewButton(m.CmdRst, this));
    auto* bottom = new QHBoxLayout();
    bottom->addWidget(NewButton(m.cmdOK, this));
    bottom->addWidget(NewButton(m.CmdApply, this));
    outer->addLayout(bottom);
}

RegisterDialog::RegisterDialog(ui::frmManualReg& m, QWidget* parent) : ModalView(m, parent) {
    auto* outer = new QVBoxLayout(this);
    QGroupBox* user = NewFrame(m.frameUserReg, this);
    auto* userBox = new QVBoxLayout(user);
    auto* table = new QPlainTextEdit(user);
    table->setAccessibleName("User register table");
    table->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    table->setTabStopDistance(table->fontMetrics().horizontalAdvance(QLatin1Char(' ')) * 8);
    table->setLineWrapMode(QPlainTextEdit::NoWrap);
    // Wide enough for the whole table: its rule line is the longest, 49 columns.
    table->setMinimumSize(table->fontMetrics().horizontalAdvance(QString(52, QLatin1Char('0'))), 240);
    Bind(m.txtUserReg, table);
    auto* userButtons = new QHBoxLayout();
    userButtons->addWidget(NewButton(m.cmdReadUserReg, user));
    userButtons->addWidget(NewButton(m.cmdPrint, user));
    userButtons->addWidget(NewButton(m.cmdUnlock, user));
    userBox->addWidget(table, 1);
    userBox->addLayout(userButtons);

    QGroupBox* any = NewFrame(m.frameRegister, this);
    auto* grid = new QGridLayout(any);
    grid->addWidget(NewCombo(m.cmboRegister, any, "Register"), 0, 0, 1, 2);
    AddLabelled(grid, 1, m.lblRegAddr, m.txtRegAddr, any, true);
    AddLabelled(grid, 2, m.lblRegByte, m.txtRegByte, any, true);
    AddLabelled(grid, 3, m.lblRegRead, m.txtRegRead, any, true);
    AddLabelled(grid, 4, m.lblRegWrite, m.txtRegWrite, any, true);
    grid->addWidget(NewButton(m.cmdRead, any), 5, 0);
    grid->addWidget(NewText(m.txtRead, any, "Value read (hex)", true), 5, 1);
    grid->addWidget(NewButton(m.cmdWrite, any), 6, 0);
    grid->addWidget(NewText(m.txtDataWrite, any, "Value to write (hex)"), 6, 1);
    grid->setRowStretch(7, 1);

    auto* areas = new QHBoxLayout();
    areas->addWidget(user, 3);
    areas->addWidget(any, 2);
    outer->addLayout(areas, 1);
    auto* bottom = new QHBoxLayout();
    bottom->addWidget(NewButton(m.cmdUpdateFlash, this));
    bottom->addStretch();
    bottom->addWidget(NewButton(m.cmdOK, this));
    outer->addLayout(bottom);
}

QPixmap ProgramIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QSvgRenderer svg(QStringLiteral(":/qvin27319.svg"));
    QPainter painter(&pixmap);
    svg.render(&painter);
    return pixmap;
}

AboutDialog::AboutDialog(ui::frmAbout& m, QWidget* parent) : ModalView(m, parent) {
    auto* outer = new QVBoxLayout(this);
    auto* head = new QHBoxLayout();
    auto* icon = new QLabel(this);
    icon->setPixmap(ProgramIcon(64));
    icon->setAccessibleName("Program icon");
    icon->setObjectName(QString::fromStdString(m.picIcon.name()));
    head->addWidget(icon);
    QLabel* title = NewLabel(m.lblTitle, this);
    QFont big = title->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.3);
    title->setFont(big);
    head->addWidget(title, 1);
    outer->addLayout(head);

    auto* facts = new QGridLayout();
    const std::pair<ui::Label*, ui::Label*> rows[] = {{&m.Label0, &m.lblVersion},
                                                      {&m.Label5, &m.lblProductType},
                                                      {&m.Label1, &m.LblDutRev},
                                                      {&m.Label2, &m.LblDutDate},
                                                      {&m.Label4, &m.LblFlashWrites}};
    int r = 0;
    for (const auto& [name, value] : rows) {
        QLabel* v = NewLabel(*value, this);
        v->setTextInteractionFlags(Qt::TextSelectableByMouse);
        facts->addWidget(NewLabel(*name, this), r, 0);
        facts->addWidget(v, r++, 1);
    }
    facts->setColumnStretch(1, 1);
    outer->addLayout(facts);
    QLabel* disclaimer = NewLabel(m.lblDisclaimer, this);
    disclaimer->setWordWrap(true);
    outer->addWidget(disclaimer);
    QPushButton* ok = NewButton(m.cmdOK, this);
    ok->setDefault(true);
    outer->addWidget(ok, 0, Qt::AlignRight);
    setMinimumWidth(420);
}

}  // namespace qvin::qt
