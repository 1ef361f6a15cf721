#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;
class QWidget;

// The preferences sheet of the main window (preferencesDialog): where the
// outputs go, whether the folder structure is kept, whether files are
// overwritten, which metadata and dates carry over, and which questions are
// no longer asked. The controls are plain; the controller binds them. Each
// control's objectName is its outlet name.
class PreferencesSheet : public QDialog {
    Q_OBJECT
public:
    explicit PreferencesSheet(QWidget* parent);

    // Puts a shared "do not show" box (borrowed by the alerts) back into its
    // place on the sheet: the first or the second of the two places.
    void placeQuestionBox(QCheckBox* box, int place);

    QWidget* preferencesMainSubview = nullptr;
    QCheckBox* mAddRecursiveCheckBoxButton = nullptr;
    QCheckBox* maintainDirectoryCheckButton = nullptr;
    QCheckBox* overwriteExistingCheckButton = nullptr;
    QCheckBox* preserveMetadataCheckButton = nullptr;
    QCheckBox* preserveCreatedDateCheckButton = nullptr;
    QCheckBox* preserveModifiedDateCheckButton = nullptr;

    // The destination options.
    QWidget* destinationOptionAccessaryView = nullptr;
    QLabel* destinationPathLabelOutlet = nullptr;
    QLineEdit* destinationPathTextField = nullptr;
    QPushButton* selectDestinationButton = nullptr;
    QPushButton* openDestinationButton = nullptr;
    QCheckBox* useAsDestinationFolderCheckBox = nullptr;

    QPushButton* preferencesOkButton = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QVBoxLayout* questionLayout_ = nullptr;
};

// The dialog that names, saves and removes presets of every kind
// (AddPresetDialogOutlet): an editable list of the kind's names and Save,
// Cancel and Remove buttons.
class QComboBox;
class PresetDialog : public QDialog {
    Q_OBJECT
public:
    explicit PresetDialog(QWidget* parent);

    QComboBox* PresetNameComboboxOutlet = nullptr;
    QPushButton* savePresetButton = nullptr;
    QPushButton* cancelPresetButton = nullptr;
    QPushButton* removePresetButton = nullptr;
};
