// The help viewer: a small window showing the help file "CORVANE.HLP" (HTML), opened on
// its table of contents.
#pragma once

#include <QDialog>
#include <QString>
#include <QUrl>

class QTextBrowser;

namespace corvane::ui {

inline constexpr const char* kHelpFileName = "CORVANE.HLP";
// The anchor of the table of contents in the help file.
inline constexpr const char* kContentsAnchor = "contents";

// The help file beside the program, or in ../share/corvane/ from it (the installed
// layout); empty when neither exists.
QString FindHelpFile();

class THelpViewer final : public QDialog {
    Q_OBJECT
public:
    // Shows `path` at its table of contents.
    THelpViewer(QWidget* parent, const QString& path);

    QTextBrowser* Browser() const { return browser_; }
    // Back to the table of contents.
    void ShowContents();

private:
    QTextBrowser* browser_;
    QUrl contents_;
};

}  // namespace corvane::ui
