// The open and save dialogs, driven as a user drives them, on real files.
#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QListView>
#include <QTemporaryDir>
#include <QWidget>

#include "dialogs/Module1.h"
#include "dialogs/name_filters.h"
#include "modal_script.h"

namespace vantri {
namespace {

using testing::BoxSeen;
using testing::ModalScript;

const QString OpenFilter =
    QStringLiteral("Bin Files(*.bin )") + QChar(0) + QStringLiteral("*.bin") + QChar(0) + QChar(0);
const QString SaveFilter =
    QStringLiteral("Bin File (*.bin)") + QChar(0) + QStringLiteral("*.bin") + QChar(0) + QChar(0);
constexpr std::uint32_t OpenFlags = 6148;

void Touch(const QString& path) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write("x");
}

// What the dialog shows at its start, seen from inside it.
struct DialogSeen {
    QString title;
    QString nameBox;
    QStringList nameFilters;
    QString selectedFilter;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    QString defaultSuffix = QStringLiteral("unset");
};

DialogSeen Look(QFileDialog& dialog) {
    auto* filters = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    QStringList shown;
    for (int i = 0; filters != nullptr && i < filters->count(); ++i) {
        shown << filters->itemText(i);
    }
    return {dialog.windowTitle(),
            ModalScript::NameBoxText(dialog),
            shown,
            dialog.selectedNameFilter(),
            dialog.fileMode(),
            dialog.defaultSuffix()};
}

class DialogsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.isValid());
        owner_.show();
    }
    QString Path(const QString& name) const { return folder_.filePath(name); }

    QTemporaryDir folder_;
    QWidget owner_;
};

TEST(NameFilters, KeepTheCallersTextsAndReadBackTheirPatterns) {
    EXPECT_EQ(detail::NameFiltersFromList(OpenFilter), QStringList{"Bin Files(*.bin )"});
    EXPECT_EQ(detail::NameFiltersFromList(SaveFilter), QStringList{"Bin File (*.bin)"});
    EXPECT_EQ(detail::PatternsOfNameFilter(QStringLiteral("Bin Files(*.bin )")),
              QStringList{"*.bin"});

    // A text without its patterns gets them; ";" lists become blanks; "*.*"
    // is every file; the list ends at its empty text.
    const QString classic = QStringLiteral("Keys") + QChar(0) + QStringLiteral("*.bin;*.key") +
                            QChar(0) + QStringLiteral("All files") + QChar(0) +
                            QStringLiteral("*.*") + QChar(0) + QChar(0) +
                            QStringLiteral("ignored") + QChar(0) + QStringLiteral("*.x");
    EXPECT_EQ(detail::NameFiltersFromList(classic),
              (QStringList{"Keys (*.bin *.key)", "All files (*)"}));
    EXPECT_TRUE(detail::NameFiltersFromList(QString()).isEmpty());
}

TEST_F(DialogsTest, SaveProposesTheNameAndReturnsTheFullPath) {
    DialogSeen seen;
    ModalScript script;
    script.Dialog([&](QFileDialog& d) {
        seen = Look(d);
        d.setDirectory(folder_.path());
        ModalScript::Choose(d, ModalScript::NameBoxText(d));  // accepted as proposed
    });
    script.Start();
    const QString chosen = ShowSaveDialog(SaveFilter, &owner_, QStringLiteral("Ram.Bin"),
                                          QStringLiteral("Save Keybuffer To Bin file"));
    EXPECT_TRUE(script.Finished());
    EXPECT_TRUE(script.Unexpected().isEmpty()) << script.Unexpected().join('\n').toStdString();
    EXPECT_EQ(seen.title, "Save Keybuffer To Bin file");
    EXPECT_EQ(seen.nameBox, "Ram.Bin");
    EXPECT_EQ(seen.nameFilters, QStringList{"Bin File (*.bin)"});
    EXPECT_EQ(seen.defaultSuffix, "");
    EXPECT_EQ(chosen, QDir::toNativeSeparators(Path("Ram.Bin")));
}

TEST_F(DialogsTest, SaveTakesNewAndExistingNamesAsTypedWithoutAQuestion) {
    Touch(Path("old.bin"));
    // A long path: no fixed-size name buffer limits it.
    const QString deep = Path(QString(60, 'd') + "/" + QString(60, 'e'));
    ASSERT_TRUE(QDir().mkpath(deep));
    const QString longName = deep + "/" + QString(40, 'k');
    ASSERT_GT(longName.size(), 128);

    for (const QString& typed : {Path("noext"), Path("old.bin"), longName}) {
        ModalScript script;  // an overwrite question would be unexpected
        script.Dialog([&](QFileDialog& d) { ModalScript::Choose(d, typed); });
        script.Start();
        EXPECT_EQ(
            ShowSaveDialog(SaveFilter, &owner_, QStringLiteral("Ram.Bin"), QStringLiteral("Save")),
            QDir::toNativeSeparators(typed));
        EXPECT_TRUE(script.Finished());
        EXPECT_TRUE(script.Unexpected().isEmpty()) << script.Unexpected().join('\n').toStdString();
    }
}

