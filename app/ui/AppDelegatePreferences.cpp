// The preferences sheet, the general options file, the stored destination
// folder and the watermark placements kept in the selected presets.
#include "app/model/JobOptionsModel.h"
#include "app/model/LocalFileURL.h"
#include "app/model/PreferenceFiles.h"
#include "app/model/ShownPaths.h"
#include "app/model/StringTable.h"
#include "app/model/WatermarkEditorModel.h"
#include "app/ui/AppDelegate.h"
#include "app/ui/AppDelegatePreferencesState.h"
#include "app/ui/AppDelegateRuns.h"
#include "app/ui/CustomAlert.h"
#include "app/ui/DropTargets.h"
#include "app/ui/JobOptionPanels.h"
#include "app/ui/MainWindow.h"
#include "app/ui/WatermarkControls.h"
#include "app/ui/WatermarkView.h"
#include "platform/FileManager.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>

namespace {

constexpr const char* kPNGAlertCheckBoxName = "doNotShowPNGOptimizationAlertCheckBox";

// The folder named by stored data: the bytes of a file URL.
std::filesystem::path FolderOfURLData(const QByteArray& data) {
    if (data.isEmpty()) return {};
    return PathFromFileURI(std::string_view(data.constData(), std::size_t(data.size())));
}

// The check boxes of the sheet with the general option each one shows.
struct GeneralBoxBinding {
    QCheckBox* PreferencesSheet::*box;
    bool GeneralOptions::*option;
};
constexpr GeneralBoxBinding kGeneralBoxBindings[] = {
    {&PreferencesSheet::mAddRecursiveCheckBoxButton, &GeneralOptions::addFoldersRecursively},
    {&PreferencesSheet::maintainDirectoryCheckButton, &GeneralOptions::maintainDirectory},
    {&PreferencesSheet::overwriteExistingCheckButton, &GeneralOptions::overwriteExisting},
    {&PreferencesSheet::preserveMetadataCheckButton, &GeneralOptions::preserveMetadata},
    {&PreferencesSheet::preserveCreatedDateCheckButton, &GeneralOptions::preserveCreationDate},
    {&PreferencesSheet::preserveModifiedDateCheckButton, &GeneralOptions::preserveModifiedDate},
    {&PreferencesSheet::useAsDestinationFolderCheckBox, &GeneralOptions::useAsDestinationFolder},
};

}  // namespace

AppDelegate::PreferencesState& AppDelegate::prefs() {
    if (!prefs_) {
        prefs_ = std::make_unique<PreferencesState>();
        setUpPreferences();
    }
    return *prefs_;
}

PreferencesSheet* AppDelegate::preferencesDialog() { return prefs().sheet; }

void AppDelegate::setUpPreferences() {
    PreferencesState& state = *prefs_;
    auto* sheet = new PreferencesSheet(window_.get());
    state.sheet = sheet;
    // The PNG question's box lives on the sheet; the question borrows it.
    auto* pngBox = window_->findChild<QCheckBox*>(QLatin1String(kPNGAlertCheckBoxName));
    if (!pngBox) {
        pngBox = new QCheckBox(sheet);
        pngBox->setObjectName(QLatin1String(kPNGAlertCheckBoxName));
    }
    connect(pngBox, &QCheckBox::toggled, jobOptions_, &JobOptionsModel::setDoNotShowPNGOptimizationAlert);
    sheet->placeQuestionBox(window_->doNotShowAlertCheckBox, 0);
    sheet->placeQuestionBox(pngBox, 1);

    for (const GeneralBoxBinding& binding : kGeneralBoxBindings) {
        QCheckBox* box = sheet->*binding.box;
        if (binding.option == &GeneralOptions::overwriteExisting) {
            connect(box, &QCheckBox::toggled, this, [this, box] { changeOverwriteExistingFile(box); });
        } else if (binding.option == &GeneralOptions::preserveCreationDate) {
            connect(box, &QCheckBox::toggled, this, [this, box] { PreserveCreationDateAction(box); });
        } else {
            connect(box, &QCheckBox::toggled, jobOptions_,
                    [this, option = binding.option](bool on) { jobOptions_->setExtraOption(option, on, false); });
        }
    }
    connect(sheet->selectDestinationButton, &QPushButton::clicked, this,
            [this, sheet] { SelectDestinationFolder(sheet->selectDestinationButton); });
    connect(sheet->openDestinationButton, &QPushButton::clicked, this,
            [this, sheet] { OpenDestinationFolder(sheet->openDestinationButton); });
    connect(sheet->preferencesOkButton, &QPushButton::clicked, this,
            [this, sheet] { PreferencesOkAction(sheet->preferencesOkButton); });
    connect(jobOptions_, &JobOptionsModel::stateChanged, this, &AppDelegate::refreshPreferencesSheet);

    // Folders dropped on the destination box, and the folder a batch uses.
    BatchSeams& seams = batchSeams();
    seams.folderDropped = [this](const std::filesystem::path& path, int boxType) {
        WatchFolderPathChangeAction(path, boxType);
    };
    seams.storedDestination = [this] {
        return jobOptions_->state().general.useAsDestinationFolder ? destinationURL() : std::filesystem::path();
    };
    // The watermark editor hands its placements over after each drawing.
    if (WatermarkView* canvas = window_->watermarkContextView) {
        canvas->setCenterStore([this](const WatermarkCenter& text, const WatermarkCenter& image) {
            ReadWriteWatermarkCenter(text, image);
        });
    }
    // The general options are written before anything closes.
    connect(this, &AppDelegate::mainWindowWillClose, this, &AppDelegate::WriteGeneralPrefOptions);
    setUpPresets();
    showDestinationState();
    refreshPreferencesSheet();
}

