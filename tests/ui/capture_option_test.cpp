// The Capture File in the Options dialog: Browse fills the box, OK keeps the name for the
// next Start and the close saves it; while relaying the row is greyed. The rotation rows
// beside it take only a rule.
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <string>
#include <vector>

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

TEST_F(CaptureOptionTest, RotateTakesOnlyARuleAndOkKeepsItWithThePartsKept) {
    std::vector<bool> okOpen;
    AnswerModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<TOptionsDialog*>(modal);
        if (dialog == nullptr) {
            modal->close();
            return;
        }
        QPushButton* ok = dialog->Buttons->button(QDialogButtonBox::Ok);
        for (const char* text : {"1h,100", "1H", "1h,100M"}) {
            dialog->EditRotate->setText(QString::fromLatin1(text));
            okOpen.push_back(ok->isEnabled());
        }
        dialog->SpinPartsKept->setValue(24);
        ok->click();
    });
    Form().MenuItemOptions->trigger();
    EXPECT_EQ(okOpen, (std::vector<bool>{false, false, true}));
    EXPECT_EQ(Form().Control().Rotate(), "1h,100M");
    EXPECT_EQ(Form().Control().PartsKept(), 24u);
    Form().close();
    platform::SettingsKey key;
    std::string stored;
    ASSERT_TRUE(key.QueryString("Rotate", 32, stored));
    EXPECT_EQ(stored, "1h,100M");
}

}  // namespace
}  // namespace corvane::ui::testing
