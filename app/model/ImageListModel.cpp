#include "app/model/ImageListModel.h"

#include "app/model/ImageListTexts.h"
#include "app/model/JobOptionsModel.h"
#include "app/model/StringTable.h"
#include "common/KSMUtil.h"
#include "platform/OperationQueue.h"

#include <QMetaObject>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <climits>
#include <numeric>

// Carries thumbnail notifications from the loading threads to the model on
// the main thread; the model detaches it when it goes, so a load finishing
// later posts nothing.
class ImageListModel::ObserverBridge {
public:
    explicit ObserverBridge(ImageListModel* model) : model_(model) {}

    void detach() {
        std::lock_guard lock(mutex_);
        model_ = nullptr;
    }

    void notify(const ListEntityRef& entity) {
        std::lock_guard lock(mutex_);
        if (!model_) return;
        ImageListModel* model = model_;
        QMetaObject::invokeMethod(
            model, [model, entity] { model->ReloadRowForEntity(entity); }, Qt::QueuedConnection);
    }

private:
    std::mutex mutex_;
    ImageListModel* model_;
};

struct ImageListModel::AddRequest {
    std::vector<std::filesystem::path> urls;
    bool recursive = false;
    std::optional<int> index;
    std::shared_ptr<AddRequestState> state = std::make_shared<AddRequestState>();
    std::atomic<bool> finished{false};
    // The model is going: hand nothing more to the main thread.
    std::atomic<bool> abandoned{false};
};

ImageListModel::ImageListModel(QObject* parent)
    : QAbstractTableModel(parent), selection_(new QItemSelectionModel(this, this)),
      bridge_(std::make_shared<ObserverBridge>(this)) {
    connect(selection_, &QItemSelectionModel::selectionChanged, this, [this] {
        emit selectedEntityChanged();
        emitSelectedFacts();
    });
}

ImageListModel::~ImageListModel() {
    bridge_->detach();
    cancelAndWaitForAddRequests();
    for (const ListEntityRef& entity : observedImageVisibleItems_) entity->setThumbnailObserver({});
}

// --- Table model -----------------------------------------------------------------

int ImageListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : count(); }

int ImageListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 1; }

QVariant ImageListModel::data(const QModelIndex& index, int role) const {
    const ListEntityRef entity = ImageEntityForRow(index.row());
    if (!entity || index.column() != 0) return {};
    const bool loaded = entity->thumbnailState() == ThumbnailState::Loaded;
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return QString::fromStdString(entity->title());
    case FileSizeTextRole:
        return loaded ? QVariant(JobOptionsModel::formattedFileSize(entity->GetFileSize())) : QVariant();
    case ResolutionTextRole:
        return loaded ? QVariant(ResolutionText(entity->GetResolution())) : QVariant();
    case PixelSizeTextRole:
        return loaded ? QVariant(PixelSizeText(entity->GetWidth(), entity->GetHeight())) : QVariant();
    case ThumbnailStateRole:
        return int(entity->thumbnailState());
    default:
        return {};
    }
}

QVariant ImageListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (section != 0 || orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    return LocalizedString("ImageListColumnTitle");
}

Qt::ItemFlags ImageListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::ItemIsDropEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
}

void ImageListModel::sort(int column, Qt::SortOrder order) {
    if (column != 0) return;
    const bool ascending = order == Qt::AscendingOrder;
    setSortDescriptor(QLatin1String(kColumnIdentifier), ascending);
    std::vector<std::string> titles;
    titles.reserve(entries_.size());
    for (const ListEntityRef& entity : entries_) titles.push_back(entity->title());
    std::vector<int> order_(entries_.size());
    std::iota(order_.begin(), order_.end(), 0);
    std::stable_sort(order_.begin(), order_.end(), [&](int a, int b) {
        const std::string& titleA = titles[std::size_t(a)];
        const std::string& titleB = titles[std::size_t(b)];
        if (titleA.empty() || titleB.empty()) return !titleA.empty() && titleB.empty();
        const int result = FinderCompare(titleA, titleB);
        return ascending ? result < 0 : result > 0;
    });

    // The selection follows its entries to their new rows.
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> newRow(entries_.size());
    std::vector<ListEntityRef> sorted;
    sorted.reserve(entries_.size());
    for (std::size_t k = 0; k < order_.size(); ++k) {
        newRow[std::size_t(order_[k])] = int(k);
        sorted.push_back(entries_[std::size_t(order_[k])]);
    }
    entries_ = std::move(sorted);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& index : before) after.append(this->index(newRow[std::size_t(index.row())], index.column()));
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

