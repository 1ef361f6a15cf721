#pragma once

#include "app/model/ToolbarEnableTable.h"

#include <QString>

// Whether a main-menu or context-menu item (by its action's object name) is
// enabled: the add item follows the add toolbar item; the convert, rotate
// and flip items follow the convert button; the remove and show-in-folder
// items follow the remove toolbar item; every other item is enabled.
bool ValidateMenuItem(const QString& itemName, const ToolbarEnableTable& table);
