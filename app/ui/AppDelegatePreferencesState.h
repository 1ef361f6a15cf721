#pragma once
// The controller's preferences and presets state. Main thread only.

#include "app/model/Presets.h"
#include "app/ui/AppDelegate.h"
#include "app/ui/PreferencesSheet.h"

#include <QByteArray>
#include <QPointer>

#include <filesystem>
#include <optional>

struct AppDelegate::PreferencesState {
    // The usable stored destination folder (empty: none) and the data it
    // was stored as; data whose folder is missing now is kept for the file.
    std::filesystem::path m_destinationURL;
    QByteArray m_destinationURLSecureData;
    bool destinationUnavailable = false;

    // The job preset index read with the general options, applied once the
    // settings outline exists.
    std::int64_t storedPhotoPresetIndex = 0;

    QPointer<PreferencesSheet> sheet;
    QPointer<PresetDialog> presetDialog;
    // The kind the preset dialog serves while open.
    std::optional<PresetKind> dialogKind;
    bool connected = false;
};
