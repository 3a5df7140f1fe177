// The open and save dialogs, driven as a user drives them, on real files.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QListView>
#include <QTemporaryDir>
#include <QTest>

#include "dialogs/Module1.h"
#include "modal_script.h"

namespace vantri {
namespace {

using testing::BoxSeen;
using testing::ModalScript;

QString FilterList(const char* text) {
    return QString::fromLatin1(text) + QChar(0) + QStringLiteral("*.bin") + QChar(0) + QChar(0);
}
const QString OpenFilter = FilterList("Bin Files(*.bin )");
const QString SaveFilter = FilterList("Bin File (*.bin)");
constexpr std::uint32_t OpenFlags = 6148;

class DialogsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.isValid());
        owner_.show();
        for (const char* name : {"old.bin", "KEY.BIN", "lower.bin", "notes.txt"}) {
            QFile file(Path(name));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << name;
        }
    }
    QString Path(const QString& name) const { return folder_.filePath(name); }

    QTemporaryDir folder_;
    QWidget owner_;
};

// What the save dialog shows (title, name box, filters, no suffix added),
// and what it gives back: the name as typed, a long path, nothing on Cancel;
// a name in a folder that does not exist is refused in the dialog, which
// stays up; a proposal whose folder has gone starts in the nearest folder
// that exists.
TEST_F(DialogsTest, SaveReturnsTheNameAsTypedInAFolderThatExists) {
    const QString deep = Path(QString(60, 'd') + "/" + QString(60, 'e'));
    ASSERT_TRUE(QDir().mkpath(deep));
    const QString here = QDir(folder_.path()).absolutePath();
    struct Case {
        QString proposal, typed;
        QString nameBox, folder;  // as the dialog opens; folder "" not checked
        bool refused;             // then "k" is chosen
    };
    const Case cases[] = {
        // First: the dialog would otherwise start where the one before it ended.
        {Path("gone/deeper/k.Bin"), Path("gone/k"), "k.Bin", here, true},
        {"Ram.Bin", "Ram.Bin", "Ram.Bin", "", false},
        {"Ram.Bin", Path("noext"), "Ram.Bin", "", false},
        {"Ram.Bin", deep + "/" + QString(40, 'k'), "Ram.Bin", "", false},
        {"Ram.Bin", "", "Ram.Bin", "", false},  // Cancel: no name
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        QStringList seen;
        BoxSeen refusal;
        ModalScript script;
        script.Dialog([&](QFileDialog& d) {
            seen = QStringList{d.windowTitle(), ModalScript::NameBoxText(d),
                               d.nameFilters().join('|'), d.defaultSuffix(),
                               c.folder.isEmpty() ? "" : d.directory().absolutePath()};
            d.setDirectory(folder_.path());
            c.typed.isEmpty() ? ModalScript::Cancel(d) : ModalScript::Choose(d, c.typed);
        });
        if (c.refused) {
            script.Box(&refusal).Dialog([&](QFileDialog& d) { ModalScript::Choose(d, Path("k")); });
        }
        const QString chosen = ShowSaveDialog(SaveFilter, &owner_, c.proposal, "Save");
        EXPECT_EQ(script.Finish(), "");
        EXPECT_EQ(seen, (QStringList{"Save", c.nameBox, "Bin File (*.bin)", "", c.folder}));
        const QString want = c.refused ? Path("k") : c.typed == "Ram.Bin" ? Path(c.typed) : c.typed;
        EXPECT_EQ(chosen, QDir::toNativeSeparators(want));
        if (c.refused) {
            EXPECT_EQ(refusal,
                      (BoxSeen{QDir::toNativeSeparators(c.typed), "Save", QMessageBox::Warning,
                               "The folder does not exist. Check the name and try again."}));
        }
    }
}

// An existing file's name is taken only once the user says yes to Qt's
// question: No leaves the dialog up, Yes takes the name.
TEST_F(DialogsTest, SaveAsksBeforeTakingAnExistingFile) {
    BoxSeen question;
    ModalScript script;
    const auto chooseOld = [this](QFileDialog& d) { ModalScript::Choose(d, Path("old.bin")); };
    script.Dialog(chooseOld)
        .Box(&question, QMessageBox::No)
        .Dialog(chooseOld)
        .Box(nullptr, QMessageBox::Yes);
    const QString chosen = ShowSaveDialog(SaveFilter, &owner_, "Ram.Bin", "Save");
    EXPECT_EQ(script.Finish(), "");
    EXPECT_TRUE(question.title == "Save" && question.text.contains("old.bin"))
        << question.text.toStdString();
    EXPECT_EQ(chosen, QDir::toNativeSeparators(Path("old.bin")));
}

// Key files are offered whatever the case of their extension; a name that
// does not exist is refused in the dialog.
TEST_F(DialogsTest, OpenOffersOnlyExistingKeyFiles) {
    QStringList seen, offered;
    const QStringList keyFiles{"KEY.BIN", "lower.bin", "old.bin"};
    BoxSeen refusal;
    ModalScript script;
    script
        .Dialog([&](QFileDialog& d) {
            seen = QStringList{d.windowTitle(), ModalScript::NameBoxText(d),
                               d.nameFilters().join('|')};
            d.setDirectory(folder_.path());
            auto* list = d.findChild<QListView*>(QStringLiteral("listView"));
            ASSERT_NE(list, nullptr);
            const auto shown = [list] {
                QStringList names;
                const QAbstractItemModel* model = list->model();
                for (int row = 0; row < model->rowCount(list->rootIndex()); ++row) {
                    const QModelIndex index = model->index(row, 0, list->rootIndex());
                    if ((model->flags(index) & Qt::ItemIsEnabled) && !list->isRowHidden(row)) {
                        names << index.data().toString();
                    }
                }
                names.sort();
                return names;
            };
            // A background thread lists the folder: wait until it has.
            static_cast<void>(  // what it shows then is checked below
                QTest::qWaitFor([&] { return (offered = shown()) == keyFiles; }, 20000));
            ModalScript::Choose(d, Path("missing.bin"));
        })
        .Box(&refusal)
        .Dialog([&](QFileDialog& d) { ModalScript::Choose(d, Path("KEY.BIN")); });
    const QString chosen = ShowOpenDialog(OpenFilter, OpenFlags, &owner_, QStringLiteral("Open"));
    EXPECT_EQ(script.Finish(), "");
    EXPECT_EQ(seen, (QStringList{"Open", "", "Bin Files(*.bin )"}));
    EXPECT_EQ(offered, keyFiles);
    EXPECT_TRUE(refusal.text.contains("missing.bin")) << refusal.text.toStdString();
    EXPECT_EQ(chosen, QDir::toNativeSeparators(Path("KEY.BIN")));
}

}  // namespace
}  // namespace vantri
