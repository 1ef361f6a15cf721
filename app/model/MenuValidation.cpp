#include "app/model/MenuValidation.h"

namespace {

struct MenuItemRule {
    const char* itemName;
    ToolbarEnableTable::Item followedItem;
};

constexpr MenuItemRule kMenuItemRules[] = {
    {"addImageMenuItem", ToolbarEnableTable::AddImage},
    {"convertMenuItem", ToolbarEnableTable::Convert},
    {"convertAllMenuItem", ToolbarEnableTable::Convert},
    {"rotateLeftMenuItem", ToolbarEnableTable::Convert},
    {"rotateRightMenuItem", ToolbarEnableTable::Convert},
    {"flipHorizontalMenuItem", ToolbarEnableTable::Convert},
    {"flipVerticalMenuItem", ToolbarEnableTable::Convert},
    {"contextConvertMenuItem", ToolbarEnableTable::Convert},
    {"removeMenuItem", ToolbarEnableTable::Remove},
    {"removeAllMenuItem", ToolbarEnableTable::Remove},
    {"showInFileManagerMenuItem", ToolbarEnableTable::Remove},
    {"contextRemoveMenuItem", ToolbarEnableTable::Remove},
    {"contextShowInFileManagerMenuItem", ToolbarEnableTable::Remove},
};

}  // namespace

bool ValidateMenuItem(const QString& itemName, const ToolbarEnableTable& table) {
    for (const MenuItemRule& rule : kMenuItemRules) {
        if (itemName == QLatin1String(rule.itemName)) return table.isEnabled(rule.followedItem);
    }
    return true;
}
