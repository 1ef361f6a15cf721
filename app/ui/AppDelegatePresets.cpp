// Resize, watermark and job presets: the preset menus, the dialog that
// saves and removes presets, and applying a chosen preset.
#include "app/model/JobOptionsModel.h"
#include "app/model/Presets.h"
#include "app/model/StringTable.h"
#include "app/model/WatermarkEditorModel.h"
#include "app/ui/AppDelegate.h"
#include "app/ui/AppDelegatePreferencesState.h"
#include "app/ui/CustomAlert.h"
#include "app/ui/JobOptionPanels.h"
#include "app/ui/MainWindow.h"
#include "app/ui/OptionRowBuilders.h"
#include "app/ui/WatermarkControls.h"
#include "app/ui/WatermarkView.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

namespace {

PresetKind KindOf(int kind) { return static_cast<PresetKind>(kind); }

// The names of the presets listed in a menu (its items from the first preset on).
QStringList PresetTitles(const QComboBox* menu, int firstItem) {
    QStringList titles;
    for (int i = firstItem; i < menu->count(); ++i) titles.append(menu->itemText(i));
    return titles;
}

std::optional<PrefDictionary> LoadPresets(PresetKind kind) {
    std::optional<PrefDictionary> presets;
    if (!LoadPrefDictionary(&presets, InfoForPresetKind(kind).fileFormat)) return std::nullopt;
    return presets;
}

const PrefDictionary* PresetNamed(const std::optional<PrefDictionary>& presets, const QString& name) {
    if (!presets) return nullptr;
    const auto found = presets->find(name.toStdString());
    return found == presets->end() ? nullptr : found->second.get<PrefDictionary>();
}

// A question or notice about presets, on the preset dialog when it is open.
int AskAboutPreset(QWidget* window, const QString& title, const char* defaultKey, const char* alternateKey) {
    return RunCustomAlertSheet(title, QString(), LocalizedString(defaultKey),
                               alternateKey ? LocalizedString(alternateKey) : QString(), QString(), window);
}

}  // namespace

QComboBox* AppDelegate::presetMenu(int kind) const {
    switch (KindOf(kind)) {
    case PresetKind::Resize: return window_->optionPanels()->imageDimentionsPopupOutlet;
    case PresetKind::Watermark: return window_->watermarkControls()->waterMarkPresetPopupOutlet;
    case PresetKind::Photo: break;
    }
    return window_->PhotoPresetPopupButton;
}

PresetDialog* AppDelegate::addPresetDialog() { return prefs().presetDialog; }

void AppDelegate::setUpPresets() {
    auto* dialog = new PresetDialog(window_.get());
    prefs_->presetDialog = dialog;
    connect(dialog->savePresetButton, &QPushButton::clicked, this, [this, dialog] { SavePresetAction(dialog->savePresetButton); });
    connect(dialog->cancelPresetButton, &QPushButton::clicked, this,
            [this, dialog] { CancelPresetButtonAction(dialog->cancelPresetButton); });
    connect(dialog->removePresetButton, &QPushButton::clicked, this,
            [this, dialog] { RemovePresetAction(dialog->removePresetButton); });
    connect(dialog, &QDialog::rejected, this, [this] { prefs().dialogKind.reset(); });

    JobOptionPanels* panels = window_->optionPanels();
    connect(panels, &JobOptionPanels::savePresetRequested, this, [this, panels] { AddPresetAction(panels->savePresetButton); });
    panels->setSavePresetAvailable(true);
    connect(jobOptions_, &JobOptionsModel::resizePresetChosen, this, &AppDelegate::ChangeAndSetPrefOptions);

    WatermarkControls* controls = window_->watermarkControls();
    connect(controls, &WatermarkControls::savePresetRequested, this,
            [this, controls] { AddWaterMarkPresetAction(controls->waterMarkSavePresetButtonOutlet); });
    connect(controls, &WatermarkControls::watermarkPresetChosen, this, [this, controls](int index) {
        // The first item is the editor's own defaults, restored elsewhere.
        if (index != 0) changewaterMarkPresetPopupAction(controls->waterMarkPresetPopupOutlet);
    });

    // The job preset menu with its save button beside it.
    QComboBox* jobMenu = window_->PhotoPresetPopupButton;
    optionrow::SetAccessibleName(jobMenu, LocalizedString("JobPresetMenuName"));
    connect(jobMenu, &QComboBox::activated, this, [this, jobMenu] { PhotoPresetChangeAction(jobMenu); });
    auto* save = new QPushButton(LocalizedString("SaveJobPresetButton"), jobMenu->parentWidget());
    save->setObjectName(QStringLiteral("savePhotoPresetButton"));
    save->setAccessibleName(LocalizedString("SaveJobPresetButtonName"));
    connect(save, &QPushButton::clicked, this, [this, save] { AddPhotoPresetAction(save); });
    if (auto* column = qobject_cast<QBoxLayout*>(jobMenu->parentWidget()->layout())) {
        const int at = column->indexOf(jobMenu);
        auto* row = new QHBoxLayout;
        column->removeWidget(jobMenu);
        row->addWidget(jobMenu, 1);
        row->addWidget(save);
        column->insertLayout(std::max(at, 0), row);
    }
}

