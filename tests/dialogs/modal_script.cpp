#include "modal_script.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QTimer>

void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace vantri::testing {

void PrintTo(const BoxSeen& box, std::ostream* out) {
    *out << "box \"" << box.title.toStdString() << "\": \"" << box.text.toStdString() << "\" / \""
         << box.detail.toStdString() << "\", icon " << box.icon;
}

ModalScript& ModalScript::Box(BoxSeen* seen, QMessageBox::StandardButton answer) {
    steps_.push_back({"QMessageBox", [seen, answer](QWidget* w) {
                          auto* box = static_cast<QMessageBox*>(w);
                          if (seen != nullptr) {
                              *seen = BoxSeen{box->text(), box->windowTitle(), box->icon(),
                                              box->informativeText()};
                          }
                          QAbstractButton* button = box->button(answer);
                          if (button == nullptr && box->buttons().size() == 1) {
                              button = box->buttons().front();  // the only one there is
                          }
                          button != nullptr ? button->click() : box->reject();
                      }});
    return *this;
}

ModalScript& ModalScript::Dialog(std::function<void(QFileDialog&)> act) {
    steps_.push_back({"QFileDialog",
                      [act = std::move(act)](QWidget* w) { act(*static_cast<QFileDialog*>(w)); }});
    return *this;
}

QString ModalScript::Finish() {
    delete timer_;
    QStringList problems = unexpected_;
    if (next_ < steps_.size()) {
        problems.prepend(QStringLiteral("only %1 of %2 modals came").arg(next_).arg(steps_.size()));
    }
    return problems.join(QLatin1Char('\n'));
}

void ModalScript::Arm() {
    // A fresh timer for every modal; the one of the step before is done.
    if (timer_ != nullptr) {
        timer_->stop();
        timer_->deleteLater();
    }
    timer_ = new QTimer(this);
    timer_->setInterval(5);
    connect(timer_, &QTimer::timeout, this, &ModalScript::Poll);
    timer_->start();
}

void ModalScript::Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible() || modal == acting_) {
        return;  // a step is still busy with this one
    }
    if (next_ < steps_.size() && modal->inherits(steps_[next_].kind)) {
        const Step& step = steps_[next_++];
        // The next step listens before this one acts: the action may open
        // the next modal and wait in it.
        Arm();
        const QPointer<QWidget> outer = acting_;
        acting_ = modal;
        step.act(modal);
        acting_ = outer;
        return;
    }
    auto* box = qobject_cast<QMessageBox*>(modal);
    unexpected_ << QStringLiteral("unexpected %1 \"%2\": %3")
                       .arg(QString::fromLatin1(modal->metaObject()->className()),
                            modal->windowTitle(), box != nullptr ? box->text() : QString());
    if (auto* dialog = qobject_cast<QDialog*>(modal)) {
        dialog->reject();  // a box with no Escape button would refuse a close
    } else {
        modal->close();
    }
}

QString ModalScript::NameBoxText(QFileDialog& dialog) {
    return dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text();
}

void ModalScript::Choose(QFileDialog& dialog, const QString& name) {
    dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(name);
    // What its Open or Save button does: the dialog's own accept, checks
    // included (public through QDialog).
    static_cast<QDialog&>(dialog).accept();
}

}  // namespace vantri::testing
