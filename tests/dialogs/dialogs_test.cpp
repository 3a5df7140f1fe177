// The open and save dialogs, driven as a user drives them, on real files.
#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QListView>
#include <QTemporaryDir>

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
    }
    QString Path(const QString& name) const { return folder_.filePath(name); }
    void Touch(const QString& name) const {
        QFile file(Path(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << name.toStdString();
    }

    QTemporaryDir folder_;
    QWidget owner_;
};

// The proposal as it stands, a name without extension, an existing file
// (no overwrite question: the caller decides) and a long path all come
// back as typed, nothing added.
TEST_F(DialogsTest, SaveReturnsTheNameAsTypedWithoutAQuestion) {
    Touch("old.bin");
    const QString deep = Path(QString(60, 'd') + "/" + QString(60, 'e'));
    ASSERT_TRUE(QDir().mkpath(deep));
    const QString proposal = QStringLiteral("Ram.Bin");
    for (const QString& typed :
         {proposal, Path("noext"), Path("old.bin"), deep + "/" + QString(40, 'k')}) {
        SCOPED_TRACE(typed.toStdString());
        QStringList seen;
        ModalScript script;  // an overwrite question would be unexpected
        script.Dialog([&](QFileDialog& d) {
            seen = QStringList{d.windowTitle(), ModalScript::NameBoxText(d),
                               d.nameFilters().join('|'), d.defaultSuffix()};
            d.setDirectory(folder_.path());
            ModalScript::Choose(d, typed);
        });
        const QString chosen =
            ShowSaveDialog(SaveFilter, &owner_, proposal, QStringLiteral("Save Keybuffer"));
        EXPECT_EQ(script.Finish(), "");
        EXPECT_EQ(seen, (QStringList{"Save Keybuffer", proposal, "Bin File (*.bin)", ""}));
        EXPECT_EQ(chosen, QDir::toNativeSeparators(typed == proposal ? Path(typed) : typed));
    }
}

// A name in a folder that does not exist is refused in the dialog, which
// stays up; a proposal whose folder has gone starts in the nearest folder
// that exists, with the name alone in the name box.
TEST_F(DialogsTest, SaveAcceptsOnlyANameInAFolderThatExists) {
    QStringList seen;
    BoxSeen refusal;
    ModalScript script;
    script
        .Dialog([&](QFileDialog& d) {
            seen = QStringList{ModalScript::NameBoxText(d), d.directory().absolutePath()};
            ModalScript::Choose(d, Path("gone/k"));
        })
        .Box(&refusal)
        .Dialog([&](QFileDialog& d) { ModalScript::Choose(d, Path("k")); });
    const QString chosen =
        ShowSaveDialog(SaveFilter, &owner_, Path("gone/deeper/k.Bin"), QStringLiteral("Save"));
    EXPECT_EQ(script.Finish(), "");
    EXPECT_EQ(seen, (QStringList{"k.Bin", QDir(folder_.path()).absolutePath()}));
    EXPECT_EQ(refusal,
              (BoxSeen{QDir::toNativeSeparators(Path("gone/k")), "Save", QMessageBox::Warning,
                       "The folder does not exist. Check the name and try again."}));
    EXPECT_EQ(chosen, QDir::toNativeSeparators(Path("k")));
}

// Key files are offered whatever the case of their extension; a name that
// does not exist is refused in the dialog.
TEST_F(DialogsTest, OpenOffersOnlyExistingKeyFiles) {
    Touch("Ram.Bin");
    Touch("lower.bin");
    Touch("notes.txt");
    QStringList seen;
    QStringList offered;
    BoxSeen refusal;
    ModalScript script;
    script
        .Dialog([&](QFileDialog& d) {
            seen = QStringList{d.windowTitle(), ModalScript::NameBoxText(d),
                               d.nameFilters().join('|')};
            EXPECT_EQ(d.fileMode(), QFileDialog::ExistingFile);
            d.setDirectory(folder_.path());
            auto* list = d.findChild<QListView*>(QStringLiteral("listView"));
            ASSERT_NE(list, nullptr);
            // The folder is listed by a background thread.
            const QAbstractItemModel* model = list->model();
            for (int wait = 0; wait < 400 && model->rowCount(list->rootIndex()) < 2; ++wait) {
                QApplication::processEvents(QEventLoop::AllEvents, 10);
            }
            for (int row = 0; row < model->rowCount(list->rootIndex()); ++row) {
                const QModelIndex index = model->index(row, 0, list->rootIndex());
                if ((model->flags(index) & Qt::ItemIsEnabled) && !list->isRowHidden(row)) {
                    offered << index.data().toString();
                }
            }
            ModalScript::Choose(d, Path("missing.bin"));
        })
        .Box(&refusal)
        .Dialog([&](QFileDialog& d) { ModalScript::Choose(d, Path("Ram.Bin")); });
    const QString chosen = ShowOpenDialog(OpenFilter, OpenFlags, &owner_, QStringLiteral("Open"));
    EXPECT_EQ(script.Finish(), "");
    EXPECT_EQ(seen, (QStringList{"Open", "", "Bin Files(*.bin )"}));
    offered.sort();
    EXPECT_EQ(offered, (QStringList{"Ram.Bin", "lower.bin"}));
    EXPECT_TRUE(refusal.text.contains("missing.bin")) << refusal.text.toStdString();
    EXPECT_EQ(chosen, QDir::toNativeSeparators(Path("Ram.Bin")));
}

TEST_F(DialogsTest, CancelAndTheCloseBoxGiveNothing) {
    ModalScript script;
    script.Dialog(&ModalScript::Cancel).Dialog([](QFileDialog& d) { d.close(); });
    EXPECT_EQ(ShowOpenDialog(OpenFilter, OpenFlags, &owner_, QStringLiteral("Open")), "");
    EXPECT_EQ(ShowSaveDialog(SaveFilter, &owner_, QStringLiteral("Ram.Bin"), "Save"), "");
    EXPECT_EQ(script.Finish(), "");
}

}  // namespace
}  // namespace vantri