// --- Menus at start-up ---

void AppDelegate::LoadPresetMenus() {
    prefs();
    for (const PresetKind kind : {PresetKind::Resize, PresetKind::Watermark, PresetKind::Photo}) {
        const std::optional<PrefDictionary> presets = LoadPresets(kind);
        const QStringList names = presets ? SortedPresetNames(*presets, kind) : QStringList();
        if (kind == PresetKind::Resize) {
            window_->optionPanels()->setResizePresetNames(names);
            continue;
        }
        QComboBox* menu = presetMenu(static_cast<int>(kind));
        const QSignalBlocker blocker(menu);
        // Items added from the files carry tag 0, as the first item does.
        for (const QString& name : names) menu->addItem(name, 0);
    }
}

void AppDelegate::ApplyStoredPhotoPreset() {
    QComboBox* menu = window_->PhotoPresetPopupButton;
    const std::int64_t stored = prefs().storedPhotoPresetIndex;
    {
        const QSignalBlocker blocker(menu);
        menu->setCurrentIndex(stored >= 0 && stored < menu->count() ? static_cast<int>(stored) : 0);
    }
    ChangeAndSetPhotoPrefOptions(menu->currentText());
}

void AppDelegate::addPresetMenuItem(int kind, const QString& name) {
    if (KindOf(kind) == PresetKind::Resize) {
        window_->optionPanels()->setResizePresetNames(jobOptions_->resizePresetNames() + QStringList{name});
        return;
    }
    QComboBox* menu = presetMenu(kind);
    const QSignalBlocker blocker(menu);
    menu->addItem(name, 0);
}

void AppDelegate::removePresetMenuItem(int kind, const QString& name) {
    QComboBox* menu = presetMenu(kind);
    const int item = menu->findText(name);
    if (item < InfoForPresetKind(KindOf(kind)).firstItem) return;
    if (KindOf(kind) == PresetKind::Resize) {
        // The selection follows its item, or falls back to custom values.
        JobOptionState state = jobOptions_->state();
        if (state.dimensionIndex == item) state.dimensionIndex = 0;
        else if (state.dimensionIndex > item) --state.dimensionIndex;
        jobOptions_->setState(state);
        QStringList names = jobOptions_->resizePresetNames();
        names.removeAt(item - JobOptionsModel::kFirstResizePresetIndex);
        window_->optionPanels()->setResizePresetNames(names);
        return;
    }
    const QSignalBlocker blocker(menu);
    menu->removeItem(item);
}

// --- The dialog ---

