#pragma once
// The Qt windows: each lays out the widgets for one neutral window and binds them.

#include <QDialog>
#include <QMainWindow>

#include "qt/paint_pacer.h"
#include "qt/picture_view.h"
#include "ui/app.h"

namespace qvin::qt {

class MainWindowView : public QMainWindow {
public:
    MainWindowView(ui::frmQvin27319& model, QWidget* parent = nullptr);
    PictureView* dial() const { return dial_; }
    PaintPacer* pacer() const { return pacer_; }

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    ui::frmQvin27319& model_;
    PictureView* dial_ = nullptr;
    PaintPacer* pacer_ = nullptr;
};

// A dialog whose close box and Escape go to the window's own close handling.
class ModalView : public QDialog {
public:
    ModalView(ui::Window& model, QWidget* parent);
    ~ModalView() override;
    void reject() override { model_.UserClose(); }

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    ui::Window& model_;
};

class PortDialog : public ModalView {
public:
    PortDialog(ui::frmPort& model, QWidget* parent);
};

class UsbSelectDialog : public ModalView {
public:
    UsbSelectDialog(ui::frmUSBselect& model, QWidget* parent);
};

class UsbDebugDialog : public ModalView {
public:
    UsbDebugDialog(ui::frmUSBdebug& model, QWidget* parent);
};

}  // namespace qvin::qt