// --- Entries -------------------------------------------------------------------------

ListEntityRef ImageListModel::ImageEntityForRow(int row) const {
    if (row < 0 || row >= count()) return nullptr;
    return entries_[std::size_t(row)];
}

int ImageListModel::indexOfEntity(const ListViewBaseCellImageEntity* entity) const {
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].get() == entity) return int(i);
    }
    return -1;
}

int ImageListModel::insertEntity(ListEntityRef entity, int index) {
    if (!entity) return -1;
    // A drop row may be stale by the time a request reaches it.
    const int row = std::clamp(index, 0, count());
    beginInsertRows({}, row, row);
    entries_.insert(entries_.begin() + row, std::move(entity));
    endInsertRows();
    emit countChanged(count());
    return row;
}

// --- Selection ------------------------------------------------------------------------

std::vector<int> ImageListModel::selectedRows() const {
    std::vector<int> rows;
    for (const QModelIndex& index : selection_->selectedRows(0)) rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

int ImageListModel::selectedRow() const {
    const QModelIndex current = selection_->currentIndex();
    if (current.isValid() && selection_->isRowSelected(current.row(), {})) return current.row();
    const std::vector<int> rows = selectedRows();
    return rows.empty() ? -1 : rows.front();
}

ListEntityRef ImageListModel::selectedEntity() const { return ImageEntityForRow(selectedRow()); }

void ImageListModel::SelectRowStartingAtRow(int row) {
    if (isEmpty()) return;
    row = std::clamp(row, 0, count() - 1);
    selection_->setCurrentIndex(index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void ImageListModel::SelectRowStartingAtRowIfNothingSelected(int row) {
    if (!selection_->hasSelection()) SelectRowStartingAtRow(row);
}

void ImageListModel::emitSelectedFacts() {
    const ListEntityRef entity = selectedEntity();
    if (entity && entity->thumbnailState() == ThumbnailState::Loaded) {
        emit selectedImageFactsChanged(entity->GetWidth(), entity->GetHeight(), entity->GetResolution());
    }
}

// --- Removing -----------------------------------------------------------------------------

void ImageListModel::removeRows(std::vector<int> rows) {
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    // Contiguous runs from the end, so earlier rows keep their indexes.
    while (!rows.empty()) {
        int last = rows.back();
        int first = last;
        rows.pop_back();
        while (!rows.empty() && rows.back() == first - 1) {
            first = rows.back();
            rows.pop_back();
        }
        if (first < 0 || last >= count()) continue;
        beginRemoveRows({}, first, last);
        for (int row = first; row <= last; ++row) stopObserving(entries_[std::size_t(row)]);
        entries_.erase(entries_.begin() + first, entries_.begin() + last + 1);
        endRemoveRows();
    }
    emit countChanged(count());
}

void ImageListModel::RemoveSelected() {
    if (isEmpty()) return;
    const std::vector<int> rows = selectedRows();
    if (rows.empty()) {
        SelectRowStartingAtRow(INT_MAX);
        return;
    }
    if (int(rows.size()) == count() && GetThumbnailQueue().operationCount() > 0) {
        GetThumbnailQueue().cancelAllOperations();
    }
    const int firstRemoved = rows.front();
    removeRows(rows);
    if (isEmpty()) {
        emit listBecameEmpty();
    } else {
        SelectRowStartingAtRow(firstRemoved);
    }
}

void ImageListModel::RemoveAll() {
    if (GetThumbnailQueue().operationCount() > 0) GetThumbnailQueue().cancelAllOperations();
    if (!isEmpty()) {
        beginRemoveRows({}, 0, count() - 1);
        for (const ListEntityRef& entity : entries_) stopObserving(entity);
        entries_.clear();
        endRemoveRows();
    }
    emit countChanged(0);
    emit listBecameEmpty();
}

// --- Sorting -------------------------------------------------------------------------------

void ImageListModel::setSortDescriptor(const QString& key, bool ascending) {
    sortKey_ = key;
    sortAscending_ = ascending;
}

// --- Rotate and flip ---------------------------------------------------------------------------

void ImageListModel::rotateImage(std::int64_t step) {
    changeSelectedEntities([step](ListViewBaseCellImageEntity& entity) {
        entity.SetAngle(RotatedAngle(entity.GetAngle(), step));
    });
}

void ImageListModel::flipImage(std::int32_t mask) {
    changeSelectedEntities([mask](ListViewBaseCellImageEntity& entity) {
        entity.SetFlip(FlippedMask(entity.GetFlip(), mask));
    });
}

void ImageListModel::changeSelectedEntities(const std::function<void(ListViewBaseCellImageEntity&)>& change) {
    const std::vector<int> rows = selectedRows();
    for (int row : rows) change(*entries_[std::size_t(row)]);
    if (!rows.empty()) emit selectedEntityTransformChanged();
}

// --- Snapshots ----------------------------------------------------------------------------------

std::vector<ListRowSnapshot> ImageListModel::snapshotRows(const std::vector<int>& rows) const {
    std::vector<ListRowSnapshot> snapshot;
    snapshot.reserve(rows.size());
    for (int row : rows) {
        const ListEntityRef entity = ImageEntityForRow(row);
        if (!entity) continue;
        snapshot.push_back({entity->GetFileURL(), entity->GetParentFolder(), entity->angle(), entity->GetFlip()});
    }
    return snapshot;
}

std::vector<ListRowSnapshot> ImageListModel::snapshotAllRows() const {
    std::vector<int> rows(entries_.size());
    std::iota(rows.begin(), rows.end(), 0);
    return snapshotRows(rows);
}

std::vector<ListRowSnapshot> ImageListModel::snapshotSelectedRows() const { return snapshotRows(selectedRows()); }

// --- Thumbnails ------------------------------------------------------------------------------------

void ImageListModel::rowBecameVisible(int row) {
    const ListEntityRef entity = ImageEntityForRow(row);
    if (!entity) return;
    if (std::find(observedImageVisibleItems_.begin(), observedImageVisibleItems_.end(), entity) ==
        observedImageVisibleItems_.end()) {
        std::weak_ptr<ObserverBridge> bridge = bridge_;
        entity->setThumbnailObserver([bridge](const ListEntityRef& changed) {
            if (auto target = bridge.lock()) target->notify(changed);
        });
        observedImageVisibleItems_.push_back(entity);
    }
    entity->loadImage();
}

void ImageListModel::stopObserving(const ListEntityRef& entity) {
    auto it = std::find(observedImageVisibleItems_.begin(), observedImageVisibleItems_.end(), entity);
    if (it == observedImageVisibleItems_.end()) return;
    entity->setThumbnailObserver({});
    observedImageVisibleItems_.erase(it);
}

void ImageListModel::ReloadRowForEntity(const ListEntityRef& entity) {
    const int row = indexOfEntity(entity.get());
    if (row < 0) return;
    const QModelIndex changed = index(row, 0);
    emit dataChanged(changed, changed);
    if (row == selectedRow()) emitSelectedFacts();
}

// --- Adding --------------------------------------------------------------------------------------------

std::shared_ptr<AddRequestState> ImageListModel::AddUrlsIntoImageListView(std::vector<std::filesystem::path> urls,
                                                                          bool recursive, std::optional<int> index) {
    auto request = std::make_shared<AddRequest>();
    request->urls = std::move(urls);
    request->recursive = recursive;
    request->index = index;
    std::lock_guard lock(requestsMutex_);
    // Threads of finished requests are collected here rather than detached,
    // so none outlives the model.
    for (std::size_t i = 0; i < requests_.size();) {
        if (requests_[i]->finished.load()) {
            addThreads_[i].join();
            requests_.erase(requests_.begin() + std::ptrdiff_t(i));
            addThreads_.erase(addThreads_.begin() + std::ptrdiff_t(i));
        } else {
            ++i;
        }
    }
    requests_.push_back(request);
    addThreads_.emplace_back([this, request] { runAddRequest(request); });
    return request->state;
}

void ImageListModel::cancelAddRequests() {
    std::lock_guard lock(requestsMutex_);
    for (const auto& request : requests_) request->state->cancelled.store(true);
}

void ImageListModel::cancelAndWaitForAddRequests() {
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(requestsMutex_);
        for (const auto& request : requests_) {
            request->abandoned.store(true);
            request->state->cancelled.store(true);
        }
        threads.swap(addThreads_);
        requests_.clear();
    }
    for (std::thread& thread : threads) {
        if (thread.joinable()) thread.join();
    }
}

bool ImageListModel::isAdding() const {
    std::lock_guard lock(requestsMutex_);
    return std::any_of(requests_.begin(), requests_.end(),
                       [](const auto& request) { return !request->finished.load(); });
}

bool ImageListModel::runOnMainThread(const std::shared_ptr<AddRequest>& request, std::function<void()> work) {
    struct Handoff {
        std::mutex mutex;
        std::condition_variable done;
        bool taken = false;
        bool finished = false;
        bool dropped = false;
    };
    auto handoff = std::make_shared<Handoff>();
    QMetaObject::invokeMethod(
        this,
        [handoff, work = std::move(work)] {
            {
                std::lock_guard lock(handoff->mutex);
                if (handoff->dropped) return;
                handoff->taken = true;
            }
            work();
            {
                std::lock_guard lock(handoff->mutex);
                handoff->finished = true;
            }
            handoff->done.notify_all();
        },
        Qt::QueuedConnection);
    // Not a blocking queued call: the model's destructor may be waiting for
    // this thread on the main thread, and then the work must be given up.
    std::unique_lock lock(handoff->mutex);
    while (!handoff->finished) {
        if (!handoff->taken && request->abandoned.load()) {
            handoff->dropped = true;
            return false;
        }
        handoff->done.wait_for(lock, std::chrono::milliseconds(20));
    }
    return true;
}

void ImageListModel::runAddRequest(const std::shared_ptr<AddRequest>& request) {
    struct FinishedMark {
        AddRequest& request;
        ~FinishedMark() { request.finished.store(true); }
    } mark{*request};
    std::lock_guard serve(addSyncronizeObject);
    AddRequestState& state = *request->state;
    if (request->abandoned.load()) return;

    int countBefore = 0;
    int insertAt = 0;
    QString key;
    bool ascending = true;
    if (!runOnMainThread(request, [&] {
            countBefore = count();
            // Handed-over requests go to the end as the list is now.
            insertAt = request->index.value_or(countBefore);
            key = sortKey_;
            ascending = sortAscending_;
            emit addRequestBegan(request->state);
        })) {
        return;
    }

    std::vector<AddFileRecord> records = CollectFilesForAdding(request->urls, request->recursive, state);
    if (!records.empty() && !state.cancelled.load()) {
        if (key == QLatin1String(kColumnIdentifier)) SortAddRecords(records, ascending);
        bool first = true;
        for (const AddFileRecord& record : records) {
            if (state.cancelled.load()) break;
            ListEntityRef entity = ListViewBaseCellEntity::entityForURL(record.fileURL, record.folderURL);
            // The first entry is shown at once: decode it here, off the main thread.
            if (first) entity->loadImageDirectly();
            const bool ran = runOnMainThread(request, [&] {
                const int row = insertEntity(entity, insertAt);
                insertAt = row + 1;
                state.fileProcessingIndex.fetch_add(1);
                emit addRequestProgressed(request->state);
                if (first) {
                    SelectRowStartingAtRow(row);
                    emit firstEntryOfRequestAdded(row, countBefore == 0);
                }
            });
            if (!ran) return;
            if (!first) entity->loadImage();
            first = false;
        }
    }

    runOnMainThread(request, [&] {
        emit addRequestEnded(request->state);
        emit countChanged(count());
        if (countBefore == 0 && !isEmpty()) emit listBecameNonEmpty();
    });
}