void AppDelegate::openPresetDialog(int kind, const QString& proposal) {
    PresetDialog* dialog = addPresetDialog();
    prefs_->dialogKind = KindOf(kind);
    // A menu showing one of its presets proposes that preset's name.
    QComboBox* menu = presetMenu(kind);
    const int first = InfoForPresetKind(KindOf(kind)).firstItem;
    const QStringList titles = PresetTitles(menu, first);
    dialog->PresetNameComboboxOutlet->clear();
    dialog->PresetNameComboboxOutlet->addItems(titles);
    dialog->PresetNameComboboxOutlet->setEditText(menu->currentIndex() >= first ? menu->currentText()
                                                                                : UniquePresetName(proposal, titles));
    dialog->open();
}

void AppDelegate::AddPresetAction(QObject*) {
    QComboBox* units = window_->optionPanels()->sizeFormatTypePopupButton;
    openPresetDialog(static_cast<int>(PresetKind::Resize),
                     ResizePresetNameProposal(jobOptions_->state(), units->currentText()));
}

void AppDelegate::AddWaterMarkPresetAction(QObject*) {
    openPresetDialog(static_cast<int>(PresetKind::Watermark), watermarkModel_->textString());
}

void AppDelegate::AddPhotoPresetAction(QObject*) {
    openPresetDialog(static_cast<int>(PresetKind::Photo), LocalizedString("NewPresetName"));
}

void AppDelegate::CancelPresetButtonAction(QObject*) {
    prefs().dialogKind.reset();
    if (PresetDialog* dialog = addPresetDialog()) dialog->reject();
}

void AppDelegate::SavePresetAction(QObject* sender) {
    PreferencesState& state = prefs();
    PresetDialog* dialog = state.presetDialog;
    if (!state.dialogKind || !dialog) return;
    const PresetKind kind = *state.dialogKind;
    const PresetKindInfo info = InfoForPresetKind(kind);
    QComboBox* menu = presetMenu(static_cast<int>(kind));
    const QString name = dialog->PresetNameComboboxOutlet->currentText();

    if (name.isEmpty()) {
        AskAboutPreset(dialog, LocalizedString("EmptyPresetAlertTitle"), "OkButtonString", nullptr);
        return;
    }
    for (int i = 0; i < info.firstItem; ++i) {
        if (menu->itemText(i) == name) {
            AskAboutPreset(dialog, LocalizedFormat("DefaultPresetAlertTitle", {name}), "OkButtonString", nullptr);
            return;
        }
    }

    std::optional<PrefDictionary> loaded = LoadPresets(kind);
    PrefDictionary presets = loaded ? std::move(*loaded) : PrefDictionary{};
    const auto found = presets.find(name.toStdString());
    const bool replacing = found != presets.end();
    const PrefDictionary* old = replacing ? found->second.get<PrefDictionary>() : nullptr;
    std::optional<QString> oldImage;
    if (replacing) {
        const int code = AskAboutPreset(dialog, LocalizedFormat("PresetExistAlertMsg", {name}), "ReplaceButtonTitle", "NoTitle");
        if (code != kAlertDefaultReturn) return;
        if (kind == PresetKind::Photo) oldImage = PrefString(old, preset_key::kImagePath);
    }

    PrefDictionary preset;
    std::filesystem::path newImage;
    switch (kind) {
    case PresetKind::Resize: preset = GetResizePreferenceValue(jobOptions_->state()); break;
    case PresetKind::Watermark: preset = GetWaterMarkPreferenceValue(*watermarkModel_); break;
    case PresetKind::Photo:
        newImage = StoreWatermarkImage(watermarkModel_->watermarkImage());
        preset = GetPhotoPreferenceValue(jobOptions_->state(), *watermarkModel_,
                                         presetMenu(static_cast<int>(PresetKind::Watermark))->currentIndex(), newImage);
        break;
    }
    InsertPreset(presets, name, std::move(preset), kind);

    if (SavePrefDictionary(presets, info.fileFormat)) {
        // The old image goes only once the file no longer names it.
        if (oldImage) RemoveFileIfExists(oldImage->toStdString());
        const int before = menu->currentIndex();
        if (menu->findText(name) < info.firstItem) addPresetMenuItem(static_cast<int>(kind), name);
        const int item = menu->findText(name);
        if (kind == PresetKind::Resize) {
            JobOptionState options = jobOptions_->state();
            options.dimensionIndex = item;
            jobOptions_->setState(options);
        } else {
            const QSignalBlocker blocker(menu);
            menu->setCurrentIndex(item);
        }
        if (kind != PresetKind::Photo && (!replacing || before != item)) changeGlobalPresetOption(sender);
    } else {
        RemoveFileIfExists(newImage);
        AskAboutPreset(dialog, LocalizedFormat("PresetSaveFailedAlertMsg", {name}), "OkButtonString", nullptr);
    }
    state.dialogKind.reset();
    dialog->accept();
}

