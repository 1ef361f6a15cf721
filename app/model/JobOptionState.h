#pragma once

#include "app/model/Configuration.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>

// Item tags of the option menus, as the controls carry them.
enum OptimizationTag : int { kOptimizeJPEG = 1, kOptimizePNG = 2 };
enum RenameTag : int { kRenameNewName = 1, kRenamePrefixSuffix = 2 };
enum NumberPosition : int { kNumberAfterName = 0, kNumberBeforeName = 1, kNoNumber = 2 };
enum SizeUnit : int {
    kUnitPercent = 1,
    kUnitPixels = 2,
    kUnitInches = 3,
    kUnitCentimetres = 4,
    kUnitMillimetres = 5,
    kUnitPoints = 6,
};

// The general check boxes (shown in the preferences), with their defaults.
struct GeneralOptions {
    bool addFoldersRecursively = true;
    bool maintainDirectory = true;
    bool overwriteExisting = false;
    bool preserveMetadata = true;
    bool preserveCreationDate = false;
    bool preserveModifiedDate = true;
    bool useAsDestinationFolder = true;
};

// Everything the six option groups and the general check boxes hold, as the
// controls show it (texts as typed, so an empty field stays empty). A plain
// value: a job or a preset copies it whole on the main thread.
struct JobOptionState {
    std::array<bool, kConfigurationGroupCount> groupOn{true, false, false, false, false, false};

    // Conversion.
    int outputType = 0;            // ImageTypeCode; 0 keeps the source's type
    double qualitySlider = 0.800000011920929;
    QString qualityText = QStringLiteral("80");
    int qualityStepper = 80;

    // Optimisation: tag bits, kOptimizeJPEG | kOptimizePNG.
    int optimizationTag = kOptimizeJPEG;

    // Rename.
    int renameTag = kRenameNewName;
    QString fileNameText;          // new name (tag 1) or prefix (tag 2)
    QString suffixText;
    QString fileNamePlaceholder;
    QString suffixPlaceholder;
    int numberPosition = kNumberAfterName;
    QString zeroPaddingText = QStringLiteral("0");
    int zeroPaddingStepper = 0;
    QString startDigitText = QStringLiteral("1");
    std::int64_t startDigitStepper = 1;
    QString exampleText = QStringLiteral("-");
    QString exampleToolTip;

    // Resize.
    int dimensionIndex = 0;        // item index of the dimension menu
    int scaleOption = 0;           // selected tag of the scale menu
    int unit = kUnitPercent;       // selected tag of the unit menu
    QString widthText = QStringLiteral("100");
    QString heightText;
    QString widthPlaceholder;
    QString heightPlaceholder = QStringLiteral("Auto");
    bool percentUnitEnabled = true;
    bool lockLinesShown = true;
    bool locked = true;
    bool upsample = false;
    bool sharpen = false;
    bool resolutionOn = false;
    QString resolutionText = QStringLiteral("72");
    // The unit and scale option the fields are written in.
    int currentSizeFormatType = kUnitPercent;
    int currentScaleOption = -1;

    GeneralOptions general;
    bool doNotShowPNGOptimizationAlert = false;

    // --- What the controls show enabled: derived, never stored ---
    bool groupEnabled(int group) const { return groupOn[static_cast<std::size_t>(group)]; }
    bool outputTypeEnabled() const { return groupOn[kConversionGroup]; }
    static bool TypeHasQuality(int type) { return type == 0 || type == 3 || type == 4; }
    bool qualityEnabled() const { return groupOn[kConversionGroup] && TypeHasQuality(outputType); }
    bool optimizationEnabled() const { return groupOn[kOptimizationGroup]; }
    bool renameEnabled() const { return groupOn[kRenameGroup]; }
    bool suffixEnabled() const { return renameEnabled() && renameTag == kRenamePrefixSuffix; }
    bool numberControlsEnabled() const { return renameEnabled() && numberPosition != kNoNumber; }
    bool resizeEnabled() const { return groupOn[kResizeGroup]; }
    bool widthEnabled() const { return resizeEnabled() && scaleOption != 1; }
    bool heightEnabled() const { return resizeEnabled() && scaleOption != 0; }
    bool resolutionFieldEnabled() const { return resizeEnabled() && resolutionOn; }
    bool preserveModifiedDateEnabled() const { return general.preserveCreationDate; }

    // Values of the number fields as a job reads them (0 for an empty text).
    double widthValue() const;
    double heightValue() const;
    std::int64_t resolutionValue() const;
    int zeroPaddingValue() const;
    std::int64_t startDigitValue() const;
};
