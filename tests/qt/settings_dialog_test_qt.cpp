// The Qt settings dialog driven like a user drives it: real widgets, and mouse and key events
// delivered through the dialog's window, on Qt's offscreen platform.
#include "dialog/settings_dialog_qt.hpp"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QStyleOptionSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <sys/stat.h>

using namespace zorblinth;
using dialog::Control;
namespace fs = std::filesystem;

using Bytes = std::vector<unsigned char>;
Q_DECLARE_METATYPE(Bytes)

namespace {

QString lineWidthText(int lineWidth) {
    return QStringLiteral("線の太さ - ") + QString::number(lineWidth);
}

void store(const fs::path& file, const Bytes& bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
}

Bytes stored(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Where a part of a scroll bar (arrow, track, thumb) is drawn, in the bar's coordinates.
QRect partOf(const QScrollBar* bar, QStyle::SubControl part) {
    QStyleOptionSlider option;
    option.initFrom(bar);
    option.state |= QStyle::State_Horizontal;
    option.orientation = Qt::Horizontal;
    option.subControls = QStyle::SC_All;
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.sliderPosition = bar->sliderPosition();
    option.sliderValue = bar->value();
    option.singleStep = bar->singleStep();
    option.pageStep = bar->pageStep();
    return bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, part, bar);
}

using Command = std::vector<std::string>;

// The login entry and the watcher as the idle group sees them: what it shows on opening, and
// every change 設定 asks for (failing, when told to).
class FakeIdleGroupStore final : public dialog::IdleGroupStore {
public:
    std::optional<Command> entry;
    bool failing = false;
    std::vector<std::optional<Command>> applied;

    std::optional<Command> entryCommand() override { return entry; }
    std::optional<dialog::EntryFailure> apply(const std::optional<Command>& arguments) override {
        applied.push_back(arguments);
        if (failing)
            return dialog::EntryFailure{"/home/u/.config/autostart/zorblinth-idle.desktop",
                                        "Permission denied"};
        return std::nullopt;
    }
};

// What a message box said when it was dismissed.
struct SeenMessage {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

} // namespace

class SettingsDialogTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir home_;
    fs::path settingsFile_;
    std::unique_ptr<qt::SettingsDialog> dialog_;

    // Shows the dialog on the settings file (with the idle group, given a store) and waits until
    // its window is active.
    void open(dialog::IdleGroupStore* idleGroup = nullptr) {
        dialog_ = std::make_unique<qt::SettingsDialog>(settingsFile_, idleGroup);
        dialog_->show();
        if (!QTest::qWaitForWindowActive(dialog_.get()))
            qFatal("the dialog's window never became active");
    }

    QScrollBar* bar(Control which) const {
        return qobject_cast<QScrollBar*>(dialog_->control(which));
    }
    QString label(Control which) const {
        return qobject_cast<QLabel*>(dialog_->control(which))->text();
    }
    QWindow* window() const { return dialog_->windowHandle(); }
    QPoint inWindow(const QWidget* widget, QPoint point) const {
        return widget->mapTo(dialog_.get(), point);
    }

    void click(Control which) {
        const QWidget* widget = dialog_->control(which);
        QTest::mouseClick(window(), Qt::LeftButton, {}, inWindow(widget, widget->rect().center()));
    }
    void clickPart(Control which, QStyle::SubControl part) {
        const QScrollBar* scrollBar = bar(which);
        QTest::mouseClick(window(), Qt::LeftButton, {},
                          inWindow(scrollBar, partOf(scrollBar, part).center()));
    }
    void key(Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(window(), key, modifiers);
    }

    // Puts something other than a regular file where the settings file belongs: a folder, a
    // FIFO nobody writes to (a read would wait for ever), or a link to /dev/zero.
    void plantInstead(const QString& kind) {
        fs::create_directories(settingsFile_.parent_path());
        if (kind == QStringLiteral("folder"))
            fs::create_directories(settingsFile_);
        else if (kind == QStringLiteral("fifo"))
            QCOMPARE(mkfifo(settingsFile_.c_str(), 0600), 0);
        else
            fs::create_symlink("/dev/zero", settingsFile_);
    }

    // Clicks "設定" and dismisses the message box it shows; returns what the box said.
    SeenMessage setAndDismissTheMessage() {
        SeenMessage seen;
        QTimer dismisser;
        connect(&dismisser, &QTimer::timeout, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr)
                return;
            seen = {box->windowTitle(), box->text(), box->icon()};
            dismisser.stop();
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        });
        dismisser.start(20);
        click(Control::setButton);
        return seen;
    }

