#include "app/form_window.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <algorithm>
#include <utility>
#include <vector>

#include "app/local_path.h"
#include "app/message_box.h"
#include "app/window_look.h"
#include "dialogs/Module1.h"
#include "form/captions.h"
#include "form/window_look.h"

namespace vantri {
namespace {

// 15 twips to a pixel, as at 96 dpi: Qt scales pixels on other screens.
QRect Place(const Twips& t) {
    return QRect(TwipsToPixels(t.left, 96), TwipsToPixels(t.top, 96), TwipsToPixels(t.width, 96),
                 TwipsToPixels(t.height, 96));
}

QColor Colour(const Rgb& rgb) {
    return QColor(rgb.red, rgb.green, rgb.blue);
}

}  // namespace

FormWindow::FormWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromLatin1(WindowCaption));
    setWindowIcon(WindowIcon());
    setFixedSize(Place(ClientArea).size());

    // The system's colours, for the controls that keep them.
    const QPalette system = ExplicitPalette(QApplication::palette());
    QPalette black = palette();
    black.setColor(QPalette::Window, Colour(BackColour));
    setPalette(black);
    setAutoFillBackground(true);

    // Each label's text must fit in front of its box.
    std::vector<std::pair<QString, int>> labels;
    for (std::size_t i = 0; i < Controls.size(); ++i) {
        if (Controls[i].kind == ControlKind::Label) {
            labels.emplace_back(QString::fromLatin1(Controls[i].text),
                                Place(ShownPlace(i)).width());
        }
    }
    const QFont font = FittedFont(WindowFont(), labels);
    QFont bold = font;
    bold.setWeight(QFont::Bold);

    // Created in focus order, so Tab follows it; a box is drawn over the
    // label before it.
    QLabel* label = nullptr;
    for (std::size_t i = 0; i < Controls.size(); ++i) {
        const ControlLook& look = Controls[i];
        const QString text = QString::fromLatin1(look.text);
        QWidget* control = nullptr;
        if (look.kind == ControlKind::Label) {
            label = new QLabel(text, this);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            QPalette yellow = label->palette();
            yellow.setColor(QPalette::WindowText, Colour(LabelColour));
            yellow.setColor(QPalette::Window, Colour(BackColour));
            label->setPalette(yellow);
            label->setFocusPolicy(Qt::NoFocus);
            label->setFont(font);
            control = label;
        } else if (look.kind == ControlKind::Button) {
            auto* button = new QPushButton(text, this);
            button->setPalette(system);
            button->setFont(bold);
            control = button;
        } else {
            auto* combo = new QComboBox(this);
            // The list offers values; the edit field takes any text.
            combo->setEditable(true);
            combo->setInsertPolicy(QComboBox::NoInsert);
            QPalette colours = system;
            colours.setColor(QPalette::Base, Colour(BoxColour));
            colours.setColor(QPalette::Text, system.color(QPalette::WindowText));
            combo->setPalette(colours);
            combo->setFont(font);
            // A screen reader names the box by its label.
            label->setBuddy(combo);
            combo->setAccessibleName(label->text());
            control = combo;
        }
        control->setObjectName(QLatin1String(look.name));
        control->setGeometry(Place(ShownPlace(i)));
        controls_[i] = control;
    }
    const auto named = [this](const char* name) { return controls_[IndexOf(name)]; };
    Command4 = static_cast<QPushButton*>(named("Command4"));
    Command3 = static_cast<QPushButton*>(named("Command3"));
    mydelay = static_cast<QComboBox*>(named("mydelay"));
    mylen = static_cast<QComboBox*>(named("mylen"));
    comport = static_cast<QComboBox*>(named("comport"));
    Label3 = static_cast<QLabel*>(named("Label3"));
    Label2 = static_cast<QLabel*>(named("Label2"));
    Label1 = static_cast<QLabel*>(named("Label1"));
    for (const FormSetting setting :
         {FormSetting::Comport, FormSetting::Blocksize, FormSetting::Delay}) {
        Box(setting)->setEditText(QString::fromStdString(DefaultSettingText(setting)));
    }

    // A device path is longer than the box.  Its whole text shows on hover
    // over the edit field (which covers the box, so it needs the tooltip
    // itself), and while the box is not being edited it shows its start,
    // where /dev/serial/by-id/... tells the ports apart.
    const auto showWhole = [this](const QString& text) {
        comport->setToolTip(text);
        comport->lineEdit()->setToolTip(text);
        if (!comport->lineEdit()->hasFocus()) {
            comport->lineEdit()->setCursorPosition(0);
        }
    };
    connect(comport, &QComboBox::editTextChanged, this, showWhole);
    // Qt shows tooltips only in the active window unless told otherwise; a
    // user who comes from another window would hover in vain.
    setAttribute(Qt::WA_AlwaysShowToolTips);
    connect(comport->lineEdit(), &QLineEdit::editingFinished, this,
            [this] { comport->lineEdit()->setCursorPosition(0); });
    showWhole(comport->currentText());

    comport->setFocus();

    form_ = std::make_unique<Form1>(*this);
    form_->Form_Load();
    connect(Command4, &QPushButton::clicked, this, [this] { form_->Command4_Click(); });
    connect(Command3, &QPushButton::clicked, this, [this] { form_->Command3_Click(); });
}

