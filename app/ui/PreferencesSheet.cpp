#include "app/ui/PreferencesSheet.h"

#include "app/model/StringTable.h"
#include "app/ui/OptionRowBuilders.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

using optionrow::Named;

QCheckBox* Box(const char* name, const char* titleKey, QWidget* parent) {
    return Named(new QCheckBox(LocalizedString(titleKey), parent), name);
}

}  // namespace

PreferencesSheet::PreferencesSheet(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("preferencesDialog"));
    setWindowTitle(LocalizedString("PreferencesTitle"));
    setWindowModality(Qt::WindowModal);
    auto* layout = new QVBoxLayout(this);

    preferencesMainSubview = Named(new QWidget(this), "preferencesMainSubview");
    auto* main = new QVBoxLayout(preferencesMainSubview);
    main->setContentsMargins(0, 0, 0, 0);

    // Where outputs go.
    destinationOptionAccessaryView =
        Named(new QGroupBox(LocalizedString("DestinationGroupTitle"), preferencesMainSubview),
              "destinationOptionAccessaryView");
    auto* destination = new QFormLayout(destinationOptionAccessaryView);
    destinationPathLabelOutlet = Named(new QLabel(LocalizedString("DestinationFolderLabel"), destinationOptionAccessaryView),
                                       "destinationPathLabelOutlet");
    destinationPathTextField = Named(new QLineEdit(destinationOptionAccessaryView), "destinationPathTextField");
    destinationPathTextField->setReadOnly(true);
    destinationPathTextField->setMinimumWidth(320);
    destinationPathTextField->setPlaceholderText(LocalizedString("NoDestinationFolderPlaceholder"));
    destinationPathLabelOutlet->setBuddy(destinationPathTextField);
    destinationPathTextField->setAccessibleName(destinationPathLabelOutlet->text().remove(QLatin1Char(':')));
    destination->addRow(destinationPathLabelOutlet, destinationPathTextField);
    auto* buttons = new QHBoxLayout;
    selectDestinationButton = Named(new QPushButton(LocalizedString("SelectDestinationButton"), destinationOptionAccessaryView),
                                    "selectDestinationButton");
    openDestinationButton =
        Named(new QPushButton(LocalizedString("OpenDestinationTitle"), destinationOptionAccessaryView), "openDestinationButton");
    useAsDestinationFolderCheckBox =
        Box("useAsDestinationFolderCheckBox", "UseAsDestinationFolderCheckBox", destinationOptionAccessaryView);
    buttons->addWidget(selectDestinationButton);
    buttons->addWidget(openDestinationButton);
    buttons->addStretch(1);
    destination->addRow(QString(), buttons);
    destination->addRow(QString(), useAsDestinationFolderCheckBox);
    main->addWidget(destinationOptionAccessaryView);

    // How files are written.
    auto* output = Named(new QGroupBox(LocalizedString("OutputGroupTitle"), preferencesMainSubview), "outputOptionsBox");
    auto* outputLayout = new QVBoxLayout(output);
    mAddRecursiveCheckBoxButton = Box("mAddRecursiveCheckBoxButton", "AddRecursiveCheckBox", output);
    maintainDirectoryCheckButton = Box("maintainDirectoryCheckButton", "MaintainDirectoryCheckBox", output);
    overwriteExistingCheckButton = Box("overwriteExistingCheckButton", "OverwriteExistingCheckBox", output);
    preserveMetadataCheckButton = Box("preserveMetadataCheckButton", "PreserveMetadataCheckBox", output);
    preserveCreatedDateCheckButton = Box("preserveCreatedDateCheckButton", "PreserveCreatedDateCheckBox", output);
    preserveModifiedDateCheckButton = Box("preserveModifiedDateCheckButton", "PreserveModifiedDateCheckBox", output);
    for (QCheckBox* box : {mAddRecursiveCheckBoxButton, maintainDirectoryCheckButton, overwriteExistingCheckButton,
                           preserveMetadataCheckButton, preserveCreatedDateCheckButton}) {
        outputLayout->addWidget(box);
    }
    // Only meaningful while creation dates are kept: indented under that box.
    auto* modified = new QHBoxLayout;
    modified->addSpacing(20);
    modified->addWidget(preserveModifiedDateCheckButton);
    outputLayout->addLayout(modified);
    main->addWidget(output);

    // Questions no longer asked: the two shared boxes are placed here.
    auto* questions = Named(new QGroupBox(LocalizedString("QuestionsGroupTitle"), preferencesMainSubview), "questionsBox");
    questionLayout_ = new QVBoxLayout(questions);
    main->addWidget(questions);
    layout->addWidget(preferencesMainSubview);

    auto* row = new QHBoxLayout;
    row->addStretch(1);
    preferencesOkButton = Named(new QPushButton(LocalizedString("OkButtonString"), this), "preferencesOkButton");
    preferencesOkButton->setDefault(true);
    row->addWidget(preferencesOkButton);
    layout->addLayout(row);
}

// The sheet opens on its first control that does something: the read-only
// path field before it only shows the folder.
void PreferencesSheet::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (selectDestinationButton->isVisibleTo(this) && selectDestinationButton->isEnabled())
        selectDestinationButton->setFocus(Qt::OtherFocusReason);
}

void PreferencesSheet::placeQuestionBox(QCheckBox* box, int place) {
    if (!box) return;
    const int at = std::min(place, questionLayout_->count());
    if (box->parentWidget() != questionLayout_->parentWidget() || questionLayout_->indexOf(box) < 0) {
        questionLayout_->insertWidget(at, box);
    }
    box->show();
}

PresetDialog::PresetDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("AddPresetDialogOutlet"));
    setWindowTitle(LocalizedString("PresetDialogTitle"));
    setWindowModality(Qt::ApplicationModal);
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    PresetNameComboboxOutlet = Named(new QComboBox(this), "PresetNameComboboxOutlet");
    PresetNameComboboxOutlet->setEditable(true);
    PresetNameComboboxOutlet->setInsertPolicy(QComboBox::NoInsert);
    PresetNameComboboxOutlet->setMinimumWidth(280);
    auto* label = Named(new QLabel(LocalizedString("PresetNameLabel"), this), "presetNameLabel");
    optionrow::Pair(label, PresetNameComboboxOutlet);
    form->addRow(label, PresetNameComboboxOutlet);
    layout->addLayout(form);

    auto* row = new QHBoxLayout;
    removePresetButton = Named(new QPushButton(LocalizedString("RemoveButtonTitle"), this), "removePresetButton");
    cancelPresetButton = Named(new QPushButton(LocalizedString("CancelTitle"), this), "cancelPresetButton");
    savePresetButton = Named(new QPushButton(LocalizedString("SaveTitle"), this), "savePresetButton");
    savePresetButton->setDefault(true);
    row->addWidget(removePresetButton);
    row->addStretch(1);
    row->addWidget(cancelPresetButton);
    row->addWidget(savePresetButton);
    layout->addLayout(row);
}