private slots:
    void init() {
        QVERIFY(home_.isValid());
        const fs::path home = home_.path().toStdString();
        for (const fs::directory_entry& left : fs::directory_iterator(home))
            fs::remove_all(left.path());
        settingsFile_ = home / "zorblinth" / "Qelvanor.txt";
    }
    void cleanup() { dialog_.reset(); }

    // --- opening -------------------------------------------------------------------------

    void opensWithTheStoredValuesInRange_data() {
        QTest::addColumn<Bytes>("file");
        QTest::addColumn<bool>("present");
        QTest::addColumn<int>("lineWidth");
        QTest::addColumn<int>("lineAmount");
        QTest::newRow("05 0C") << Bytes{0x05, 0x0C} << true << 5 << 12;
        QTest::newRow("missing") << Bytes{} << false << 1 << 1;
        QTest::newRow("empty") << Bytes{} << true << 1 << 1;
        QTest::newRow("00 00") << Bytes{0x00, 0x00} << true << 1 << 1;
        QTest::newRow("one byte 0B") << Bytes{0x0B} << true << 10 << 1;
        QTest::newRow("FF FF and more") << Bytes{0xFF, 0xFF, 0x07} << true << 10 << 20;
    }
    void opensWithTheStoredValuesInRange() {
        QFETCH(Bytes, file);
        QFETCH(bool, present);
        QFETCH(int, lineWidth);
        QFETCH(int, lineAmount);
        if (present)
            store(settingsFile_, file);
        open();
        QCOMPARE(bar(Control::lineWidthBar)->value(), lineWidth);
        QCOMPARE(bar(Control::lineAmountBar)->value(), lineAmount);
        QCOMPARE(label(Control::lineWidthLabel), lineWidthText(lineWidth));
        QCOMPARE(bar(Control::lineWidthBar)->minimum(), 1);
        QCOMPARE(bar(Control::lineWidthBar)->maximum(), 10);
        QCOMPARE(bar(Control::lineAmountBar)->minimum(), 1);
        QCOMPARE(bar(Control::lineAmountBar)->maximum(), 20);
        // Opening never writes, and never makes the settings folder.
        QCOMPARE(fs::exists(settingsFile_.parent_path()), present);
        if (present)
            QCOMPARE(stored(settingsFile_), file);
    }

    void aFileThatCannotBeReadOpensAtOneAndOne_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("folder") << QStringLiteral("folder");
        QTest::newRow("FIFO") << QStringLiteral("fifo");
        QTest::newRow("device") << QStringLiteral("device");
    }
    void aFileThatCannotBeReadOpensAtOneAndOne() {
        QFETCH(QString, kind);
        plantInstead(kind);
        open();
        QCOMPARE(bar(Control::lineWidthBar)->value(), 1);
        QCOMPARE(bar(Control::lineAmountBar)->value(), 1);
        QCOMPARE(label(Control::lineWidthLabel), lineWidthText(1));
    }

    void aFixedWindowWithTheJapaneseCaptionsInFull() {
        open();
        QCOMPARE(dialog_->windowTitle(), QStringLiteral("Zorblinth - 設定"));
        QCOMPARE(label(Control::lineAmountLabel), QStringLiteral("線の多さ"));
        QCOMPARE(label(Control::fewLabel), QStringLiteral("少ない"));
        QCOMPARE(label(Control::manyLabel), QStringLiteral("多い"));
        const auto* set = qobject_cast<QPushButton*>(dialog_->control(Control::setButton));
        const auto* cancel = qobject_cast<QPushButton*>(dialog_->control(Control::cancelButton));
        QCOMPARE(set->text(), QStringLiteral("設定"));
        QCOMPARE(cancel->text(), QStringLiteral("キャンセル"));

        QCOMPARE(dialog_->size(), QSize(272, 128));
        QCOMPARE(dialog_->minimumSize(), dialog_->maximumSize());
        const Qt::WindowFlags flags = dialog_->windowFlags();
        QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
        QCOMPARE(bar(Control::lineWidthBar)->geometry(), QRect(88, 8, 177, 17));
        QCOMPARE(dialog_->control(Control::cancelButton)->geometry(), QRect(176, 88, 81, 33));

        // Every caption, and the widest readout, fits its control in the font it is drawn in.
        qobject_cast<QLabel*>(dialog_->control(Control::lineWidthLabel))
            ->setText(lineWidthText(10));
        for (const dialog::ControlLayout& item : dialog::layout) {
            const QWidget* widget = dialog_->control(item.control);
            const QString text = widget->property("text").toString();
            QVERIFY2(widget->fontMetrics().horizontalAdvance(text) <= widget->width(),
                     qPrintable(text + QStringLiteral(" is cut off")));
        }
    }

    // --- the scroll bars -----------------------------------------------------------------

    void theReadoutFollowsTheThumbBeforeItIsReleased() {
        store(settingsFile_, {0x01, 0x01});
        open();
        QScrollBar* lineWidthBar = bar(Control::lineWidthBar);
        const QRect groove = partOf(lineWidthBar, QStyle::SC_ScrollBarGroove);
        const QPoint grab = partOf(lineWidthBar, QStyle::SC_ScrollBarSlider).center();
        QTest::mousePress(window(), Qt::LeftButton, {}, inWindow(lineWidthBar, grab));
        QVERIFY(lineWidthBar->isSliderDown());

        int previous = 1;
        QList<int> seen;
        for (int x = grab.x() + 2; x <= groove.right() + 10; x += 2) {
            QTest::mouseMove(window(), inWindow(lineWidthBar, QPoint(x, grab.y())));
            const int value = lineWidthBar->value();
            QVERIFY(value >= previous);
            QCOMPARE(label(Control::lineWidthLabel), lineWidthText(value));
            if (value != previous)
                seen.append(value);
            previous = value;
        }
        QCOMPARE(seen, QList<int>({2, 3, 4, 5, 6, 7, 8, 9, 10}));
        // Back towards the start, still held.
        QTest::mouseMove(window(), inWindow(lineWidthBar, QPoint(groove.center().x(), grab.y())));
        const int middle = lineWidthBar->value();
        QVERIFY(middle > 1 && middle < 10);
        QCOMPARE(label(Control::lineWidthLabel), lineWidthText(middle));
        QVERIFY(lineWidthBar->isSliderDown());

        QTest::mouseRelease(window(), Qt::LeftButton, {},
                            inWindow(lineWidthBar, QPoint(groove.center().x(), grab.y())));
        QCOMPARE(lineWidthBar->value(), middle);
        QCOMPARE(label(Control::lineWidthLabel), lineWidthText(middle));
    }

    void arrowsAndTrackClicksStepByOneWithinTheRange() {
        store(settingsFile_, {0x01, 0x14});
        open();
        QScrollBar* lineWidthBar = bar(Control::lineWidthBar);
        const QList<std::pair<QStyle::SubControl, int>> steps = {
            {QStyle::SC_ScrollBarAddLine, 2}, {QStyle::SC_ScrollBarAddPage, 3},
            {QStyle::SC_ScrollBarAddPage, 4}, {QStyle::SC_ScrollBarSubPage, 3},
            {QStyle::SC_ScrollBarSubLine, 2}, {QStyle::SC_ScrollBarSubLine, 1},
            {QStyle::SC_ScrollBarSubLine, 1}, {QStyle::SC_ScrollBarSubPage, 1}};
        for (const auto& [part, expected] : steps) {
            clickPart(Control::lineWidthBar, part);
            QCOMPARE(lineWidthBar->value(), expected);
            QCOMPARE(label(Control::lineWidthLabel), lineWidthText(expected));
        }

        // A click far along the track still moves one step, not to where it was clicked.
        const QScrollBar* amountBar = bar(Control::lineAmountBar);
        clickPart(Control::lineAmountBar, QStyle::SC_ScrollBarAddLine);
        QCOMPARE(amountBar->value(), 20);
        const QRect track = partOf(amountBar, QStyle::SC_ScrollBarSubPage);
        QTest::mouseClick(window(), Qt::LeftButton, {},
                          inWindow(amountBar, QPoint(track.left() + 2, track.center().y())));
        QCOMPARE(amountBar->value(), 19);
        // The middle button does nothing, as on Windows.
        QTest::mouseClick(window(), Qt::MiddleButton, {},
                          inWindow(amountBar, QPoint(track.left() + 2, track.center().y())));
        QCOMPARE(amountBar->value(), 19);
        QCOMPARE(label(Control::lineWidthLabel), lineWidthText(1)); // the amount has no readout
    }

    void theBarsWorkFromTheKeyboard() {
        store(settingsFile_, {0x03, 0x03});
        open();
        QCOMPARE(QApplication::focusWidget(), dialog_->control(Control::lineWidthBar));
        const QScrollBar* lineWidthBar = bar(Control::lineWidthBar);
        key(Qt::Key_Right);
        QCOMPARE(lineWidthBar->value(), 4);
        QCOMPARE(label(Control::lineWidthLabel), lineWidthText(4));
        key(Qt::Key_Left);
        key(Qt::Key_Left);
        QCOMPARE(lineWidthBar->value(), 2);
        // Up and Page Up go towards the start, Down and Page Down towards the end, one at a time.
        for (const auto& [pressed, expected] : QList<std::pair<Qt::Key, int>>{
                 {Qt::Key_Down, 3}, {Qt::Key_PageDown, 4}, {Qt::Key_Up, 3}, {Qt::Key_PageUp, 2}}) {
            key(pressed);
            QCOMPARE(lineWidthBar->value(), expected);
        }
        key(Qt::Key_End);
        QCOMPARE(lineWidthBar->value(), 10);
        QCOMPARE(label(Control::lineWidthLabel), lineWidthText(10));
        key(Qt::Key_Home);
        QCOMPARE(lineWidthBar->value(), 1);
        QCOMPARE(label(Control::lineWidthLabel), lineWidthText(1));

        key(Qt::Key_Tab);
        key(Qt::Key_End);
        QCOMPARE(bar(Control::lineAmountBar)->value(), 20);
        key(Qt::Key_Left);
        QCOMPARE(bar(Control::lineAmountBar)->value(), 19);
        QCOMPARE(lineWidthBar->value(), 1);
    }

    // --- the keyboard --------------------------------------------------------------------

    void tabVisitsTheBarsThenTheButtons() {
        open();
        QCOMPARE(QApplication::focusWidget(), dialog_->control(Control::lineWidthBar));
        const QList<Control> order = {Control::lineAmountBar, Control::setButton,
                                      Control::cancelButton, Control::lineWidthBar};
        for (Control expected : order) {
            key(Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), dialog_->control(expected));
        }
        key(Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), dialog_->control(Control::cancelButton));
    }

    void enterAndEscapeCloseNothing() {
        const Bytes before{0x02, 0x02};
        store(settingsFile_, before);
        open();
        for (const auto* button : dialog_->findChildren<QPushButton*>())
            QVERIFY(!button->isDefault() && !button->autoDefault());
        // On each focusable control in turn: HScroll1, HScroll2, "設定", "キャンセル".
        for (int focused = 0; focused < 4; ++focused) {
            for (Qt::Key pressed : {Qt::Key_Return, Qt::Key_Escape}) {
                key(pressed);
                QVERIFY2(dialog_->isVisible(), qPrintable(QString::number(focused)));
            }
            key(Qt::Key_Enter, Qt::KeypadModifier);
            QVERIFY(dialog_->isVisible());
            key(Qt::Key_Tab);
        }
        QCOMPARE(stored(settingsFile_), before);
        QCOMPARE(bar(Control::lineWidthBar)->value(), 2);
    }

    // --- closing -------------------------------------------------------------------------

    void setWritesBothValuesAndKeepsLaterBytes() {
        store(settingsFile_, {0x01, 0x01, 0xAA, 0xBB});
        open();
        for (int step = 0; step < 6; ++step)
            key(Qt::Key_Right);
        key(Qt::Key_Tab);
        key(Qt::Key_End);
        click(Control::setButton);
        QVERIFY(!dialog_->isVisible());
        QCOMPARE(dialog_->outcome(), dialog::DialogOutcome::closed);
        QCOMPARE(stored(settingsFile_), (Bytes{0x07, 0x14, 0xAA, 0xBB}));
    }

    void setMakesAMissingSettingsFolder() {
        settingsFile_ =
            fs::path(home_.path().toStdString()) / "config" / "zorblinth" / "Qelvanor.txt";
        open();
        QVERIFY(!fs::exists(settingsFile_.parent_path()));
        key(Qt::Key_Right);
        click(Control::setButton);
        QCOMPARE(dialog_->outcome(), dialog::DialogOutcome::closed);
        QCOMPARE(stored(settingsFile_), (Bytes{0x02, 0x01}));
    }

    void cancelAndTheCloseBoxWriteNothing_data() {
        QTest::addColumn<bool>("closeBox");
        QTest::newRow("キャンセル") << false;
        QTest::newRow("close box") << true;
    }
    void cancelAndTheCloseBoxWriteNothing() {
        QFETCH(bool, closeBox);
        const Bytes before{0x03, 0x09, 0x42};
        store(settingsFile_, before);
        open();
        clickPart(Control::lineWidthBar, QStyle::SC_ScrollBarAddLine);
        clickPart(Control::lineAmountBar, QStyle::SC_ScrollBarSubPage);
        if (closeBox)
            window()->close(); // what the window manager's close box asks for
        else
            click(Control::cancelButton);
        QVERIFY(!dialog_->isVisible());
        QCOMPARE(dialog_->outcome(), dialog::DialogOutcome::closed);
        QCOMPARE(stored(settingsFile_), before);
    }

    void aFailedSaveIsReportedAndChangesNothing() {
        // A folder where the file belongs: not even root may write it as a file.
        fs::create_directories(settingsFile_);
        store(settingsFile_ / "keep", {0x78});
        open();
        key(Qt::Key_Right);

        const SeenMessage seen = setAndDismissTheMessage();

        QCOMPARE(seen.title, QStringLiteral("Zorblinth"));
        QCOMPARE(seen.icon, QMessageBox::Critical);
        const QStringList lines = seen.text.split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines[0], QStringLiteral("設定を保存できませんでした。"));
        QCOMPARE(lines[2], QFile::decodeName(settingsFile_.c_str()));
        // The system's reason, in the language of the environment the dialog runs in.
        QCOMPARE(lines[3], QString::fromLocal8Bit(std::strerror(EISDIR)));
        if (qEnvironmentVariableIsSet("ZORBLINTH_REASONS_IN_JAPANESE")) {
            const bool hasKana = std::any_of(lines[3].begin(), lines[3].end(), [](QChar c) {
                return c.unicode() >= 0x3040 && c.unicode() <= 0x30FF;
            });
            QVERIFY2(hasKana, qPrintable(lines[3]));
        }

        QVERIFY(!dialog_->isVisible());
        QCOMPARE(dialog_->outcome(), dialog::DialogOutcome::settingsNotSaved);
        QVERIFY(fs::is_directory(settingsFile_));
        QCOMPARE(stored(settingsFile_ / "keep"), Bytes{0x78});
        QCOMPARE(std::distance(fs::directory_iterator(settingsFile_), fs::directory_iterator()), 1);
    }

    void aSaveIntoAFifoOrDeviceIsReportedAndChangesNothing_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("FIFO") << QStringLiteral("fifo");
        QTest::newRow("device") << QStringLiteral("device");
    }
    void aSaveIntoAFifoOrDeviceIsReportedAndChangesNothing() {
        QFETCH(QString, kind);
        plantInstead(kind);
        const fs::file_type planted = fs::status(settingsFile_).type();
        open();
        key(Qt::Key_Right);

        const SeenMessage seen = setAndDismissTheMessage();
        const QStringList lines = seen.text.split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines[0], QStringLiteral("設定を保存できませんでした。"));
        QCOMPARE(lines[2], QFile::decodeName(settingsFile_.c_str()));
        QCOMPARE(lines[3], QString::fromLocal8Bit(std::strerror(ENOTSUP)));
        QCOMPARE(dialog_->outcome(), dialog::DialogOutcome::settingsNotSaved);
        QCOMPARE(fs::status(settingsFile_).type(), planted);
    }

    void aSaveThroughALinkIsRefusedAndSaysItIsALink_data() {
        QTest::addColumn<bool>("dangling");
        QTest::newRow("dangling") << true;
        QTest::newRow("to a regular file") << false;
    }
    void aSaveThroughALinkIsRefusedAndSaysItIsALink() {
        QFETCH(bool, dangling);
        const fs::path target = settingsFile_.parent_path() / "kept";
        if (!dangling)
            store(target, {0x03, 0x0A});
        fs::create_directories(settingsFile_.parent_path());
        fs::create_symlink(target, settingsFile_);
        open();
        QCOMPARE(bar(Control::lineWidthBar)->value(), dangling ? 1 : 3);
        key(Qt::Key_Right);

        const SeenMessage seen = setAndDismissTheMessage();
        const QStringList lines = seen.text.split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines[0], QStringLiteral("設定を保存できませんでした。"));
        QCOMPARE(lines[2], QFile::decodeName(settingsFile_.c_str()));
        QVERIFY2(lines[3].contains(QStringLiteral("symbolic link")), qPrintable(lines[3]));
        QCOMPARE(dialog_->outcome(), dialog::DialogOutcome::settingsNotSaved);
        QVERIFY(fs::is_symlink(settingsFile_));
        if (dangling)
            QVERIFY(!fs::exists(fs::symlink_status(target)));
        else
            QCOMPARE(stored(target), (Bytes{0x03, 0x0A}));
    }

    // --- the idle group (the Linux program's) ---------------------------------------------

    // The seed's controls stay where they are; the group opens with the entry in force, and
    // 設定 asks for a change only where the group no longer shows it.
    void theIdleGroupShowsTheEntryAndSetChangesOnlyWhatChanged() {
        using dialog::IdleControl;
        struct Case {
            const char* name;
            std::optional<Command> entry;
            bool shownOn, shownLock;
            int shownMinutes;
            bool turnOn, turnOff;
            const char* typedMinutes; // into the spin box, or null
            std::vector<std::optional<Command>> applied;
        };
        const Case cases[] = {
            {"left as it opened",
             Command{"zorblinth", "--idle", "90", "--lock"},
             true,
             true,
             2,
             false,
             false,
             nullptr,
             {}},
            {"turned off",
             Command{"zorblinth", "--idle", "90", "--lock"},
             true,
             true,
             2,
             false,
             true,
             nullptr,
             {std::nullopt}},
            {"turned on at 7 minutes",
             std::nullopt,
             false,
             false,
             10,
             true,
             false,
             "7",
             {Command{"--idle", "420"}}},
            {"not ours, left alone",
             Command{"xautolock", "--idle", "5"},
             false,
             false,
             10,
             false,
             false,
             "7",
             {}},
        };
        for (const Case& c : cases) {
            FakeIdleGroupStore store;
            store.entry = c.entry;
            open(&store);
            QCOMPARE(dialog_->size(), QSize(dialog::innerWidth, dialog::innerHeightWithIdleGroup));
            for (const dialog::ControlLayout& item : dialog::layout)
                QCOMPARE(dialog_->control(item.control)->geometry(),
                         QRect(item.rect.left, item.rect.top, item.rect.width, item.rect.height));
            auto* start = qobject_cast<QCheckBox*>(dialog_->control(IdleControl::startWhenIdleBox));
            auto* lock = qobject_cast<QCheckBox*>(dialog_->control(IdleControl::lockOnResumeBox));
            auto* minutes = qobject_cast<QSpinBox*>(dialog_->control(IdleControl::waitMinutesBox));
            QVERIFY2(start->isChecked() == c.shownOn, c.name);
            QVERIFY2(lock->isChecked() == c.shownLock, c.name);
            QCOMPARE(minutes->value(), c.shownMinutes);
            QCOMPARE(minutes->maximum(), 9999);
            if (c.turnOn || c.turnOff)
                QTest::mouseClick(start, Qt::LeftButton, {}, QPoint(8, start->height() / 2));
            if (c.typedMinutes) {
                minutes->setFocus();
                QTest::keyClick(minutes, Qt::Key_A, Qt::ControlModifier);
                QTest::keyClicks(minutes, QString::fromLatin1(c.typedMinutes));
            }
            click(Control::setButton);
            QCOMPARE(dialog_->outcome(), dialog::DialogOutcome::closed);
            QVERIFY2(store.applied == c.applied, c.name);
            dialog_.reset();
        }
    }

    void anEntryThatCannotBeWrittenIsToldAsTheSettingsFileIs() {
        FakeIdleGroupStore store;
        store.failing = true;
        open(&store);
        QTest::mouseClick(dialog_->control(dialog::IdleControl::startWhenIdleBox), Qt::LeftButton,
                          {}, QPoint(8, 8));
        const SeenMessage seen = setAndDismissTheMessage();
        QCOMPARE(seen.text, QStringLiteral("設定を保存できませんでした。\n\n"
                                           "/home/u/.config/autostart/zorblinth-idle.desktop\n"
                                           "Permission denied"));
        QCOMPARE(seen.icon, QMessageBox::Critical);
        QCOMPARE(dialog_->outcome(), dialog::DialogOutcome::settingsNotSaved);
        QCOMPARE(store.applied.size(), std::size_t{1});
        QCOMPARE(stored(settingsFile_), (Bytes{0x01, 0x01})); // the settings file, as today
    }
};

QTEST_MAIN(SettingsDialogTest)
#include "settings_dialog_test_qt.moc"
