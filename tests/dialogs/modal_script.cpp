#include "modal_script.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace vantri::testing {

ModalScript::ModalScript() = default;

ModalScript::~ModalScript() {
    delete timer_;
}

ModalScript& ModalScript::Box(BoxSeen* seen) {
    return Box([seen](QMessageBox& box) {
        if (seen != nullptr) {
            *seen = BoxSeen{box.text(), box.windowTitle(), box.icon()};
        }
        const QList<QAbstractButton*> buttons = box.buttons();
        if (buttons.size() == 1) {
            buttons.front()->click();
        } else {
            box.reject();
        }
    });
}

ModalScript& ModalScript::Box(std::function<void(QMessageBox&)> act) {
    steps_.push_back({[](QWidget* w) { return qobject_cast<QMessageBox*>(w) != nullptr; },
                      [act = std::move(act)](QWidget* w) { act(*qobject_cast<QMessageBox*>(w)); }});
    return *this;
}

ModalScript& ModalScript::Dialog(std::function<void(QFileDialog&)> act) {
    steps_.push_back({[](QWidget* w) { return qobject_cast<QFileDialog*>(w) != nullptr; },
                      [act = std::move(act)](QWidget* w) { act(*qobject_cast<QFileDialog*>(w)); }});
    return *this;
}

void ModalScript::Start() {
    Arm();
}

void ModalScript::Stop() {
    delete timer_;
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
    if (next_ < steps_.size() && steps_[next_].matches(modal)) {
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
    unexpected_ << Describe(modal);
    if (auto* dialog = qobject_cast<QDialog*>(modal)) {
        dialog->reject();
    } else {
        modal->close();
    }
}

QString ModalScript::Describe(QWidget* modal) {
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        return QStringLiteral("box \"%1\": %2").arg(box->windowTitle(), box->text());
    }
    return QStringLiteral("%1 \"%2\"")
        .arg(QString::fromLatin1(modal->metaObject()->className()), modal->windowTitle());
}

QString ModalScript::NameBoxText(QFileDialog& dialog) {
    auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    return edit != nullptr ? edit->text() : QString();
}

void ModalScript::Choose(QFileDialog& dialog, const QString& name) {
    auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (edit == nullptr) {
        dialog.reject();
        return;
    }
    edit->setText(name);
    auto* buttons = dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    QPushButton* ok = nullptr;
    if (buttons != nullptr) {
        ok = buttons->button(dialog.acceptMode() == QFileDialog::AcceptSave
                                 ? QDialogButtonBox::Save
                                 : QDialogButtonBox::Open);
    }
    if (ok != nullptr && ok->isEnabled()) {
        ok->click();
    } else {
        static_cast<QDialog&>(dialog).accept();  // what the button does
    }
}

void ModalScript::Cancel(QFileDialog& dialog) {
    auto* buttons = dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    QPushButton* cancel = buttons != nullptr ? buttons->button(QDialogButtonBox::Cancel) : nullptr;
    if (cancel != nullptr) {
        cancel->click();
    } else {
        dialog.reject();
    }
}

}  // namespace vantri::testing
