// Drives the modal boxes and dialogs that code under test opens, in order.
//
// Each expected modal is a step: which kind of widget it must be and what a
// user does with it.  Each step gets a fresh polling timer, started when the
// previous step acts, so a step can answer a box that the previous step's
// action opened.  A modal that is not what the current step expects, or
// comes after the last step, is recorded and dismissed: a test never hangs
// on a box it did not foresee.
#pragma once

#include <QFileDialog>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <ostream>
#include <vector>

class QTimer;

// Readable QStrings in GoogleTest messages.
void PrintTo(const QString& text, std::ostream* out);

namespace vantri::testing {

// What a message box showed.
struct BoxSeen {
    QString text;
    QString title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString detail;  // the smaller, informative text
    bool operator==(const BoxSeen&) const = default;
};
void PrintTo(const BoxSeen& box, std::ostream* out);

class ModalScript : public QObject {
  public:
    ModalScript() { Arm(); }  // polls from the next event processing on

    // A message box: recorded in `seen` (if given), then its button pressed,
    // or for a box that asks (Yes and No), `answer`.
    ModalScript& Box(BoxSeen* seen = nullptr,
                     QMessageBox::StandardButton answer = QMessageBox::NoButton);
    // A file dialog handled by `act` (see Choose and Cancel).
    ModalScript& Dialog(std::function<void(QFileDialog&)> act);

    // Stops polling; returns what went wrong (steps that never came, modals
    // not foreseen), empty when nothing did.
    QString Finish();

    // The user types `name` into the dialog's name box and accepts.
    static void Choose(QFileDialog& dialog, const QString& name);
    static void Cancel(QFileDialog& dialog) { dialog.reject(); }
    // The text in the dialog's name box.
    static QString NameBoxText(QFileDialog& dialog);

  private:
    struct Step {
        const char* kind;  // the class the modal must be
        std::function<void(QWidget*)> act;
    };
    void Arm();
    void Poll();

    std::vector<Step> steps_;
    std::size_t next_ = 0;
    QPointer<QTimer> timer_;
    QPointer<QWidget> acting_;  // the modal a step is acting on
    QStringList unexpected_;
};

}  // namespace vantri::testing
