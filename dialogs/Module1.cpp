#include "dialogs/Module1.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include "dialogs/name_filters.h"

namespace vantri {
namespace {

// What both dialogs share: Qt's own dialog (the same everywhere, and no
// fixed-size name buffer), the title, the filters with the first one
// selected, and patterns that ignore case.
void Prepare(QFileDialog& dialog, const QString& filter, const QString& title) {
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setWindowTitle(title);
    const QStringList nameFilters = detail::NameFiltersFromList(filter);
    if (!nameFilters.isEmpty()) {
        dialog.setNameFilters(nameFilters);
    }
    // Key files saved as "Ram.Bin" must show under "*.bin".
    dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
}

QString Run(QFileDialog& dialog) {
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    return QDir::toNativeSeparators(dialog.selectedFiles().value(0));
}

// The save dialog, refusing a name in a folder that does not exist where
// Qt's own would accept it: a mistyped folder is caught here, not by a
// failed save afterwards.
class SaveDialog : public QFileDialog {
  public:
    using QFileDialog::QFileDialog;

    void accept() override {
        // No name at all ("") is left to Qt's accept, as is a folder typed
        // into the name box, which it opens.
        const QFileInfo chosen(selectedFiles().value(0));
        if (!chosen.isDir() && !QFileInfo(chosen.path()).isDir()) {
            QMessageBox box(QMessageBox::Warning, windowTitle(),
                            QDir::toNativeSeparators(chosen.filePath()), QMessageBox::Ok, this);
            box.setTextFormat(Qt::PlainText);
            box.setInformativeText(
                QStringLiteral("The folder does not exist. Check the name and try again."));
            box.exec();
            return;
        }
        QFileDialog::accept();
    }
};

}  // namespace

QString ShowOpenDialog(const QString& filter, std::uint32_t flags, QWidget* owner,
                       const QString& title) {
    QFileDialog dialog(owner);
    Prepare(dialog, filter, title);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode((flags & OfnFileMustExist) != 0 ? QFileDialog::ExistingFile
                                                       : QFileDialog::AnyFile);
    return Run(dialog);
}

QString ShowSaveDialog(const QString& filter, QWidget* owner, const QString& defaultName,
                       const QString& title) {
    SaveDialog dialog(owner);
    Prepare(dialog, filter, title);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // Qt's own question before an existing file's name is taken: a second
    // Read proposes Ram.Bin again, and one Enter would replace the first.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    dialog.setDefaultSuffix(QString());
    const QString name = QDir::fromNativeSeparators(defaultName);
    if (name.contains(QLatin1Char('/'))) {
        // A name proposed again after a failed save: start where it was
        // meant to go, or in the nearest folder above it that still exists.
        QString folder = QFileInfo(name).path();
        while (!QFileInfo(folder).isDir() && QFileInfo(folder).path() != folder) {
            folder = QFileInfo(folder).path();
        }
        if (QFileInfo(folder).isDir()) {
            dialog.setDirectory(folder);
        }
    }
    // The name box gets the name alone: a path there would be taken whole.
    dialog.selectFile(QFileInfo(name).fileName());
    return Run(dialog);
}

}  // namespace vantri
