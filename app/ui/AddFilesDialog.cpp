#include "app/ui/AddFilesDialog.h"

#include "app/model/StringTable.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

AddFilesDialog::AddFilesDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("addFilesDialog"));
    setWindowTitle(LocalizedString("OpenDialogTitle"));
    setWindowModality(Qt::WindowModal);
    auto* layout = new QVBoxLayout(this);

    auto* top = new QHBoxLayout;
    upButton_ = new QPushButton(LocalizedString("AddDialogParentFolder"), this);
    upButton_->setObjectName(QStringLiteral("addDialogParentFolderButton"));
    upButton_->setAccessibleName(upButton_->text());
    top->addWidget(upButton_);
    location_ = new QLineEdit(this);
    location_->setObjectName(QStringLiteral("addDialogLocationField"));
    location_->setAccessibleName(LocalizedString("AddDialogLocation"));
    top->addWidget(location_, 1);
    layout->addLayout(top);

    model_ = new QFileSystemModel(this);
    model_->setFilter(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::AllDirs);
    model_->setReadOnly(true);
    tree_ = new QTreeView(this);
    tree_->setObjectName(QStringLiteral("addDialogFileList"));
    tree_->setAccessibleName(LocalizedString("OpenDialogTitle"));
    tree_->setModel(model_);
    tree_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tree_->setSortingEnabled(true);
    tree_->sortByColumn(0, Qt::AscendingOrder);
    tree_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    tree_->setMinimumSize(560, 320);
    layout->addWidget(tree_, 1);

    mRecusrsiveAddAccessoryView = new QWidget(this);
    mRecusrsiveAddAccessoryView->setObjectName(QStringLiteral("mRecusrsiveAddAccessoryView"));
    auto* accessory = new QHBoxLayout(mRecusrsiveAddAccessoryView);
    accessory->setContentsMargins(0, 0, 0, 0);
    mAddRecursiveCheckBoxButton = new QCheckBox(LocalizedString("AddRecursiveCheckBox"), mRecusrsiveAddAccessoryView);
    mAddRecursiveCheckBoxButton->setObjectName(QStringLiteral("mAddRecursiveCheckBoxButton"));
    accessory->addWidget(mAddRecursiveCheckBoxButton);
    accessory->addStretch(1);
    layout->addWidget(mRecusrsiveAddAccessoryView);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    addButton_ = buttons->addButton(LocalizedString("AddDialogButton"), QDialogButtonBox::AcceptRole);
    addButton_->setObjectName(QStringLiteral("addDialogAddButton"));
    addButton_->setDefault(true);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(upButton_, &QPushButton::clicked, this, [this] {
        QDir folder(directory());
        if (folder.cdUp()) setDirectory(folder.absolutePath());
    });
    connect(location_, &QLineEdit::returnPressed, this, [this] {
        if (QFileInfo(location_->text()).isDir()) setDirectory(location_->text());
    });
    // A double-click opens a folder; on a file it adds.
    connect(tree_, &QTreeView::doubleClicked, this, [this](const QModelIndex& index) {
        if (model_->isDir(index)) {
            setDirectory(model_->filePath(index));
        } else {
            accept();
        }
    });
    connect(tree_->selectionModel(), &QItemSelectionModel::selectionChanged, this, &AddFilesDialog::updateAddButton);
    setDirectory(QDir::homePath());
}

void AddFilesDialog::setDirectory(const QString& path) {
    const QModelIndex root = model_->setRootPath(path);
    tree_->setRootIndex(root);
    tree_->clearSelection();
    location_->setText(QDir::toNativeSeparators(path));
    updateAddButton();
}

QString AddFilesDialog::directory() const { return model_->rootPath(); }

std::vector<std::filesystem::path> AddFilesDialog::selectedURLs() const {
    QModelIndexList rows = tree_->selectionModel()->selectedRows(0);
    std::sort(rows.begin(), rows.end(), [this](const QModelIndex& a, const QModelIndex& b) {
        return tree_->visualRect(a).top() < tree_->visualRect(b).top();
    });
    std::vector<std::filesystem::path> urls;
    for (const QModelIndex& index : rows) {
        urls.emplace_back(QFile::encodeName(model_->filePath(index)).toStdString());
    }
    return urls;
}

void AddFilesDialog::selectNames(const QStringList& names) {
    for (const QString& name : names) {
        const QModelIndex index = model_->index(QDir(directory()).filePath(name));
        if (index.isValid()) {
            tree_->selectionModel()->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }
}

void AddFilesDialog::updateAddButton() { addButton_->setEnabled(tree_->selectionModel()->hasSelection()); }
