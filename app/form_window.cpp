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

#include "app/local_path.h"
#include "app/message_box.h"
#include "app/window_look.h"
#include "dialogs/Module1.h"
#include "form/captions.h"

namespace vantri {
namespace {

// Positions and sizes are kept in twips, as the window was laid out; 15
// twips make one pixel at 96 dpi (Qt scales pixels on other screens).
struct Twips {
    int left, top, width, height;
};

constexpr int Px(int twips) {
    return (twips + 7) / 15;  // rounded
}

QRect Place(const Twips& t) {
    return QRect(Px(t.left), Px(t.top), Px(t.width), Px(t.height));
}

constexpr Twips ClientArea{0, 0, 2835, 1095};
constexpr Twips Command4Place{120, 120, 1215, 375};
constexpr Twips Command3Place{120, 480, 1215, 375};
constexpr Twips MydelayPlace{2160, 0, 615, 315};
constexpr Twips MylenPlace{2160, 360, 615, 315};
constexpr Twips ComportPlace{2160, 720, 615, 315};
constexpr Twips Label3Place{1680, 40, 615, 255};
constexpr Twips Label2Place{1440, 400, 855, 255};
constexpr Twips Label1Place{1510, 760, 735, 255};

const QColor ComboBackground(255, 255, 192);
const QColor LabelText(255, 255, 0);

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
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);

    // Labels first: where a label reaches under its combo box, the box is
    // drawn over it.
    const auto makeLabel = [this](const char* name, const char* text, const Twips& place) {
        auto* label = new QLabel(QString::fromLatin1(text), this);
        label->setObjectName(QLatin1String(name));
        label->setGeometry(Place(place));
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        QPalette yellow = label->palette();
        yellow.setColor(QPalette::WindowText, LabelText);
        yellow.setColor(QPalette::Window, Qt::black);
        label->setPalette(yellow);
        label->setFocusPolicy(Qt::NoFocus);
        return label;
    };
    Label3 = makeLabel("Label3", "Delay", Label3Place);
    Label2 = makeLabel("Label2", "Blocksize", Label2Place);
    Label1 = makeLabel("Label1", "Comport", Label1Place);

    const auto makeButton = [this, &system](const char* name, const char* text,
                                            const Twips& place) {
        auto* button = new QPushButton(QString::fromLatin1(text), this);
        button->setObjectName(QLatin1String(name));
        button->setGeometry(Place(place));
        button->setPalette(system);
        return button;
    };
    Command4 = makeButton("Command4", "&Read", Command4Place);
    Command3 = makeButton("Command3", "&Write", Command3Place);

    const auto makeCombo = [this, &system](const char* name, FormSetting setting,
                                           const Twips& place) {
        auto* combo = new QComboBox(this);
        combo->setObjectName(QLatin1String(name));
        // The list offers values; the edit field takes any text.
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::NoInsert);
        combo->setEditText(QString::fromStdString(DefaultSettingText(setting)));
        combo->setGeometry(Place(place));
        QPalette colours = system;
        colours.setColor(QPalette::Base, ComboBackground);
        colours.setColor(QPalette::Text, system.color(QPalette::WindowText));
        combo->setPalette(colours);
        return combo;
    };
    mydelay = makeCombo("mydelay", FormSetting::Delay, MydelayPlace);
    mylen = makeCombo("mylen", FormSetting::Blocksize, MylenPlace);
    comport = makeCombo("comport", FormSetting::Comport, ComportPlace);
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

    // The labels must end before their combo box.
    const QFont font =
        FittedFont(WindowFont(), {{Label3->text(), Px(MydelayPlace.left - Label3Place.left)},
                                  {Label2->text(), Px(MylenPlace.left - Label2Place.left)},
                                  {Label1->text(), Px(ComportPlace.left - Label1Place.left)}});
    for (QWidget* widget :
         std::initializer_list<QWidget*>{Label1, Label2, Label3, mydelay, mylen, comport}) {
        widget->setFont(font);
    }
    QFont bold = font;
    bold.setWeight(QFont::Bold);
    Command4->setFont(bold);
    Command3->setFont(bold);

    setTabOrder(comport, Command3);
    setTabOrder(Command3, Command4);
    setTabOrder(Command4, mylen);
    setTabOrder(mylen, mydelay);
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
    switch (setting) {
        case FormSetting::Comport:
            return comport;
        case FormSetting::Blocksize:
            return mylen;
        case FormSetting::Delay:
            return mydelay;
    }
    return comport;
}

void FormWindow::SetCaption(const std::string& caption) {
    setWindowTitle(QString::fromStdString(caption));
}

void FormWindow::SetButtonEnabled(FormButton button, bool enabled) {
    (button == FormButton::Read ? Command4 : Command3)->setEnabled(enabled);
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
