#pragma once

#include "dialog/dialog_model.hpp"

#include <QDialog>

#include <array>
#include <filesystem>
#include <iterator>

class QKeyEvent;
class QScrollBar;

namespace zorblinth::qt {

// The settings dialog: the model's captions and layout, two scroll bars and two buttons. It
// reads the settings when built; "設定" writes them (making the folder), tells the user when it
// cannot, and closes with the outcome as the dialog's result.
class SettingsDialog : public QDialog {
public:
    explicit SettingsDialog(std::filesystem::path settingsFile, QWidget* parent = nullptr);

    // The widget standing for one of the model's controls.
    QWidget* control(dialog::Control which) const;

    // How the dialog closed, once it has.
    dialog::DialogOutcome outcome() const { return static_cast<dialog::DialogOutcome>(result()); }

    // The close box: closes and writes nothing.
    void reject() override;

protected:
    // Neither Enter nor Escape closes this dialog.
    void keyPressEvent(QKeyEvent* event) override;

private:
    QScrollBar* bar(dialog::Control which) const;
    void showLineWidth(int lineWidth);
    void save();

    std::filesystem::path settingsFile_;
    std::array<QWidget*, std::size(dialog::layout)> controls_{};
};

// Ends the process at once with the status start-up gives this outcome; must not return.
using EndProcess = void (*)(dialog::DialogOutcome);

// Shows the settings dialog until it closes. "設定" writes the file (creating its folder) and
// returns closed, or tells the user why it could not and returns settingsNotSaved; the cancel
// button and the close box return closed and write nothing. Where Qt cannot go on (no display
// to open), it ends the process through endOnFatalError with windowSystemFailed.
dialog::DialogOutcome runSettingsDialog(int& argc, char** argv,
                                        const std::filesystem::path& settingsFile,
                                        EndProcess endOnFatalError);

} // namespace zorblinth::qt
