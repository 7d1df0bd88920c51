#pragma once

#include "dialog/dialog_model.hpp"
#include "startup/exit_status.hpp"

#include <QDialog>

#include <array>
#include <filesystem>
#include <iterator>

class QKeyEvent;
class QScrollBar;

namespace zorblinth::qt {

// The settings dialog: the model's captions and layout, two scroll bars and two buttons. It
// reads the settings when built; "設定" writes them (making the folder), tells the user when it
// cannot, and closes with the program's exit status as the dialog's result.
class SettingsDialog : public QDialog {
public:
    explicit SettingsDialog(std::filesystem::path settingsFile, QWidget* parent = nullptr);

    // The widget standing for one of the model's controls.
    QWidget* control(dialog::Control which) const;

    // The program's exit status once the dialog has closed.
    ExitStatus exitStatus() const { return static_cast<ExitStatus>(result()); }

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

// Shows the settings dialog until it closes. "設定" writes the file (creating its folder) and
// returns normalEnd, or tells the user why it could not and returns settingsNotSaved; the
// cancel button and the close box return normalEnd and write nothing. Without a display to
// open, returns windowSystemFailed.
ExitStatus runSettingsDialog(int& argc, char** argv, const std::filesystem::path& settingsFile);

} // namespace zorblinth::qt
