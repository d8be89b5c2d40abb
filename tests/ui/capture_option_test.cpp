// The Capture File in the Options dialog: Browse fills the box, OK keeps the name for the
// next Start and the close saves it; while relaying the row is greyed.
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <string>

#include "form_support.h"
#include "platform/settings_store.h"
#include "ui/browse_dialog.h"
#include "ui/options_dialog.h"

namespace corvane::ui::testing {
namespace {

class CaptureOptionTest : public FormTest {};

TEST_F(CaptureOptionTest, BrowseAndOkSetTheCaptureFileWhichStartOpensAndTheCloseSaves) {
    const QString chosen = workDir_.filePath(QStringLiteral("run"));
    AnswerModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<TOptionsDialog*>(modal);
        if (dialog == nullptr) {
            modal->close();
            return;
        }
        // Browse, answered with a name without its suffix.
        AnswerModal([&](QWidget* inner) {
            if (auto* browse = qobject_cast<TBrowseDialog*>(inner)) {
                browse->selectFile(chosen);
                browse->accept();
            } else {
                inner->close();
            }
        });
        dialog->ButtonCaptureBrowse->click();
        dialog->Buttons->button(QDialogButtonBox::Ok)->click();
    });
    Form().MenuItemOptions->trigger();
    const std::string expected = (chosen + QStringLiteral(".pcap")).toStdString();
    ASSERT_EQ(Form().Control().CaptureFile(), expected);

    StartRelay();
    EXPECT_TRUE(Form().Control().Log().Capture().IsOpen());
    bool enabled = true;
    bool note = false;
    AnswerModal([&](QWidget* modal) {
        if (auto* dialog = qobject_cast<TOptionsDialog*>(modal)) {
            enabled =
                dialog->EditCaptureFile->isEnabled() || dialog->ButtonCaptureBrowse->isEnabled();
            note = dialog->LabelNote->isVisible();
            dialog->EditCaptureFile->setText(QStringLiteral("ignored.pcap"));
            dialog->Buttons->button(QDialogButtonBox::Ok)->click();
        } else {
            modal->close();
        }
    });
    Form().MenuItemOptions->trigger();
    EXPECT_FALSE(enabled) << "greyed while relaying";
    EXPECT_TRUE(note);
    EXPECT_EQ(Form().Control().CaptureFile(), expected);

    Form().Control().Stop();
    EXPECT_FALSE(Form().Control().Log().Capture().IsOpen());
    Form().close();
    platform::SettingsKey key;
    std::string stored;
    ASSERT_TRUE(key.QueryString("Capture File", 256, stored));
    EXPECT_EQ(stored, expected);
}

}  // namespace
}  // namespace corvane::ui::testing
