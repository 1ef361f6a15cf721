#pragma once

#include <QString>

#include <array>
#include <optional>

// The enabled state of the main window's toolbar items and the buttons that
// share it. One table serves both the controller's direct enabling and the
// toolbar's validation, so the two never undo each other.
class ToolbarEnableTable {
public:
    enum Item : int {
        AddImage,
        Remove,
        RemoveAll,
        Convert,
        ConvertAll,
        Rotate,
        Flip,
        Preview,
        Rating,
        Info,
        Preferences,
        ItemCount
    };

    ToolbarEnableTable();

    bool isEnabled(Item item) const { return enabled_[item]; }
    void setEnabled(Item item, bool enabled) { enabled_[item] = enabled; }

    // Convert and Convert All, Remove and Remove All, Rotate, Flip and the
    // preview button go on and off together.
    void setConversionEnabled(bool enabled);

    // The toolbar item that an outlet name stands for ("convertToolbarItem").
    static std::optional<Item> itemForOutlet(const QString& outletName);
    static const char* outletForItem(Item item);

private:
    std::array<bool, ItemCount> enabled_;
};
