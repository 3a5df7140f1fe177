// FormWindow: the Qt view of the program's one window.
//
// It draws the window as the user knows it (the caption, the eight controls
// at their places, colours, fonts, access keys, tab order and icon) and
// carries out what the window's logic, Form1 (form/), asks of a view: the
// caption, the buttons' enabling, the boxes' texts and lists, message
// boxes and the notice (a message box that is not modal), Qt's file dialogs
// (dialogs/Module1), event processing and, when the window closes during an
// operation, taking down any box or dialog.  The clicks and the close box
// go to the logic, which may put a close off; the window decides nothing.
#pragma once

#include <QPointer>
#include <QWidget>
#include <array>
#include <memory>

#include "form/Form1.h"
#include "form/form_view.h"
#include "form/window_look.h"

class QComboBox;
class QLabel;
class QMessageBox;
class QPushButton;

namespace vantri {

class FormWindow : public QWidget, public FormView {
    Q_OBJECT

  public:
    explicit FormWindow(QWidget* parent = nullptr);

    // The controls, by their names in form/window_look.h.
    QPushButton* Command4;  // "&Read"
    QPushButton* Command3;  // "&Write"
    QComboBox* mydelay;     // Delay, milliseconds
    QComboBox* mylen;       // Blocksize, bytes
    QComboBox* comport;     // port number, or a device path
    QLabel* Label3;
    QLabel* Label2;
    QLabel* Label1;

    Form1& Logic() { return *form_; }

    VANTRI_FORM_VIEW_CALLS

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    QComboBox* Box(FormSetting setting) const;

    std::array<QWidget*, Controls.size()> controls_{};  // in the order of Controls

    std::unique_ptr<Form1> form_;   // made once the controls exist
    QPointer<QMessageBox> notice_;  // the notice up, null when none
};

}  // namespace vantri
