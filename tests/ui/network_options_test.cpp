// The Options dialog's network rows: Listen Address, Half Close and TLS, greyed while
// relaying, applied on OK and saved at the close; a Listen Address that Start refuses brings
// the dialog back with the focus on its box.
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <functional>
#include <string>
#include <vector>

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
            // The box the dialog's focus is on, also before the window system has made
            // the dialog the active window (until then no widget has the focus itself).
            focused_ = dialog->focusWidget() == dialog->EditListenAddress;
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

// The TLS rows: the certificate's open with the Client's side, the check of the Server's with
// the Server's; Cancel keeps nothing, OK keeps all four, relaying greys them all.
TEST_F(NetworkOptionsTest, TlsRowsFollowTheSidesOkAppliesThemAndRelayingGreysThem) {
    struct Open {
        bool cert, key, verify;
        bool operator==(const Open&) const = default;
    };
    auto open = [](TOptionsDialog& d) {
        return Open{d.EditTlsCert->isEnabled() && d.ButtonTlsCertBrowse->isEnabled(),
                    d.EditTlsKey->isEnabled() && d.ButtonTlsKeyBrowse->isEnabled(),
                    d.CheckBoxTlsVerify->isEnabled()};
    };
    std::vector<Open> seen;
    auto choose = [&](TOptionsDialog& d) {
        for (int sides = 0; sides < 4; ++sides) {
            d.ComboTls->setCurrentIndex(sides);
            seen.push_back(open(d));
        }
        d.EditTlsCert->setText(QStringLiteral("/certs/relay.pem"));
        d.EditTlsKey->setText(QStringLiteral("/certs/relay.key"));
        d.CheckBoxTlsVerify->setChecked(true);
    };
    AnswerOptions(choose, QDialogButtonBox::Cancel);
    Form().MenuItemOptions->trigger();
    ASSERT_TRUE(seen_);
    const std::vector<Open> expected = {
        {false, false, false}, {true, true, false}, {false, false, true}, {true, true, true}};
    EXPECT_EQ(seen, expected) << "None, Client, Server, Both";
    EXPECT_EQ(Form().Control().Tls(), 0u) << "Cancel changes nothing";
    EXPECT_EQ(Form().Control().TlsCert(), "");
    EXPECT_FALSE(Form().Control().TlsVerify());

    // OK, with the certificate chosen by its Browse button, an open dialog for a file that
    // exists.
    const QString pem = workDir_.filePath(QStringLiteral("own.pem"));
    QFile(pem).open(QIODevice::WriteOnly);
    AnswerOptions(
        [&](TOptionsDialog& d) {
            choose(d);
            AnswerModal([&](QWidget* inner) {
                if (auto* browse = qobject_cast<QFileDialog*>(inner)) {
                    browse->selectFile(pem);
                    QMetaObject::invokeMethod(browse, "accept");
                } else {
                    inner->close();
                }
            });
            d.ButtonTlsCertBrowse->click();
        },
        QDialogButtonBox::Ok);
    Form().MenuItemOptions->trigger();
    EXPECT_EQ(Form().Control().Tls(), 3u);
    EXPECT_EQ(Form().Control().TlsCert(), pem.toStdString());
    EXPECT_EQ(Form().Control().TlsKey(), "/certs/relay.key");
    EXPECT_TRUE(Form().Control().TlsVerify());

    // Relayed without TLS, so that the files named above are never opened.
    Form().Control().SetTls(0, "/certs/relay.pem", "/certs/relay.key", true);
    StartRelay();
    seen.clear();
    std::string combo;
    AnswerOptions(
        [&](TOptionsDialog& d) {
            combo = d.ComboTls->isEnabled() ? "open" : "greyed";
            seen.push_back(open(d));
            d.ComboTls->setCurrentIndex(3);
        },
        QDialogButtonBox::Ok);
    Form().MenuItemOptions->trigger();
    EXPECT_EQ(combo, "greyed");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], (Open{false, false, false})) << "greyed while relaying";
    EXPECT_TRUE(note_);
    EXPECT_EQ(Form().Control().Tls(), 0u) << "a greyed row changes nothing";

    Form().Control().Stop();
    Form().Control().SetTls(2, "/certs/relay.pem", "", true);
    Form().close();
    platform::SettingsKey key;
    std::uint32_t tls = 0;
    std::uint32_t verify = 0;
    std::string cert;
    std::string tlsKey = "absent";
    ASSERT_TRUE(key.QueryDword("TLS", tls));
    ASSERT_TRUE(key.QueryDword("TLS Verify", verify));
    ASSERT_TRUE(key.QueryString("TLS Certificate", 256, cert));
    EXPECT_EQ(tls, 2u);
    EXPECT_EQ(verify, 1u);
    EXPECT_EQ(cert, "/certs/relay.pem");
    EXPECT_FALSE(key.QueryString("TLS Key", 256, tlsKey)) << "never set, so never stored";
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
