#pragma once

#include "dialog/dialog_model.hpp"

#include <QDialog>

#include <array>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QKeyEvent;
class QScrollBar;
class QSpinBox;

namespace zorblinth::qt {

// The settings dialog: the model's captions and layout, two scroll bars and two buttons. It
// reads the settings when built; "設定" writes them (making the folder), tells the user when it
// cannot, and closes with the outcome as the dialog's result. With an idle group store it grows
// the model's idle group below, showing the login entry in force; "設定" then also changes the
// entry and the watcher through the store where the group was changed, and tells the user in
// the same way when the entry cannot be written.
class SettingsDialog : public QDialog {
public:
    explicit SettingsDialog(std::filesystem::path settingsFile,
                            dialog::IdleGroupStore* idleGroup = nullptr, QWidget* parent = nullptr);

    // The widget standing for one of the model's controls (the idle group's: null without it).
    QWidget* control(dialog::Control which) const;
    QWidget* control(dialog::IdleControl which) const;

    // How the dialog closed, once it has.
    dialog::DialogOutcome outcome() const { return static_cast<dialog::DialogOutcome>(result()); }

    // The close box: closes and writes nothing.
    void reject() override;

protected:
    // Neither Enter nor Escape closes this dialog.
    void keyPressEvent(QKeyEvent* event) override;

private:
    QScrollBar* bar(dialog::Control which) const;
    QCheckBox* box(dialog::IdleControl which) const;
    QSpinBox* waitMinutes() const;
    void addIdleGroup();
    void showLineWidth(int lineWidth);
    void save();
    bool saveIdleGroup();
    void tellSaveFailure(const QString& text);

    std::filesystem::path settingsFile_;
    dialog::IdleGroupStore* idleGroup_;
    std::optional<std::vector<std::string>> entryInForce_;
    std::array<QWidget*, std::size(dialog::layout)> controls_{};
    std::array<QWidget*, std::size(dialog::idleGroupLayout)> idleControls_{};
};

// Ends the process at once with the status start-up gives this outcome; must not return.
using EndProcess = void (*)(dialog::DialogOutcome);

// Shows the settings dialog (with the idle group, where a store is given) until it closes.
// "設定" writes the file (creating its folder), and the group's entry, and returns closed, or
// tells the user why it could not and returns settingsNotSaved; the cancel button and the close
// box return closed and write nothing. Where Qt cannot go on (no display to open), it ends the
// process through endOnFatalError with windowSystemFailed.
dialog::DialogOutcome runSettingsDialog(int& argc, char** argv,
                                        const std::filesystem::path& settingsFile,
                                        EndProcess endOnFatalError,
                                        dialog::IdleGroupStore* idleGroup = nullptr);

} // namespace zorblinth::qt
