#include "app/form_window.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <algorithm>

#include "dialogs/Module1.h"
#include "form/captions.h"
#include "form/window_look.h"

// Resources of a static library are registered by hand; outside any
// namespace, as the macro requires.
static void InitWindowResources() {
    Q_INIT_RESOURCE(resources);
}

namespace vantri {
namespace {

// 15 twips to a pixel, as at 96 dpi: Qt scales pixels on other screens.
QRect Place(const Twips& t) {
    const auto px = [](int twips) { return TwipsToPixels(twips, 96); };
    return {px(t.left), px(t.top), px(t.width), px(t.height)};
}

// "MS Sans Serif" 8.25 pt where it is installed, else a face with its
// proportions (narrow enough for the labels), else the system's sans face;
// made smaller in quarter points (down to 6.5 pt) until every label's text
// ends before its combo box.
QFont WindowFont() {
    QFont font;
    font.setStyleHint(QFont::SansSerif);
    font.setFamily(QStringLiteral("Sans Serif"));
    const QStringList installed = QFontDatabase::families();
    for (const char* family : {FontFace, "Microsoft Sans Serif", "Liberation Sans", "Arimo",
                               "Arial", "Helvetica", "Nimbus Sans", "DejaVu Sans Condensed"}) {
        if (installed.contains(QLatin1String(family), Qt::CaseInsensitive)) {
            font.setFamily(QLatin1String(family));
            break;
        }
    }
    font.setPointSizeF(FontHundredthsOfPoint / 100.0);
    font.setWeight(QFont::Normal);
    const auto fits = [&font] {
        const QFontMetrics metrics(font);
        for (std::size_t i = 0; i < Controls.size(); ++i) {
            if (Controls[i].kind == ControlKind::Label &&
                metrics.horizontalAdvance(QString::fromLatin1(Controls[i].text)) >
                    Place(ShownPlace(i)).width()) {
                return false;
            }
        }
        return true;
    };
    while (!fits() && font.pointSizeF() > 6.5) {
        font.setPointSizeF(font.pointSizeF() - 0.25);
    }
    return font;
}

// A message box: one OK button, a text, an icon and a title, and a
// message's detail as the box's smaller, informative text.  (The title is
// set on each box rather than as the application's display name, which
// would also be appended to the window caption.)
void Fill(QMessageBox& box, const FormMessage& message) {
    box.setIcon(message.icon == MessageIcon::Warning ? QMessageBox::Warning
                : message.icon == MessageIcon::Error ? QMessageBox::Critical
                                                     : QMessageBox::NoIcon);
    box.setWindowTitle(
        QString::fromStdString(message.title.empty() ? ApplicationTitle : message.title));
    // File names and device texts are shown as they are, never as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(message.text));
    box.setInformativeText(QString::fromStdString(message.detail));
    box.setStandardButtons(QMessageBox::Ok);
}

// Qt speaks UTF-8 of file names on Linux; std::filesystem takes UTF-8 as
// char8_t on every system.
std::filesystem::path LocalPath(const QString& name) {
    const QByteArray utf8 = name.toUtf8();
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

}  // namespace

FormWindow::FormWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromLatin1(WindowCaption));
    // The window icon, our own drawing at 16, 32 and 48 pixels.
    InitWindowResources();
    QIcon icon;
    for (const int size : {16, 32, 48}) {
        icon.addFile(QStringLiteral(":/icons/vantri-%1.png").arg(size), QSize(size, size));
    }
    setWindowIcon(icon);
    setFixedSize(Place(ClientArea).size());

    // The system's colours, each set explicitly, for the controls that keep
    // them: a child given them does not inherit the window's black.
    QPalette system = QApplication::palette();
    system.setResolveMask(~QPalette::ResolveMask(0));
    const auto colour = [](const Rgb& rgb) { return QColor(rgb.red, rgb.green, rgb.blue); };
    QPalette black = palette();
    black.setColor(QPalette::Window, colour(BackColour));
    setPalette(black);
    setAutoFillBackground(true);

    const QFont font = WindowFont();
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
            control = label = new QLabel(text, this);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            QPalette yellow = label->palette();
            yellow.setColor(QPalette::WindowText, colour(LabelColour));
            yellow.setColor(QPalette::Window, colour(BackColour));
            label->setPalette(yellow);
            label->setFocusPolicy(Qt::NoFocus);
            label->setFont(font);
        } else if (look.kind == ControlKind::Button) {
            control = new QPushButton(text, this);
            control->setPalette(system);
            control->setFont(bold);
        } else {
            auto* combo = new QComboBox(this);
            // The list offers values; the edit field takes any text.
            combo->setEditable(true);
            combo->setInsertPolicy(QComboBox::NoInsert);
            QPalette colours = system;
            colours.setColor(QPalette::Base, colour(BoxColour));
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
    for (const std::string& item : items) {
        combo->addItem(QString::fromStdString(item));
        widest = std::max(
            widest, combo->fontMetrics().horizontalAdvance(combo->itemText(combo->count() - 1)));
    }
    combo->setEditText(text);
    // The box stays narrow; its list is as wide as its longest item, so a
    // port's long name reads whole there.
    QAbstractItemView* list = combo->view();
    list->setMinimumWidth(widest + 2 * list->frameWidth() +
                          combo->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, combo) +
                          12);
}

// A box is modal and returns when the user has pressed OK.
void FormWindow::ShowMessage(const FormMessage& message) {
    QMessageBox box(this);
    Fill(box, message);
    box.exec();
}

// The notice is the same box not modal, and returns at once; it deletes
// itself when it is closed.
void FormWindow::ShowNotice(const FormMessage& message) {
    if (notice_ && notice_->isVisible()) {
        return;  // one closed may await its deletion
    }
    notice_ = new QMessageBox(this);
    Fill(*notice_, message);
    notice_->setWindowModality(Qt::NonModal);
    // OK, Escape and the box's own close box all end in finished.
    connect(notice_, &QDialog::finished, notice_, &QObject::deleteLater);
    notice_->show();
}

std::filesystem::path FormWindow::ShowOpenDialog(const std::string& filter, std::uint32_t flags,
                                                 const std::string& title) {
    return LocalPath(vantri::ShowOpenDialog(QString::fromStdString(filter), flags, this,
                                            QString::fromStdString(title)));
}

std::filesystem::path FormWindow::ShowSaveDialog(const std::string& filter,
                                                 const std::filesystem::path& defaultName,
                                                 const std::string& title) {
    const std::u8string name = defaultName.u8string();
    return LocalPath(vantri::ShowSaveDialog(
        QString::fromStdString(filter), this,
        QString::fromUtf8(reinterpret_cast<const char*>(name.data()), qsizetype(name.size())),
        QString::fromStdString(title)));
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
