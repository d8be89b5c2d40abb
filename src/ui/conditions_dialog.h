// The Network Conditions dialog (Tools > Network Conditions...): every condition of the set,
// per direction and per Connection, with its unit. It stays open beside the window (not
// modal), and a change applies at once: when a box is left or Enter is pressed in it, or a
// choice is made, the whole set is read back and handed to the relay control, which puts it in
// force (the engine decides what reaches live Connections and what only new ones; the note
// under the per-Connection group says which). A value the grammar does not take is named in
// the message line, its box is marked, and the set in force stays.
//
// The presets: the built-in ones and the user's own in a combo box; choosing one puts it in
// force and keeps its name for the next start. The current set is saved under a name of the
// user's own as a conditions file (control/conditions_presets.h), which then becomes the
// chosen preset. A set changed by hand is no preset: the combo box shows "Custom" and no name
// is kept, so the next start has no conditions.
#pragma once

#include <QDialog>
#include <QString>
#include <optional>
#include <string>

#include "relay/conditions/conditions.h"

class QComboBox;
class QGridLayout;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;

namespace corvane::control {
class RelayControl;
}

namespace corvane::ui {

// The boxes of one direction's conditions.
struct DirectionBoxes {
    QLineEdit* Latency;         // ms
    QLineEdit* Jitter;          // ms
    QComboBox* JitterShape;     // uniform, normal
    QLineEdit* Bandwidth;       // bytes per second
    QLineEdit* SliceSize;       // bytes
    QLineEdit* SliceVariation;  // bytes
    QLineEdit* SlicePause;      // ms
    QLineEdit* Loss;            // percent
    QLineEdit* Limit;           // bytes
    QComboBox* LimitEnding;     // close, reset
};

class TConditionsDialog final : public QDialog {
    Q_OBJECT
public:
    TConditionsDialog(QWidget* parent, control::RelayControl& control);

    // Shows the set in force and the presets as they are now (a preset file may have come or
    // gone since), with the chosen preset selected when it is still the set in force.
    void Refresh();

    // The set the boxes say, or nullopt with the message shown and the box marked.
    std::optional<relay::Conditions> ReadBoxes();
    // Fills the boxes from set.
    void ShowSet(const relay::Conditions& set);

    QComboBox* ComboPreset;
    QLineEdit* EditPresetName;
    QPushButton* ButtonSavePreset;
    DirectionBoxes Up;    // Client to Server
    DirectionBoxes Down;  // Server to Client
    QLineEdit* EditConnectDelay;
    QLineEdit* EditEndAfter;
    QComboBox* ComboEndAfterEnding;
    QLineEdit* EditStallAfter;
    QLineEdit* EditStallEnd;
    QComboBox* ComboStallEnding;
    QLineEdit* EditSlowClose;
    QComboBox* ComboRefuse;  // No, close, reset, hold
    QLineEdit* EditShare;
    QLineEdit* EditSeed;
    QLabel* LabelLiveNote;
    QLabel* LabelProblem;  // hidden while nothing is wrong
    QPushButton* ButtonClose;

private:
    QWidget* BuildDirections();
    QWidget* BuildPerConnection();
    DirectionBoxes MakeDirection(QGridLayout* grid, int column, const char* prefix);
    QLineEdit* MakeBox(const QString& name, const QString& placeholder);
    QComboBox* MakeChoice(const QString& name, const QStringList& items);

    // The boxes' set put in force, when it differs from the one in force.
    void Apply();
    // The preset of the combo box's item put in force, its name kept.
    void ChoosePreset(int index);
    void SavePreset();
    // The combo box's items: the built-in presets, a separator, the user's own.
    void ListPresets();
    // Selects the item named name, or none ("Custom").
    void SelectPreset(const std::string& name);
    // The message line: problem in the Error colour, or hidden when empty; bad is marked.
    void ShowProblem(const QString& problem, QLineEdit* bad = nullptr);

    control::RelayControl& control_;
    QLineEdit* marked_ = nullptr;
    bool filling_ = false;  // ShowSet at work: the boxes' signals are not the user's
};

}  // namespace corvane::ui
