#include "ui/browse_dialog.h"

#include <QFileInfo>
#include <QMessageBox>

namespace corvane::ui {

TBrowseDialog::TBrowseDialog(QWidget* parent, const QString& fileName)
    : TBrowseDialog(parent, fileName,
                    {QStringLiteral("Web Pages (*.htm *.html)"),
                     QStringLiteral("Text Files (*.txt)"), QStringLiteral("All Files (*)")},
                    QStringLiteral("txt")) {}

TBrowseDialog::TBrowseDialog(QWidget* parent, const QString& fileName, const QStringList& filters,
                             const QString& suffix)
    : QFileDialog(parent, QStringLiteral("Browse")) {
    setObjectName(QStringLiteral("BrowseDialog"));
    setAcceptMode(QFileDialog::AcceptSave);
    setFileMode(QFileDialog::AnyFile);
    // Our own dialog, so that it looks and behaves the same on every desktop and in tests.
    setOption(QFileDialog::DontUseNativeDialog, true);
    // The file is neither created nor opened here; Start empties it.
    setOption(QFileDialog::DontConfirmOverwrite, true);
    setNameFilters(filters);
    selectNameFilter(nameFilters().constFirst());
    setDefaultSuffix(suffix);
    if (!fileName.isEmpty()) {
        const QFileInfo info(fileName);
        setDirectory(info.absoluteDir());
        selectFile(info.fileName());
    }
}

QString TBrowseDialog::ChosenFile() const {
    const QStringList files = selectedFiles();
    return files.isEmpty() ? QString() : files.constFirst();
}

void TBrowseDialog::accept() {
    const QFileInfo info(ChosenFile());
    // Read-only by its mode bits, not by whether this user could write it anyway (the
    // superuser can); WriteUser is left out since it asks the latter.
    const QFile::Permissions writable = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
    if (info.exists() && info.isFile() &&
        (!(info.permissions() & writable) || !info.isWritable())) {
        QMessageBox::warning(
            this, windowTitle(),
            QStringLiteral("%1 is read-only.\nChoose another file name.").arg(info.fileName()));
        return;
    }
    QFileDialog::accept();
}

}  // namespace corvane::ui
