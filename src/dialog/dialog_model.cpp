#include "dialog/dialog_model.hpp"

namespace zorblinth::dialog {

std::u16string_view caption(Control control) {
    switch (control) {
    case Control::lineAmountLabel:
        return lineAmountCaption;
    case Control::fewLabel:
        return fewCaption;
    case Control::manyLabel:
        return manyCaption;
    case Control::setButton:
        return setCaption;
    case Control::cancelButton:
        return cancelCaption;
    default:
        return {};
    }
}

std::u16string lineWidthLabelText(int lineWidth) {
    std::u16string text(lineWidthPrefix);
    for (char digit : std::to_string(lineWidth))
        text.push_back(static_cast<char16_t>(digit));
    return text;
}

ScrollValues openingValues(SaverSettings stored) {
    const SaverSettings usable = usableSettings(stored);
    return {usable.lineWidth, usable.lineAmount};
}

SaverSettings settingsToSave(ScrollValues positions) {
    const auto toByte = [](int value) { return static_cast<std::uint8_t>(value); };
    return usableSettings({toByte(positions.lineWidth), toByte(positions.lineAmount)});
}

} // namespace zorblinth::dialog
