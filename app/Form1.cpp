#include "app/Form1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QPushButton>

#include "app/message_box.h"
#include "app/window_look.h"
#include "serial/exchange.h"
#include "serial/zrkCommModule.h"

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

Form1::Form1(QWidget* parent)
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

    const auto makeCombo = [this, &system](const char* name, const char* text, int items,
                                           const Twips& place) {
        auto* combo = new QComboBox(this);
        combo->setObjectName(QLatin1String(name));
        // The list offers values; the edit field takes any text.
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::NoInsert);
        for (int i = 1; i <= items; ++i) {
            combo->addItem(QString::number(i));
        }
        combo->setEditText(QString::fromLatin1(text));
        combo->setGeometry(Place(place));
        QPalette colours = system;
        colours.setColor(QPalette::Base, ComboBackground);
        colours.setColor(QPalette::Text, system.color(QPalette::WindowText));
        combo->setPalette(colours);
        return combo;
    };
    mydelay = makeCombo("mydelay", "10", 25, MydelayPlace);
    mylen = makeCombo("mylen", "16", 32, MylenPlace);
    comport = makeCombo("comport", "1", 9, ComportPlace);
    // A device path is longer than the box: show it whole on hover.
    connect(comport, &QComboBox::editTextChanged, comport, &QWidget::setToolTip);

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

    connect(Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
}

std::string Form1::hextobin(const QString& inp) const {
    // Characters beyond Latin-1 become '?', which HexToBin reads as no digit.
    return HexToBin(inp.toLatin1().toStdString());
}

void Form1::closeEvent(QCloseEvent* event) {
    std::int16_t cancel = False16;
    Form_Unload(cancel);
    if (cancel != False16) {
        event->ignore();
        return;
    }
    event->accept();
}

void Form1::Form_Unload(std::int16_t& Cancel) {
    static_cast<void>(Cancel);  // the close always goes ahead
    CloseComPort();
    comopened = False16;
    if (!operationRunning_) {
        return;
    }
    closing_ = true;
    // The user's close box is blocked while a box or dialog is up, but the
    // session may still close the window then: take the boxes down so the
    // operation gets back to its own code, sees closing_ and ends quietly.
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

void Form1::ShowBusy() {
    ShowMessage(this, QStringLiteral("Allready open"));
}

void Form1::RefuseSetting(const std::string& error) {
    ShowMessage(this, QString::fromStdString(error), QMessageBox::Warning, QStringLiteral("Error"));
}

bool Form1::OpenPort(const PortSetting& port, QPushButton* other) {
    const std::int32_t result = OpenExchangePort(port);
    if (result != 0) {
        ShowMessage(this, QStringLiteral("Not able to Open selected Comport"), QMessageBox::Warning,
                    QStringLiteral("Error"));
    }
    // Whatever the result: the other operation is off while this one may run.
    other->setEnabled(false);
    if (result != 0) {
        other->setEnabled(true);
        return false;
    }
    comopened = True16;
    return true;
}

void Form1::EndOperation(QPushButton* other) {
    CloseComPort();
    comopened = False16;
    other->setEnabled(true);
}

Form1::Running::Running(Form1& form, QPushButton* other) : form_(form), other_(other) {
    form_.operationRunning_ = true;
    form_.closing_ = false;
}

Form1::Running::~Running() {
    form_.operationRunning_ = false;
    other_->setEnabled(true);
}

ExchangeHooks Form1::CommonHooks() {
    ExchangeHooks hooks;
    hooks.processEvents = [] { QCoreApplication::processEvents(); };
    hooks.cancelled = [this] { return closing_; };
    return hooks;
}

}  // namespace vantri
