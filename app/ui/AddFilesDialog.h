#pragma once
// The Add dialog: files and folders chosen together, several at once, with
// the add-recursively box. Qt's file dialog picks either files or folders,
// so this one is built from a file-system tree.

#include <QDialog>

#include <filesystem>
#include <vector>

class QCheckBox;
class QFileSystemModel;
class QLineEdit;
class QPushButton;
class QTreeView;

class AddFilesDialog : public QDialog {
    Q_OBJECT
public:
    explicit AddFilesDialog(QWidget* parent = nullptr);

    // The folder whose contents are listed.
    void setDirectory(const QString& path);
    QString directory() const;
    // The chosen files and folders, in the order shown.
    std::vector<std::filesystem::path> selectedURLs() const;
    // Selects these entries of the listed folder (by name).
    void selectNames(const QStringList& names);

    QCheckBox* mAddRecursiveCheckBoxButton = nullptr;
    QWidget* mRecusrsiveAddAccessoryView = nullptr;

private:
    void updateAddButton();

    QFileSystemModel* model_ = nullptr;
    QTreeView* tree_ = nullptr;
    QLineEdit* location_ = nullptr;
    QPushButton* upButton_ = nullptr;
    QPushButton* addButton_ = nullptr;
};
