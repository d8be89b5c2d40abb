#include "ui/help_viewer.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace corvane::ui {

QString FindHelpFile() {
    const QDir programDir(QCoreApplication::applicationDirPath());
    const QString name = QString::fromLatin1(kHelpFileName);
    const QString candidates[] = {
        programDir.filePath(name),
        programDir.filePath(QStringLiteral("../share/corvane/") + name),
    };
    for (const QString& candidate : candidates) {
        if (QFileInfo(candidate).isFile()) {
            return QFileInfo(candidate).canonicalFilePath();
        }
    }
    return {};
}

THelpViewer::THelpViewer(QWidget* parent, const QString& path) : QDialog(parent) {
    setObjectName(QStringLiteral("HelpViewer"));
    setWindowTitle(QStringLiteral("Corvane Help"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    resize(640, 520);

    browser_ = new QTextBrowser(this);
    browser_->setObjectName(QStringLiteral("HelpBrowser"));
    browser_->setOpenExternalLinks(true);
    contents_ = QUrl::fromLocalFile(path);
    contents_.setFragment(QString::fromLatin1(kContentsAnchor));
    ShowContents();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* contents = buttons->addButton(QStringLiteral("&Contents"), QDialogButtonBox::ActionRole);
    connect(contents, &QPushButton::clicked, this, &THelpViewer::ShowContents);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(browser_);
    layout->addWidget(buttons);
}

void THelpViewer::ShowContents() {
    // The file's name does not say HTML, so the type is given.
    browser_->setSource(contents_, QTextDocument::HtmlResource);
}

}  // namespace corvane::ui
