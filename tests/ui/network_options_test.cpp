// The Options dialog's network rows: Listen Address and Half Close, greyed while relaying,
// applied on OK and saved at the close; a Listen Address that Start refuses brings the
// dialog back with the focus on its box.
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <functional>
#include <string>

#include "form_support.h"
#include "platform/settings_store.h"
#include "ui/options_dialog.h"

namespace corvane::ui::testing {
namespace {

class NetworkOptionsTest : public FormTest {
protected:
    // Answers the next Options dialog: records what it shows, then does what edit says and
    // clicks button.
    void AnswerOptions(std::function<void(TOptionsDialog&)> edit,
                       QDialogButtonBox::StandardButton button) {
        AnswerModal([this, edit, button](QWidget* modal) {
            auto* dialog = qobject_cast<TOptionsDialog*>(modal);
            if (dialog == nullptr) {
                modal->close();
                return;
            }
            seen_ = true;
            enabled_ =
                dialog->EditListenAddress->isEnabled() && dialog->CheckBoxHalfClose->isEnabled();
            note_ = dialog->LabelNote->isVisible();
            focused_ = dialog->EditListenAddress->hasFocus();
            shown_ = dialog->EditListenAddress->text().toStdString();
            edit(*dialog);
            dialog->Buttons->button(button)->click();
        });
    }

    bool seen_ = false;
    bool enabled_ = false;
    bool note_ = false;
    bool focused_ = false;
    std::string shown_;
};

TEST_F(NetworkOptionsTest, OkAppliesBothWhileStoppedTheCloseSavesThemAndRelayingGreysThem) {
    AnswerOptions(
        [](TOptionsDialog& d) {
            d.EditListenAddress->setText(QStringLiteral("127.0.0.1"));
            d.CheckBoxHalfClose->setChecked(true);
        },
        QDialogButtonBox::Ok);
    Form().MenuItemOptions->trigger();
    ASSERT_TRUE(seen_);
    EXPECT_TRUE(enabled_);
    EXPECT_FALSE(note_);
    EXPECT_EQ(Form().Control().ListenAddress(), "127.0.0.1");
    EXPECT_TRUE(Form().Control().HalfClose());

    StartRelay();
    EXPECT_EQ(Form().Control().Engine().ListenAddress, "127.0.0.1");
    EXPECT_TRUE(Form().Control().Engine().HalfClose);
    seen_ = false;
    AnswerOptions([](TOptionsDialog& d) { d.CheckBoxHalfClose->setChecked(false); },
                  QDialogButtonBox::Ok);
    Form().MenuItemOptions->trigger();
    ASSERT_TRUE(seen_);
    EXPECT_FALSE(enabled_) << "greyed while relaying";
    EXPECT_TRUE(note_);
    EXPECT_EQ(shown_, "127.0.0.1");
    EXPECT_TRUE(Form().Control().HalfClose()) << "a greyed row changes nothing";

    Form().Control().Stop();
    Form().close();
    platform::SettingsKey key;
    std::string address;
    std::uint32_t halfClose = 0;
    ASSERT_TRUE(key.QueryString("Listen Address", 64, address));
    ASSERT_TRUE(key.QueryDword("Half Close", halfClose));
    EXPECT_EQ(address, "127.0.0.1");
    EXPECT_EQ(halfClose, 1u);
}

TEST_F(NetworkOptionsTest, ARefusedListenAddressOpensTheDialogOnItsBox) {
    Form().Control().SetListenAddress("localhost");
    FillParameters();
    std::string error;
    AnswerModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box == nullptr) {
            modal->close();
            return;
        }
        error = box->text().toStdString();
        // The dialog that follows is answered once this box has gone.
        AnswerOptions([](TOptionsDialog& d) { d.EditListenAddress->setText(QString()); },
                      QDialogButtonBox::Ok);
        box->button(QMessageBox::Ok)->click();
    });
    Form().ButtonStart->click();
    EXPECT_FALSE(Form().Control().Running());
    EXPECT_EQ(error, std::string(control::kListenAddressInvalid) + ".");
    ASSERT_TRUE(seen_) << "the Options dialog follows the error box";
    EXPECT_TRUE(focused_);
    EXPECT_EQ(shown_, "localhost");
    EXPECT_EQ(Form().Control().ListenAddress(), "");
}

}  // namespace
}  // namespace corvane::ui::testing
