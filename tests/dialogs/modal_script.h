// Drives the modal boxes and dialogs that code under test opens, in order.
//
// Each expected modal is a step: which kind of widget it must be, and what
// a user does with it (read it, type a name, press a button).  Each step
// gets a fresh polling timer, started when the previous step acted, so a
// step can answer a box that the previous step's action opened.  A modal
// that is not what the current step expects is recorded as unexpected and
// dismissed, and so is any modal after the last step: a test never hangs on
// a box it did not foresee.
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <ostream>
#include <vector>

class QFileDialog;
class QTimer;

// Readable QStrings in GoogleTest messages.
void PrintTo(const QString& text, std::ostream* out);

namespace vantri::testing {

// What a message box showed.
struct BoxSeen {
    QString text;
    QString title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

class ModalScript : public QObject {
  public:
    ModalScript();
    ~ModalScript() override;

    // A message box: record it in `seen` (if given), then press its button.
    ModalScript& Box(BoxSeen* seen = nullptr);
    // A message box handled by `act` (which must dismiss it).
    ModalScript& Box(std::function<void(QMessageBox&)> act);
    // A file dialog handled by `act` (see Choose and Cancel).
    ModalScript& Dialog(std::function<void(QFileDialog&)> act);

    // Starts polling for the first step.
    void Start();
    // Stops polling: later modals are left to a script of their own.
    void Stop();

    bool Finished() const { return next_ >= steps_.size(); }
    std::size_t StepsDone() const { return next_; }
    const QStringList& Unexpected() const { return unexpected_; }

    // The user types `name` into the dialog's name box and accepts.
    static void Choose(QFileDialog& dialog, const QString& name);
    // The user cancels the dialog.
    static void Cancel(QFileDialog& dialog);
    // The text in the dialog's name box.
    static QString NameBoxText(QFileDialog& dialog);

  private:
    struct Step {
        std::function<bool(QWidget*)> matches;
        std::function<void(QWidget*)> act;
    };
    void Arm();
    void Poll();
    static QString Describe(QWidget* modal);

    std::vector<Step> steps_;
    std::size_t next_ = 0;
    QPointer<QTimer> timer_;
    QPointer<QWidget> acting_;  // the modal a step is acting on
    QStringList unexpected_;
};

}  // namespace vantri::testing