FormWindow::~FormWindow() = default;

void FormWindow::closeEvent(QCloseEvent* event) {
    std::int16_t cancel = False16;
    form_->Form_Unload(cancel);
    if (cancel != False16) {
        event->ignore();  // the logic closes the window once it may
        return;
    }
    if (notice_) {
        notice_->close();
    }
    event->accept();
}

QComboBox* FormWindow::Box(FormSetting setting) const {
    return static_cast<QComboBox*>(controls_[IndexOf(ControlName(setting))]);
}

void FormWindow::SetCaption(const std::string& caption) {
    setWindowTitle(QString::fromStdString(caption));
}

void FormWindow::SetButtonEnabled(FormButton button, bool enabled) {
    controls_[IndexOf(ControlName(button))]->setEnabled(enabled);
}

std::string FormWindow::SettingText(FormSetting setting) {
    return Box(setting)->currentText().toStdString();
}

void FormWindow::SetSettingChoices(FormSetting setting, const std::vector<std::string>& items) {
    QComboBox* combo = Box(setting);
    const QString text = combo->currentText();
    combo->clear();
    int widest = 0;
    const QFontMetrics metrics(combo->font());
    for (const std::string& item : items) {
        combo->addItem(QString::fromStdString(item));
        widest = std::max(widest, metrics.horizontalAdvance(combo->itemText(combo->count() - 1)));
    }
    combo->setEditText(text);
    // The box stays narrow; its list is as wide as its longest item, so a
    // port's long name reads whole there.
    QAbstractItemView* list = combo->view();
    list->setMinimumWidth(widest + 2 * list->frameWidth() +
                          combo->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, combo) +
                          12);
}

void FormWindow::ShowMessage(const FormMessage& message) {
    ShowMessageBox(this, message);
}

void FormWindow::ShowNotice(const FormMessage& message) {
    if (!notice_ || !notice_->isVisible()) {  // one closed may await its deletion
        notice_ = ShowNoticeBox(this, message);
    }
}

std::filesystem::path FormWindow::ShowOpenDialog(const std::string& filter, std::uint32_t flags,
                                                 const std::string& title) {
    return LocalPath(vantri::ShowOpenDialog(QString::fromStdString(filter), flags, this,
                                            QString::fromStdString(title)));
}

std::filesystem::path FormWindow::ShowSaveDialog(const std::string& filter,
                                                 const std::filesystem::path& defaultName,
                                                 const std::string& title) {
    return LocalPath(vantri::ShowSaveDialog(QString::fromStdString(filter), this,
                                            QtPath(defaultName), QString::fromStdString(title)));
}

void FormWindow::ProcessEvents() {
    QCoreApplication::processEvents();
}

void FormWindow::DismissModals() {
    while (QWidget* modal = QApplication::activeModalWidget()) {
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        } else {
            modal->close();
        }
        if (QApplication::activeModalWidget() == modal) {
            break;  // it refused to go; leave it to the user
        }
    }
}

void FormWindow::CloseWindow() {
    close();
}

}  // namespace vantri
