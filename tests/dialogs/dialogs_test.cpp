// The open and save dialogs, driven as a user drives them, on real files.
#include <gtest/gtest.h>

#include <QDir>
#include <QListView>
#include <QTemporaryDir>
#include <QTest>

#include "dialogs/Module1.h"
#include "modal_script.h"
#include "tests/common/files.h"

namespace vantri {
namespace {

using testing::ModalScript;

// A filter as the logic passes it: its text and pattern, each ended by a 0,
// and one more.
const QString SaveFilter = QStringLiteral("Bin File (*.bin)\0*.bin\0\0");

class DialogsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.isValid());
        owner_.show();
        for (const char* name : {"old.bin", "KEY.BIN", "lower.bin", "notes.txt"}) {
            test::WriteFile(Path(name).toStdString(), "");
        }
    }
    QString Path(const QString& name) const { return folder_.filePath(name); }

    QTemporaryDir folder_;
    QWidget owner_;
};

// What the save dialog shows (title, name box, filters, folder),
// and what it takes: a proposal whose folder has gone starts in the nearest
// folder that exists; a name in a folder that does not exist is refused in
// the dialog, which stays up; an existing file's name only once the user
// says yes to Qt's question (No leaves the dialog up).
TEST_F(DialogsTest, SaveTakesANameAsTypedInAFolderThatExistsAndAsksBeforeReplacing) {
    QStringList seen;
    QString refusal, question;
    const auto chooseOld = [this](QFileDialog& d) { ModalScript::Choose(d, Path("old.bin")); };
    // First: the dialog would otherwise start where the one before it ended.
    ModalScript script;
    script
        .Dialog([&](QFileDialog& d) {
            seen = QStringList{d.windowTitle(), ModalScript::NameBox(d)->text(),
                               d.nameFilters().join('|'), d.directory().absolutePath()};
            ModalScript::Choose(d, Path("gone/k"));
        })
        .Box(&refusal)
        .Dialog(chooseOld)
        .Box(&question, QMessageBox::No)
        .Dialog(chooseOld)
        .Box(&question, QMessageBox::Yes);  // asked again
    const QString chosen = ShowSaveDialog(SaveFilter, &owner_, Path("gone/deeper/k.Bin"), "Save");
    EXPECT_EQ(script.Finish(), "");
    EXPECT_EQ(seen, (QStringList{"Save", "k.Bin", "Bin File (*.bin)",
                                 QDir(folder_.path()).absolutePath()}));
    EXPECT_EQ(refusal, "Save: " + QDir::toNativeSeparators(Path("gone/k")) +
                           " / The folder does not exist. Check the name and try again. (Warning)");
    EXPECT_TRUE(question.startsWith("Save: ") && question.contains("old.bin"))
        << question.toStdString();
    EXPECT_EQ(chosen, QDir::toNativeSeparators(Path("old.bin")));

    // Then it gives back the name as typed (relative to its folder, no
    // suffix added), and nothing on Cancel.
    for (const QString& typed : {QString("Ram.Bin"), Path("noext"), QString()}) {
        SCOPED_TRACE(typed.toStdString());
        ModalScript script;
        script.Dialog([&](QFileDialog& d) {
            d.setDirectory(folder_.path());
            typed.isEmpty() ? d.reject() : ModalScript::Choose(d, typed);
        });
        EXPECT_EQ(ShowSaveDialog(SaveFilter, &owner_, "Ram.Bin", "Save"),
                  QDir::toNativeSeparators(typed == "Ram.Bin" ? Path(typed) : typed));
        EXPECT_EQ(script.Finish(), "");
    }
}

// Key files are offered whatever the case of their extension; a name that
// does not exist is refused in the dialog.
TEST_F(DialogsTest, OpenOffersOnlyExistingKeyFiles) {
    QStringList offered;
    const QStringList keyFiles{"KEY.BIN", "lower.bin", "old.bin"};
    QString refusal;
    ModalScript script;
    script
        .Dialog([&](QFileDialog& d) {
            d.setDirectory(folder_.path());
            auto* list = d.findChild<QListView*>(QStringLiteral("listView"));
            ASSERT_NE(list, nullptr);
            // A background thread lists the folder: wait until it has; what
            // it shows then is checked below.
            static_cast<void>(QTest::qWaitFor(
                [&, model = list->model()] {
                    offered.clear();
                    for (int row = 0; row < model->rowCount(list->rootIndex()); ++row) {
                        offered << model->index(row, 0, list->rootIndex()).data().toString();
                    }
                    return offered == keyFiles;
                },
                20000));
            ModalScript::Choose(d, Path("missing.bin"));
        })
        .Box(&refusal)
        .Dialog([&](QFileDialog& d) { ModalScript::Choose(d, Path("KEY.BIN")); });
    // Flags 6148: the file and its folder must exist, no read-only box.
    const QString chosen =
        ShowOpenDialog(QStringLiteral("Bin Files(*.bin )\0*.bin\0\0"), 6148, &owner_, "Open");
    EXPECT_EQ(script.Finish(), "");
    EXPECT_EQ(offered, keyFiles);
    EXPECT_TRUE(refusal.contains("missing.bin")) << refusal.toStdString();
    EXPECT_EQ(chosen, QDir::toNativeSeparators(Path("KEY.BIN")));
}

}  // namespace
}  // namespace vantri