TEST_F(DialogsTest, SaveProposedAgainStartsInTheFolderThatStillExists) {
    QString nameBox;
    QString folder;
    ModalScript script;
    script.Dialog([&](QFileDialog& d) {
        nameBox = ModalScript::NameBoxText(d);
        folder = d.directory().absolutePath();
        ModalScript::Cancel(d);
    });
    script.Start();
    EXPECT_EQ(
        ShowSaveDialog(SaveFilter, &owner_, Path("gone/deeper/a.Bin"), QStringLiteral("Save")),
        QString());
    EXPECT_TRUE(script.Finished());
    EXPECT_EQ(nameBox, "a.Bin");
    EXPECT_EQ(folder, QDir(folder_.path()).absolutePath());
}

TEST_F(DialogsTest, OpenOffersOnlyExistingFilesAndKeyFilesInAnyCase) {
    Touch(Path("Ram.Bin"));
    Touch(Path("lower.bin"));
    Touch(Path("notes.txt"));

    DialogSeen seen;
    QStringList offered;
    QStringList hidden;
    BoxSeen refusal;
    ModalScript script;
    script
        .Dialog([&](QFileDialog& d) {
            seen = Look(d);
            d.setDirectory(folder_.path());
            auto* list = d.findChild<QListView*>(QStringLiteral("listView"));
            ASSERT_NE(list, nullptr);
            // The folder is listed by a background thread.
            for (int wait = 0; wait < 400 && list->model()->rowCount(list->rootIndex()) < 2;
                 ++wait) {
                QApplication::processEvents(QEventLoop::AllEvents, 10);
            }
            const QAbstractItemModel* model = list->model();
            for (int row = 0; row < model->rowCount(list->rootIndex()); ++row) {
                const QModelIndex index = model->index(row, 0, list->rootIndex());
                const QString name = index.data().toString();
                const bool usable = (model->flags(index) & Qt::ItemIsEnabled) != 0;
                (usable && !list->isRowHidden(row) ? offered : hidden) << name;
            }
            ModalScript::Choose(d, Path("missing.bin"));
        })
        .Box(&refusal)
        .Dialog([&](QFileDialog& d) { ModalScript::Choose(d, Path("Ram.Bin")); });
    script.Start();
    const QString chosen = ShowOpenDialog(OpenFilter, OpenFlags, &owner_,
                                          QStringLiteral("Select Keybuffer Bin file to write"));
    EXPECT_TRUE(script.Finished());
    EXPECT_TRUE(script.Unexpected().isEmpty()) << script.Unexpected().join('\n').toStdString();
    EXPECT_EQ(seen.title, "Select Keybuffer Bin file to write");
    EXPECT_EQ(seen.nameBox, "");
    EXPECT_EQ(seen.nameFilters, QStringList{"Bin Files(*.bin )"});
    EXPECT_EQ(seen.mode, QFileDialog::ExistingFile);
    offered.sort();
    EXPECT_EQ(offered, (QStringList{"Ram.Bin", "lower.bin"}));
    EXPECT_FALSE(offered.contains("notes.txt"));
    EXPECT_TRUE(refusal.text.contains("missing.bin")) << refusal.text.toStdString();
    EXPECT_EQ(chosen, QDir::toNativeSeparators(Path("Ram.Bin")));
}

TEST_F(DialogsTest, CancelAndTheCloseBoxGiveNothing) {
    ModalScript script;
    script.Dialog(&ModalScript::Cancel).Dialog([](QFileDialog& d) { d.close(); });
    script.Start();
    EXPECT_EQ(ShowOpenDialog(OpenFilter, OpenFlags, &owner_, QStringLiteral("Open")), QString());
    EXPECT_EQ(
        ShowSaveDialog(SaveFilter, &owner_, QStringLiteral("Ram.Bin"), QStringLiteral("Save")),
        QString());
    EXPECT_TRUE(script.Finished());
    EXPECT_TRUE(script.Unexpected().isEmpty()) << script.Unexpected().join('\n').toStdString();
}

}  // namespace
}  // namespace vantri
