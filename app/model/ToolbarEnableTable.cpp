#include "app/model/ToolbarEnableTable.h"

namespace {

constexpr std::array<const char*, ToolbarEnableTable::ItemCount> kOutlets = {
    "addImageToolbarItem", "removeToolbarItem",   "removeAllToolbarItem", "convertToolbarItem",
    "convertAllToolbarItem", "rotateToolbarItem", "flipToolbarItem",      "previewButtonOutlet",
    "ratingToolbarItem",   "infoToolbarItem",     "preferencesToolbarItem",
};

}  // namespace

ToolbarEnableTable::ToolbarEnableTable() {
    enabled_.fill(true);
}

void ToolbarEnableTable::setConversionEnabled(bool enabled) {
    for (Item item : {Convert, ConvertAll, Remove, RemoveAll, Rotate, Flip, Preview}) enabled_[item] = enabled;
}

std::optional<ToolbarEnableTable::Item> ToolbarEnableTable::itemForOutlet(const QString& outletName) {
    for (int i = 0; i < ItemCount; ++i) {
        if (outletName == QLatin1String(kOutlets[i])) return static_cast<Item>(i);
    }
    return std::nullopt;
}

const char* ToolbarEnableTable::outletForItem(Item item) {
    return kOutlets[item];
}
