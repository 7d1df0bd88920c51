#include "dialog/settings_dialog_qt.hpp"

#include "dialog/save_failure.hpp"
#include "settings/settings.hpp"

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QProxyStyle>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>

#include <cstring>
#include <string_view>
#include <system_error>

namespace zorblinth::qt {

namespace {

using dialog::Control;

QString qString(std::u16string_view text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

std::size_t indexOf(Control control) {
    return static_cast<std::size_t>(control);
}

std::size_t indexOf(dialog::IdleControl control) {
    return static_cast<std::size_t>(control);
}

// Like the Windows scroll bar: a click in the track steps by one whatever the desktop's style
// says, the middle button does nothing, and there is no (untranslated) context menu.
class SteppingScrollBarStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returned) const override {
        switch (hint) {
        case SH_ScrollBar_LeftClickAbsolutePosition:
        case SH_ScrollBar_MiddleClickAbsolutePosition:
        case SH_ScrollBar_ContextMenu:
            return 0;
        default:
            return QProxyStyle::styleHint(hint, option, widget, returned);
        }
    }
};

// A horizontal bar over a value range that its arrows, track clicks and keys move by one; it takes
// the focus from Tab and from clicks.
class SteppingScrollBar : public QScrollBar {
public:
    SteppingScrollBar(ValueRange range, QWidget* parent) : QScrollBar(Qt::Horizontal, parent) {
        auto* style = new SteppingScrollBarStyle;
        style->setParent(this);
        setStyle(style);
        setRange(range.minimum, range.maximum);
        setSingleStep(1);
        setPageStep(1); // also keeps a wheel notch to one step
        setFocusPolicy(Qt::StrongFocus);
    }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        // QScrollBar inverts its controls so that a vertical bar's Up and Page Up move towards
        // the top; Qt 6 applies that to Left and Right as well, which would step backwards here.
        if (event->key() == Qt::Key_Left)
            triggerAction(SliderSingleStepSub);
        else if (event->key() == Qt::Key_Right)
            triggerAction(SliderSingleStepAdd);
        else
            QScrollBar::keyPressEvent(event);
    }
};

QWidget* makeControl(Control control, QWidget* parent) {
    switch (control) {
    case Control::lineWidthBar:
        return new SteppingScrollBar(lineWidthRange, parent);
    case Control::lineAmountBar:
        return new SteppingScrollBar(lineAmountRange, parent);
    case Control::setButton:
    case Control::cancelButton: {
        auto* button = new QPushButton(qString(dialog::caption(control)), parent);
        button->setAutoDefault(false); // Enter clicks no button, not even a focused one
        return button;
    }
    default: {
        auto* label = new QLabel(qString(dialog::caption(control)), parent);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return label;
    }
    }
}

QWidget* makeControl(dialog::IdleControl control, QWidget* parent) {
    switch (control) {
    case dialog::IdleControl::startWhenIdleBox:
    case dialog::IdleControl::lockOnResumeBox:
        return new QCheckBox(qString(dialog::caption(control)), parent);
    case dialog::IdleControl::waitMinutesBox: {
        auto* minutes = new QSpinBox(parent);
        minutes->setRange(dialog::minimumWaitMinutes, dialog::maximumWaitMinutes);
        minutes->setAlignment(Qt::AlignRight);
        return minutes;
    }
    default: {
        auto* label = new QLabel(qString(dialog::caption(control)), parent);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return label;
    }
    }
}

// The heading, the file and the system's reason, in the user's language: QApplication has set
// the C library's locale from the environment, so strerror's text is already translated.
QString saveFailureText(const SettingsFileError& failure) {
    return QString::fromStdU16String(
        dialog::saveFailureMessage(failure, [](const std::error_code& error) {
            const bool isErrno = error.category() == std::generic_category() ||
                                 error.category() == std::system_category();
            if (!error || !isErrno)
                return std::u16string();
            return QString::fromLocal8Bit(std::strerror(error.value())).toStdU16String();
        }));
}

// Qt's message handler is one process-wide C callback: what it needs is kept here.
QtMessageHandler defaultMessageHandler = nullptr;
EndProcess endOnFatalError = nullptr;

// Qt ends the process when it finds no display to open; the program's outcome for that is
// windowSystemFailed, not an abort.
void endOnFatalMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    defaultMessageHandler(type, context, text);
    if (type == QtFatalMsg)
        endOnFatalError(dialog::DialogOutcome::windowSystemFailed);
}

int resultOf(dialog::DialogOutcome outcome) {
    return static_cast<int>(outcome);
}

} // namespace

