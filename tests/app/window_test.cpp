// The window at rest, the access keys, and what it refuses before an
// operation begins; the caption texts and the extension rule.
#include <QApplication>
#include <QLabel>

#include "app/captions.h"
#include "window_fixture.h"

namespace vantri {
namespace {

// The control that owns `widget` for the focus chain (a combo box's edit
// field stands for the combo box).
QWidget* Control(QWidget* widget) {
    auto* combo = widget != nullptr ? qobject_cast<QComboBox*>(widget->parentWidget()) : nullptr;
    return combo != nullptr ? combo : widget;
}

TEST_F(WindowTest, StartsWithItsControlsDefaultsAndFocus) {
    struct Expected {
        const char* name;
        QString text;
        QRect geometry;  // twips / 15, rounded
        int items;       // a combo box offers 1..items
    };
    const Expected controls[] = {
        {"Command4", "&Read", {8, 8, 81, 25}, 0},     {"Command3", "&Write", {8, 32, 81, 25}, 0},
        {"mydelay", "10", {144, 0, 41, 21}, 25},      {"mylen", "16", {144, 24, 41, 21}, 32},
        {"comport", "1", {144, 48, 41, 21}, 9},       {"Label3", "Delay", {112, 3, 41, 17}, 0},
        {"Label2", "Blocksize", {96, 27, 57, 17}, 0}, {"Label1", "Comport", {101, 51, 49, 17}, 0},
    };
    for (const Expected& c : controls) {
        SCOPED_TRACE(c.name);
        auto* widget = form_.findChild<QWidget*>(QLatin1String(c.name));
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->geometry(), c.geometry);
        QString text;
        if (auto* button = qobject_cast<QPushButton*>(widget)) {
            text = button->text();
        } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
            text = combo->currentText();
            EXPECT_TRUE(combo->isEditable());
            ASSERT_EQ(combo->count(), c.items);
            for (int i = 0; i < c.items; ++i) {
                EXPECT_EQ(combo->itemText(i), QString::number(i + 1));
            }
        } else if (auto* label = qobject_cast<QLabel*>(widget)) {
            text = label->text();
            EXPECT_EQ(label->focusPolicy(), Qt::NoFocus);
            // The label's text ends before its combo box begins.
            EXPECT_LE(label->x() + label->fontMetrics().horizontalAdvance(label->text()), 144);
        }
        EXPECT_EQ(text, c.text);
    }
    EXPECT_EQ(form_.windowTitle(), "  Vantri Key Writer");
    EXPECT_EQ(form_.size(), QSize(189, 73));
    EXPECT_EQ(form_.minimumSize(), form_.maximumSize());
    EXPECT_TRUE(form_.KeyImage.empty());
    ExpectIdle();

    // The focus starts in Comport; Tab goes on to Write, Read, Blocksize,
    // Delay, and round again.
    QApplication::setActiveWindow(&form_);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form_));
    QList<QWidget*> order{Control(QApplication::focusWidget())};
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order << Control(QApplication::focusWidget());
    }
    EXPECT_EQ(order, (QList<QWidget*>{form_.comport, form_.Command3, form_.Command4, form_.mylen,
                                      form_.mydelay, form_.comport}));
}

// Alt+R and Alt+W press the buttons; a port that cannot be opened leaves
// the window as it was.
TEST_F(WindowTest, APortThatCannotBeOpenedLeavesTheWindowIdle) {
    form_.comport->setEditText(QStringLiteral("/nonexistent/port"));
    for (const Qt::Key key : {Qt::Key_R, Qt::Key_W}) {
        SCOPED_TRACE(key == Qt::Key_R ? "Read" : "Write");
        // A box takes the activation; a window manager gives it back.
        QApplication::setActiveWindow(&form_);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&form_));
        BoxSeen seen;
        ModalScript script;
        script.Box(&seen);
        // The button clicks a moment after its key, as it does for a mouse.
        QTest::keyClick(&form_, key, Qt::AltModifier);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !seen.text.isEmpty(); }, 2000));
        EXPECT_EQ(script.Finish(), "");
        EXPECT_EQ(seen,
                  (BoxSeen{"Not able to Open selected Comport", "Error", QMessageBox::Warning}));
        ExpectIdle();
    }
    EXPECT_TRUE(captions_.isEmpty());
}

TEST_F(WindowTest, UnusableSettingsAreRefusedBeforeThePortIsOpened) {
    StartDevice();
    struct Case {
        QComboBox* box;
        QString text;
        QPushButton* button;
        const char* says;
    };
    const Case cases[] = {
        {form_.comport, "   ", form_.Command4, "Give a serial port"},
        {form_.mylen, "0", form_.Command3, "Blocksize must be"},
        {form_.mylen, "12x", form_.Command3, "Blocksize must be"},
        {form_.mydelay, "-1", form_.Command3, "Delay must be"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        const QString kept = c.box->currentText();
        c.box->setEditText(c.text);
        BoxSeen seen;
        Run(c.button, ModalScript().Box(&seen));  // no file dialog may follow
        EXPECT_TRUE(seen.text.startsWith(QLatin1String(c.says))) << seen.text.toStdString();
        EXPECT_EQ(seen.title, "Error");
        EXPECT_EQ(seen.icon, QMessageBox::Warning);
        ExpectIdle();
        c.box->setEditText(kept);
    }
    EXPECT_EQ(Received(), "");
    EXPECT_TRUE(captions_.isEmpty());
}

// The read progress texts are seen whole in the Read's captions.
TEST(CaptionRules, WriteProgressAndTheExtensionRule) {
    const std::pair<int, const char*> writes[] = {
        {1, "  0 % Done"}, {33, "  1 % Done"}, {4065, " 99 % Done"}, {4081, "100 % Done"}};
    for (const auto& [p, caption] : writes) {
        EXPECT_EQ(WriteProgressCaption(p), caption) << p;
    }
    const std::pair<const char*, const char*> names[] = {
        {"C:\\keys\\a", "C:\\keys\\a.Bin"},
        {"C:\\keys\\a.bin", "C:\\keys\\a.bin"},
        {"a.c", "a.c.Bin"},
        {"abc", "abc.Bin"},
        {".key", ".key"},
    };
    for (const auto& [typed, saved] : names) {
        EXPECT_EQ(WithBinExtension(QString::fromLatin1(typed)), saved) << typed;
    }
}

}  // namespace
}  // namespace vantri