void AppDelegate::RemovePresetAction(QObject* sender) {
    PreferencesState& state = prefs();
    PresetDialog* dialog = state.presetDialog;
    if (!state.dialogKind || !dialog) return;
    const PresetKind kind = *state.dialogKind;
    const PresetKindInfo info = InfoForPresetKind(kind);
    const QString name = dialog->PresetNameComboboxOutlet->currentText();
    if (name.isEmpty()) return;

    std::optional<PrefDictionary> presets = LoadPresets(kind);
    if (!presets || !presets->contains(name.toStdString())) {
        AskAboutPreset(dialog, LocalizedFormat("PresetNotExistAlertMsg", {name}), "OkButtonString", nullptr);
        return;
    }
    if (AskAboutPreset(dialog, LocalizedFormat("RemoveExistPresetAlertMsg", {name}), "RemoveButtonTitle", "NoTitle") !=
        kAlertDefaultReturn) {
        return;
    }
    const std::optional<QString> image =
        kind == PresetKind::Photo ? PrefString(PresetNamed(presets, name), preset_key::kImagePath) : std::nullopt;
    QComboBox* menu = presetMenu(static_cast<int>(kind));
    const int shownAt = menu->findText(name);
    const std::optional<std::int64_t> index = RemovePreset(*presets, name, kind);
    if (!SavePrefDictionary(*presets, info.fileFormat)) {
        AskAboutPreset(dialog, LocalizedFormat("PresetSaveFailedAlertMsg", {name}), "OkButtonString", nullptr);
        return;
    }
    if (image) RemoveFileIfExists(image->toStdString());

    // Job presets that pointed at the removed item keep their own values.
    if (kind != PresetKind::Photo) {
        const std::int64_t popupIndex = shownAt >= info.firstItem ? shownAt : index.value_or(-1) + info.firstItem;
        std::optional<PrefDictionary> jobs = LoadPresets(PresetKind::Photo);
        const std::string_view key =
            kind == PresetKind::Resize ? preset_key::kResizePresetIndex : preset_key::kTextWatermarkPresetIndex;
        if (jobs && popupIndex >= info.firstItem && UpdateGlobalPhotoPresetDatadDringRemoveAction(*jobs, key, popupIndex)) {
            SavePrefDictionary(*jobs, kPhotoPrefFileFormat);
        }
    }

    QComboBox* names = dialog->PresetNameComboboxOutlet;
    if (const int at = names->findText(name); at >= 0) names->removeItem(at);
    names->setEditText(QString());
    removePresetMenuItem(static_cast<int>(kind), name);
    if (kind != PresetKind::Photo) changeGlobalPresetOption(sender);
}

// --- Applying ---

void AppDelegate::ChangeAndSetPrefOptions(const QString& name) {
    const std::optional<PrefDictionary> presets = LoadPresets(PresetKind::Resize);
    ChangeAndSetResizeOptionsFromDict(*jobOptions_, PresetNamed(presets, name));
}

void AppDelegate::ChangeAndSetWaterMarkPrefOptions(const QString& name) {
    const std::optional<PrefDictionary> presets = LoadPresets(PresetKind::Watermark);
    ChangeAndSetWaterMarkPrefOptionsFromDict(*watermarkModel_, PresetNamed(presets, name));
}