SettingsDialog::SettingsDialog(std::filesystem::path settingsFile,
                               dialog::IdleGroupStore* idleGroup, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      settingsFile_(std::move(settingsFile)), idleGroup_(idleGroup) {
    setWindowTitle(qString(dialog::title));
    QFont captionFont = font();
    captionFont.setPointSize(dialog::fontPointSize);
    setFont(captionFont);
    setFixedSize(dialog::innerWidth, dialog::innerHeight);

    // Created in the model's tab order, which Qt's focus chain follows; labels take no focus.
    for (const dialog::ControlLayout& item : dialog::layout) {
        QWidget* widget = makeControl(item.control, this);
        widget->setGeometry(item.rect.left, item.rect.top, item.rect.width, item.rect.height);
        controls_[indexOf(item.control)] = widget;
    }

    const dialog::ScrollValues opening = dialog::openingValues(readSettingsOrZeros(settingsFile_));
    bar(Control::lineWidthBar)->setValue(opening.lineWidth);
    bar(Control::lineAmountBar)->setValue(opening.lineAmount);
    showLineWidth(opening.lineWidth);

    // The bars track the thumb, so the readout follows a drag before the button is released.
    connect(bar(Control::lineWidthBar), &QScrollBar::valueChanged, this,
            &SettingsDialog::showLineWidth);
    connect(static_cast<QPushButton*>(control(Control::setButton)), &QPushButton::clicked, this,
            &SettingsDialog::save);
    connect(static_cast<QPushButton*>(control(Control::cancelButton)), &QPushButton::clicked, this,
            [this] { done(resultOf(dialog::DialogOutcome::closed)); });
    if (idleGroup_)
        addIdleGroup();
    bar(Control::lineWidthBar)->setFocus();
}

// Below the seed's controls, after them in the focus chain; it shows the entry in force.
void SettingsDialog::addIdleGroup() {
    setFixedSize(dialog::innerWidth, dialog::innerHeightWithIdleGroup);
    for (const dialog::IdleControlLayout& item : dialog::idleGroupLayout) {
        QWidget* widget = makeControl(item.control, this);
        widget->setGeometry(item.rect.left, item.rect.top, item.rect.width, item.rect.height);
        idleControls_[indexOf(item.control)] = widget;
    }
    entryInForce_ = idleGroup_->entryCommand();
    const dialog::IdleChoice opening = dialog::idleChoiceOf(entryInForce_);
    box(dialog::IdleControl::startWhenIdleBox)->setChecked(opening.startWhenIdle);
    waitMinutes()->setValue(opening.waitMinutes);
    box(dialog::IdleControl::lockOnResumeBox)->setChecked(opening.lockOnResume);
}

QWidget* SettingsDialog::control(Control which) const {
    return controls_[indexOf(which)];
}

QWidget* SettingsDialog::control(dialog::IdleControl which) const {
    return idleControls_[indexOf(which)];
}

QCheckBox* SettingsDialog::box(dialog::IdleControl which) const {
    return static_cast<QCheckBox*>(control(which));
}

QSpinBox* SettingsDialog::waitMinutes() const {
    return static_cast<QSpinBox*>(control(dialog::IdleControl::waitMinutesBox));
}

QScrollBar* SettingsDialog::bar(Control which) const {
    return static_cast<QScrollBar*>(control(which));
}

void SettingsDialog::reject() {
    done(resultOf(dialog::DialogOutcome::closed));
}

void SettingsDialog::keyPressEvent(QKeyEvent* event) {
    // QDialog's own handling would close on Escape and click a default button on Enter.
    QWidget::keyPressEvent(event);
}

void SettingsDialog::showLineWidth(int lineWidth) {
    static_cast<QLabel*>(control(Control::lineWidthLabel))
        ->setText(qString(dialog::lineWidthLabelText(lineWidth)));
}

// "設定": writes the bar positions, then the idle group's entry; on failure tells the user
// which file and why.
void SettingsDialog::save() {
    const dialog::ScrollValues positions{bar(Control::lineWidthBar)->value(),
                                         bar(Control::lineAmountBar)->value()};
    try {
        writeSettingsCreatingFolder(settingsFile_, dialog::settingsToSave(positions));
    } catch (const SettingsFileError& failure) {
        tellSaveFailure(saveFailureText(failure));
        return;
    }
    if (idleGroup_ && !saveIdleGroup())
        return;
    done(resultOf(dialog::DialogOutcome::closed));
}

// The entry and the watcher, where the group no longer shows what is in force.
bool SettingsDialog::saveIdleGroup() {
    waitMinutes()->interpretText(); // a number typed but not yet taken
    const dialog::IdleChoice chosen{box(dialog::IdleControl::startWhenIdleBox)->isChecked(),
                                    waitMinutes()->value(),
                                    box(dialog::IdleControl::lockOnResumeBox)->isChecked()};
    const dialog::EntryChange change = dialog::entryChangeFor(chosen, entryInForce_);
    if (!change.needed)
        return true;
    const auto failure = idleGroup_->apply(change.watcherArguments);
    if (!failure)
        return true;
    tellSaveFailure(QString::fromStdU16String(
        dialog::saveFailureMessage(failure->entry, dialog::utf16FromUtf8(failure->reason))));
    return false;
}

void SettingsDialog::tellSaveFailure(const QString& text) {
    QMessageBox message(QMessageBox::Critical, qString(dialog::saveFailureCaption), text,
                        QMessageBox::Ok, this);
    message.setTextFormat(Qt::PlainText); // a path may hold '<'
    message.exec();
    done(resultOf(dialog::DialogOutcome::settingsNotSaved));
}

dialog::DialogOutcome runSettingsDialog(int& argc, char** argv,
                                        const std::filesystem::path& settingsFile,
                                        EndProcess endProcess, dialog::IdleGroupStore* idleGroup) {
    endOnFatalError = endProcess;
    defaultMessageHandler = qInstallMessageHandler(endOnFatalMessage);
    const QApplication application(argc, argv);
    qInstallMessageHandler(defaultMessageHandler);

    SettingsDialog dialog(settingsFile, idleGroup);
    dialog.exec();
    return dialog.outcome();
}

} // namespace zorblinth::qt