void AppDelegate::refreshPreferencesSheet() {
    if (!prefs_ || !prefs_->sheet) return;
    PreferencesSheet* sheet = prefs_->sheet;
    const GeneralOptions& general = jobOptions_->state().general;
    for (const GeneralBoxBinding& binding : kGeneralBoxBindings) {
        QCheckBox* box = sheet->*binding.box;
        const QSignalBlocker blocker(box);
        box->setChecked(general.*binding.option);
    }
    sheet->preserveModifiedDateCheckButton->setEnabled(jobOptions_->state().preserveModifiedDateEnabled());
    if (auto* pngBox = window_->findChild<QCheckBox*>(QLatin1String(kPNGAlertCheckBoxName))) {
        const QSignalBlocker blocker(pngBox);
        pngBox->setChecked(jobOptions_->state().doNotShowPNGOptimizationAlert);
    }
}

// --- The sheet ---

void AppDelegate::PreferencesAction(QObject*) {
    PreferencesSheet* sheet = preferencesDialog();
    // The alerts borrow the two boxes with other titles: take them back.
    window_->doNotShowAlertCheckBox->setText(LocalizedString("DoNotShowAlertCheckBoxTitle1"));
    sheet->placeQuestionBox(window_->doNotShowAlertCheckBox, 0);
    if (auto* pngBox = window_->findChild<QCheckBox*>(QLatin1String(kPNGAlertCheckBoxName))) {
        pngBox->setText(LocalizedString("DoNotShowPNGOptimAlertCheckBoxTitle"));
        sheet->placeQuestionBox(pngBox, 1);
    }
    refreshPreferencesSheet();
    showDestinationState();
    sheet->open();
}

void AppDelegate::PreferencesOkAction(QObject*) {
    if (PreferencesSheet* sheet = preferencesDialog()) sheet->accept();
}

