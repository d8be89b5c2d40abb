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
    QUrl url = QUrl::fromLocalFile(path);
    url.setFragment(QString::fromLatin1(kContentsAnchor));
    // The file's name does not say HTML, so the type is given.
    browser_->setSource(url, QTextDocument::HtmlResource);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* contents = buttons->addButton(QStringLiteral("&Contents"), QDialogButtonBox::ActionRole);
    connect(contents, &QPushButton::clicked, this, [this, url] { browser_->setSource(url); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(browser_);
    layout->addWidget(buttons);
}

}  // namespace corvane::ui
