// Drives the modal boxes and dialogs that code under test opens, in order.
//
// Each expected modal is a step: which kind of widget it must be and what a
// user does with it.  Each step gets a fresh polling timer, started when the
// previous step acts, so a step can answer a box that the previous step's
// action opened.  A modal that is not what the current step expects, or
// comes after the last step, is recorded and dismissed: a test never hangs
// on a box it did not foresee.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaEnum>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <ostream>
#include <vector>

// Readable QStrings in GoogleTest messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace vantri::testing {

class ModalScript : public QObject {
  public:
    ModalScript() { Arm(); }  // polls from the next event processing on

    // What a message box shows: "title: text / informative text (icon)".
    static QString Seen(const QMessageBox& box) {
        return QStringLiteral("%1: %2 / %3 (%4)")
            .arg(box.windowTitle(), box.text(), box.informativeText(),
                 QMetaEnum::fromType<QMessageBox::Icon>().valueToKey(box.icon()));
    }
    // A message box: recorded in `seen`, then its button pressed, or for a
    // box that asks (Yes and No), `answer`.
    ModalScript& Box(QString* seen, QMessageBox::StandardButton answer = QMessageBox::NoButton) {
        steps_.emplace_back("QMessageBox", [seen, answer](QWidget* w) {
            auto* box = static_cast<QMessageBox*>(w);
            *seen = Seen(*box);
            // The only button there is, or `answer`.
            auto* button = box->buttons().size() == 1 ? box->buttons()[0] : box->button(answer);
            button != nullptr ? button->click() : box->reject();
        });
        return *this;
    }
    // A file dialog handled by `act` (see Choose).
    ModalScript& Dialog(std::function<void(QFileDialog&)> act) {
        steps_.emplace_back("QFileDialog", [act = std::move(act)](QWidget* w) {
            act(*static_cast<QFileDialog*>(w));
        });
        return *this;
    }

    // Stops polling; returns what went wrong (steps that never came, modals
    // not foreseen), empty when nothing did.
    QString Finish() {
        delete timer_;
        if (next_ < steps_.size()) {
            unexpected_ << QString("only %1 of %2 modals came").arg(next_).arg(steps_.size());
        }
        return unexpected_.join(QLatin1Char('\n'));
    }

    // The dialog's name box.
    static QLineEdit* NameBox(QFileDialog& dialog) {
        return dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    }
    // The user types `name` into the dialog's name box and accepts.
    static void Choose(QFileDialog& dialog, const QString& name) {
        NameBox(dialog)->setText(name);
        // What its Open or Save button does: the dialog's own accept, checks
        // included (public through QDialog).
        static_cast<QDialog&>(dialog).accept();
    }

  private:
    void Arm() {
        // A fresh timer for every modal; the one of the step before is done.
        if (timer_ != nullptr) {
            timer_->stop();
            timer_->deleteLater();
        }
        timer_ = new QTimer(this);
        connect(timer_, &QTimer::timeout, this, &ModalScript::Poll);
        timer_->start(5);
    }
    void Poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible() || modal == acting_) {
            return;  // a step is still busy with this one
        }
        if (next_ < steps_.size() && modal->inherits(steps_[next_].first)) {
            const auto& act = steps_[next_++].second;
            // The next step listens before this one acts: the action may
            // open the next modal and wait in it.
            Arm();
            const QPointer<QWidget> outer = acting_;
            acting_ = modal;
            act(modal);
            acting_ = outer;
            return;
        }
        auto* box = qobject_cast<QMessageBox*>(modal);
        unexpected_ << "unexpected " + (box != nullptr ? Seen(*box) : modal->windowTitle());
        // A box with no Escape button would refuse a close.
        auto* dialog = qobject_cast<QDialog*>(modal);
        dialog != nullptr ? dialog->reject() : static_cast<void>(modal->close());
    }

    // Each step: the class the modal must be, and what the user does.
    std::vector<std::pair<const char*, std::function<void(QWidget*)>>> steps_;
    std::size_t next_ = 0;
    QPointer<QTimer> timer_;
    QPointer<QWidget> acting_;  // the modal a step is acting on
    QStringList unexpected_;
};

}  // namespace vantri::testing