void AppDelegate::SelectDestinationFolder(QObject*) {
    auto* dialog = new QFileDialog(preferencesDialog(), LocalizedString("OpenDestinationDialogTitle"));
    dialog->setObjectName(QStringLiteral("preferencesDestinationPanel"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly, true);
    dialog->setLabelText(QFileDialog::Accept, LocalizedString("OpenDialogButton"));
    connect(dialog, &QFileDialog::finished, this, [this, dialog](int result) {
        const QStringList files = dialog->selectedFiles();
        const std::filesystem::path folder = files.isEmpty() ? std::filesystem::path() : PathShownAs(files.first());
        if (result == QDialog::Accepted && !folder.empty()) SetDestinationURL(folder);
    });
    dialog->open();
}

void AppDelegate::OpenDestinationFolder(QObject*) {
    const std::filesystem::path folder = destinationURL();
    if (!folder.empty() && batchSeams().openFolder) batchSeams().openFolder(folder);
}

void AppDelegate::changeOverwriteExistingFile(QObject* sender) {
    auto* box = qobject_cast<QCheckBox*>(sender);
    bool on = box ? box->isChecked() : jobOptions_->state().general.overwriteExisting;
    if (on && !jobOptions_->state().general.overwriteExisting) {
        const int code = RunCustomAlertSheet(
            LocalizedString("overwriteExistinFileConfirmTitle"), LocalizedString("overwriteExistinFileConfirmMsg"),
            LocalizedString("DiscardButtonTitle1"), LocalizedString("OkButtonString"), QString(),
            preferencesDialog()->isVisible() ? static_cast<QWidget*>(preferencesDialog()) : window_.get());
        if (code == kAlertDefaultReturn) on = false;
    }
    jobOptions_->setExtraOption(&GeneralOptions::overwriteExisting, on, false);
    refreshPreferencesSheet();
}

void AppDelegate::PreserveCreationDateAction(QObject* sender) {
    auto* box = qobject_cast<QCheckBox*>(sender);
    const bool on = box ? box->isChecked() : jobOptions_->state().general.preserveCreationDate;
    jobOptions_->PreserveCreationDateAction(on, false);
    refreshPreferencesSheet();
}

// --- The destination folder ---

std::filesystem::path AppDelegate::destinationURL() const {
    if (!prefs_ || prefs_->m_destinationURL.empty()) return {};
    // A folder removed since it was chosen is no destination any more.
    return plat::FileManager::isDirectory(prefs_->m_destinationURL) ? prefs_->m_destinationURL : std::filesystem::path();
}

void AppDelegate::SetDestinationURL(const std::filesystem::path& folder) {
    if (folder.empty()) {
        SetDestinationURLData(QByteArray());
        return;
    }
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(folder, error);
    SetDestinationURLData(
        error ? QByteArray() : FileURIForPath(absolute.lexically_normal()));
}

void AppDelegate::SetDestinationURLData(const QByteArray& data) {
    PreferencesState& state = prefs();
    state.m_destinationURL.clear();
    state.m_destinationURLSecureData.clear();
    state.destinationUnavailable = false;
    const std::filesystem::path folder = FolderOfURLData(data);
    if (!folder.empty() && plat::FileManager::isDirectory(folder)) {
        state.m_destinationURL = folder;
        state.m_destinationURLSecureData = data;
    } else if (!folder.empty()) {
        // Kept (an unmounted drive may come back) but not usable now.
        state.m_destinationURLSecureData = data;
        state.destinationUnavailable = true;
    }
    showDestinationState();
}

void AppDelegate::showDestinationState() {
    if (!prefs_) return;
    const PreferencesState& state = *prefs_;
    const std::filesystem::path shown =
        state.m_destinationURL.empty() ? FolderOfURLData(state.m_destinationURLSecureData) : state.m_destinationURL;
    const QString path = QString::fromStdString(shown.string());
    const bool usable = !state.m_destinationURL.empty();
    if (PreferencesSheet* sheet = state.sheet) {
        if (!path.isEmpty()) sheet->destinationPathTextField->setText(path);
        sheet->destinationPathTextField->setToolTip(
            state.destinationUnavailable ? LocalizedFormat("DestinationUnavailableToolTip", {path}) : path);
        sheet->destinationPathTextField->setEnabled(usable || path.isEmpty());
        sheet->useAsDestinationFolderCheckBox->setEnabled(usable);
        sheet->openDestinationButton->setEnabled(usable);
    }
    if (QLabel* label = window_->destinationPathLabel) {
        label->setText(usable ? path : LocalizedString("DestinationBoxPlaceholder"));
        label->setToolTip(usable ? path : QString());
    }
}

void AppDelegate::WatchFolderPathChangeAction(const std::filesystem::path& path, int boxType) {
    if (boxType != 1) return;
    SetDestinationURL(path);
}

// --- The general options file ---

void AppDelegate::ApplyGeneralPrefOptions() {
    prefs();
    std::optional<PrefDictionary> file;
    LoadPrefDictionary(&file, kGeneralPrefFileFormat);
    const GeneralPreferences stored = GeneralPreferencesFromDictionary(file ? &*file : nullptr);
    if (stored.destinationURL) {
        SetDestinationURLData(QByteArray(reinterpret_cast<const char*>(stored.destinationURL->data()),
                                         static_cast<qsizetype>(stored.destinationURL->size())));
    }
    JobOptionState state = jobOptions_->state();
    state.general.addFoldersRecursively = stored.addRecursively;
    state.general.maintainDirectory = stored.maintainDirectory;
    state.general.overwriteExisting = stored.overwriteFile;
    state.general.preserveMetadata = stored.metaData;
    state.general.preserveCreationDate = stored.preserveCreationDate;
    state.general.preserveModifiedDate = stored.preserveModificationDate;
    state.general.useAsDestinationFolder = stored.useAsDestinationFolder;
    state.doNotShowPNGOptimizationAlert = stored.doNotShowPNGOptimizationAlert;
    jobOptions_->setState(state);
    PreserveCreationDateAction(preferencesDialog()->preserveCreatedDateCheckButton);
    window_->doNotShowAlertCheckBox->setChecked(stored.doNotShowAlert);
    prefs_->storedPhotoPresetIndex = stored.photoPresetIndex;
    refreshPreferencesSheet();
}

void AppDelegate::WriteGeneralPrefOptions() {
    const JobOptionState& state = jobOptions_->state();
    GeneralPreferences options;
    options.photoPresetIndex = window_->PhotoPresetPopupButton->currentIndex();
    if (options.photoPresetIndex < 0) options.photoPresetIndex = 0;
    options.addRecursively = state.general.addFoldersRecursively;
    options.maintainDirectory = state.general.maintainDirectory;
    options.overwriteFile = state.general.overwriteExisting;
    options.metaData = state.general.preserveMetadata;
    options.preserveCreationDate = state.general.preserveCreationDate;
    options.preserveModificationDate = state.general.preserveModifiedDate;
    options.useAsDestinationFolder = state.general.useAsDestinationFolder;
    options.doNotShowAlert = window_->doNotShowAlertCheckBox->isChecked();
    options.doNotShowPNGOptimizationAlert = state.doNotShowPNGOptimizationAlert;
    if (prefs_ && !prefs_->m_destinationURLSecureData.isEmpty()) {
        const QByteArray& data = prefs_->m_destinationURLSecureData;
        options.destinationURL = plat::PlistValue::Data(data.begin(), data.end());
    }
    if (!SavePrefDictionary(GeneralPreferencesDictionary(options), kGeneralPrefFileFormat)) {
        RunCustomAlertSheet(LocalizedString("PreferencesSaveFailedAlertTitle"),
                            LocalizedString("PreferencesSaveFailedAlertMsg"), LocalizedString("OkButtonString"),
                            QString(), QString(), window_.get());
    }
}

// --- Watermark placements ---

void AppDelegate::ReadWriteWatermarkCenter(const WatermarkCenter& text, const WatermarkCenter& image) {
    QComboBox* jobMenu = window_->PhotoPresetPopupButton;
    QComboBox* watermarkMenu = window_->watermarkControls()->waterMarkPresetPopupOutlet;
    const int J = jobMenu->currentData().toInt();
    const int W = watermarkMenu->currentData().toInt();
    auto placement = [](const std::array<float, 6>& values) {
        plat::PlistValue::Array array;
        for (const float value : values) array.emplace_back(static_cast<double>(value));
        return plat::PlistValue(std::move(array));
    };
    // The placement into a named preset of a file; nothing when either is missing.
    auto store = [](std::string_view format, const QString& name, std::string_view key, plat::PlistValue value) {
        std::optional<PrefDictionary> presets;
        if (!LoadPrefDictionary(&presets, format) || !presets) return;
        auto found = presets->find(name.toStdString());
        auto* preset = found == presets->end() ? nullptr : found->second.get<PrefDictionary>();
        if (!preset) return;
        preset->insert_or_assign(std::string(key), std::move(value));
        SavePrefDictionary(*presets, format);
    };
    if (text && W != 0) {
        store(kWaterMarkPrefFileFormat, watermarkMenu->currentText(), preset_key::kTextCenter, placement(*text));
    }
    if (J == 0) return;
    if (!image && (W != 0 || !text)) return;
    std::optional<PrefDictionary> jobs;
    if (!LoadPrefDictionary(&jobs, kPhotoPrefFileFormat) || !jobs) return;
    auto found = jobs->find(jobMenu->currentText().toStdString());
    auto* preset = found == jobs->end() ? nullptr : found->second.get<PrefDictionary>();
    if (!preset) return;
    if (W == 0 && text) preset->insert_or_assign(std::string(preset_key::kTextCenter), placement(*text));
    if (image) preset->insert_or_assign(std::string(preset_key::kImageCenter), placement(*image));
    SavePrefDictionary(*jobs, kPhotoPrefFileFormat);
}
