#pragma once
// The set-up windows on Qt: alarms, calibration, GPIO and data ready, register
// information, About.

#include "qt/views.h"

namespace qvin::qt {

class AlarmDialog : public ModalView {
public:
    AlarmDialog(ui::FrmAlarm& model, QWidget* parent);
};

class GpioDialog : public ModalView {
public:
    GpioDialog(ui::frmGpioMisc& model, QWidget* parent);
};

class CalibrationDialog : public ModalView {
public:
    CalibrationDialog(ui::FrmCalReg& model, QWidget* parent);
};

class RegisterDialog : public ModalView {
public:
    RegisterDialog(ui::frmManualReg& model, QWidget* parent);
};

class AboutDialog : public ModalView {
public:
    AboutDialog(ui::frmAbout& model, QWidget* parent);
};

// The program's icon at the given size.
QPixmap ProgramIcon(int size);

}  // namespace qvin::qt