void AppDelegate::AssignWaterMarkValuesToControl(bool) {
    window_->watermarkControls()->refresh();
}

void AppDelegate::changewaterMarkPresetPopupAction(QObject* sender) {
    QComboBox* menu = presetMenu(static_cast<int>(PresetKind::Watermark));
    if (menu->currentIndex() <= 0) watermarkModel_->InitializeWatermarkOptions();
    else ChangeAndSetWaterMarkPrefOptions(menu->currentText());
    AssignWaterMarkValuesToControl(false);
    changeGlobalPresetOption(sender);
    if (window_->watermarkContextView) window_->watermarkContextView->update();
}

void AppDelegate::PhotoPresetChangeAction(QObject* sender) {
    auto* menu = qobject_cast<QComboBox*>(sender);
    ChangeAndSetPhotoPrefOptions((menu ? menu : window_->PhotoPresetPopupButton)->currentText());
}

void AppDelegate::ChangeAndSetPhotoPrefOptions(const QString& name) {
    const std::optional<PrefDictionary> presets = LoadPresets(PresetKind::Photo);
    const PrefDictionary* preset = PresetNamed(presets, name);
    std::array<bool, kConfigurationGroupCount> on{true, false, false, false, false, false};
    QComboBox* watermarkMenu = presetMenu(static_cast<int>(PresetKind::Watermark));
    if (!preset) {
        {
            const QSignalBlocker blocker(watermarkMenu);
            watermarkMenu->setCurrentIndex(0);
        }
        jobOptions_->DefaultImageConversionOption();
        jobOptions_->DefaultOptimizationOption();
        jobOptions_->DefaultResizeOption();
        jobOptions_->DefaultWatermarkTextOption();
        jobOptions_->DefaultWatermarkImageOption();
    } else {
        // Watermark: a watermark preset, or the values stored in the job.
        const int w = StoredPopupIndex(preset, preset_key::kTextWatermarkPresetIndex, watermarkMenu->count());
        {
            const QSignalBlocker blocker(watermarkMenu);
            watermarkMenu->setCurrentIndex(w);
        }
        if (w != 0) ChangeAndSetWaterMarkPrefOptions(watermarkMenu->itemText(w));
        else ChangeAndSetWaterMarkPrefOptionsFromDict(*watermarkModel_, preset);
        AssignWaterMarkValuesToControl(false);

        // Resize: a built-in size or resize preset, or the values stored in the job.
        QComboBox* dimensions = presetMenu(static_cast<int>(PresetKind::Resize));
        const int r = StoredPopupIndex(preset, preset_key::kResizePresetIndex, dimensions->count());
        if (r != 0) {
            JobOptionState state = jobOptions_->state();
            state.currentSizeFormatType = kUnitPercent;
            state.currentScaleOption = -1;
            jobOptions_->setState(state);
            jobOptions_->changeImageDimentionPopupAction(r, false);
        } else {
            JobOptionState state = jobOptions_->state();
            state.dimensionIndex = 0;
            jobOptions_->setState(state);
            ChangeAndSetResizeOptionsFromDict(*jobOptions_, preset);
        }
        ApplyPhotoPresetOptions(*jobOptions_, *preset);

        const std::pair<int, std::string_view> states[] = {
            {kResizeGroup, preset_key::kResizeState},
            {kTextWatermarkGroup, preset_key::kTextWatermarkState},
            {kConversionGroup, preset_key::kConversionState},
            {kOptimizationGroup, preset_key::kOptimizationState},
            {kRenameGroup, preset_key::kRenameState},
            {kImageWatermarkGroup, preset_key::kImagewatermarkState},
        };
        for (const auto& [group, key] : states) {
            on[static_cast<std::size_t>(group)] = PrefBool(preset, key).value_or(group == kConversionGroup);
        }
    }
    willChangeConfigurations();
    for (int group = kConfigurationGroupCount - 1; group >= 0; --group) {
        SwitchOnOffHeader(group, on[static_cast<std::size_t>(group)]);
    }
    didChangeConfigurations();
}
