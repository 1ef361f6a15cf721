#pragma once
// The image list: its entries in order, the selection, per-entry rotation and
// flip, the rows' thumbnails as they arrive, and the add requests that fill
// it. Lives on the main thread; add requests run on threads of their own and
// hand every change back to the main thread.

#include "app/model/AddImageFiles.h"
#include "app/model/ListViewBaseCellEntity.h"

#include <QAbstractTableModel>
#include <QItemSelectionModel>

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// What a batch, a preview or a drag-out needs of one row, copied on the main
// thread when the work starts.
struct ListRowSnapshot {
    std::filesystem::path fileURL;
    std::filesystem::path parentFolder;  // the folder the file was added through; empty when added by itself
    std::int64_t angle = 0;              // degrees, positive to the left
    std::int32_t flip = 0;               // bit 0 horizontal, bit 1 vertical
};

class ImageListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // The one column and the key the list sorts by.
    static constexpr const char* kColumnIdentifier = "ImageList";

    enum Role {
        FileSizeTextRole = Qt::UserRole + 1,
        ResolutionTextRole,
        PixelSizeTextRole,
        ThumbnailStateRole,
    };

    explicit ImageListModel(QObject* parent = nullptr);
    ~ImageListModel() override;

    // --- Table model ---------------------------------------------------------
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Sorting by the header: only the name column sorts.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // --- Entries --------------------------------------------------------------
    int count() const { return int(entries_.size()); }
    bool isEmpty() const { return entries_.empty(); }
    const std::vector<ListEntityRef>& entries() const { return entries_; }
    // The entry of a row; null outside the list.
    ListEntityRef ImageEntityForRow(int row) const;
    // The row of an entry; -1 when it is not in the list.
    int indexOfEntity(const ListViewBaseCellImageEntity* entity) const;
    // Inserts at `index`, clamped to the list; answers the row used.
    int insertEntity(ListEntityRef entity, int index);

    // --- Selection ------------------------------------------------------------
    QItemSelectionModel* selectionModel() const { return selection_; }
    // Selected rows, ascending.
    std::vector<int> selectedRows() const;
    // The row the table reports as selected: the current row when it is
    // selected, else the first selected row; -1 without a selection.
    int selectedRow() const;
    ListEntityRef selectedEntity() const;
    // Selects one row: negative counts as 0, past the end as the last row.
    void SelectRowStartingAtRow(int row);
    void SelectRowStartingAtRowIfNothingSelected(int row);

    // --- Removing --------------------------------------------------------------
    // Removes the selected rows; with no selection it removes nothing. Then
    // selects the row at the first removed index (or the last row). Pending
    // thumbnail loads are cancelled when every row goes.
    void RemoveSelected();
    void RemoveAll();

    // --- Sorting ---------------------------------------------------------------
    // The table's first sort descriptor; without one, adds sort by name
    // ascending.
    void setSortDescriptor(const QString& key, bool ascending);
    QString sortKey() const { return sortKey_; }
    bool sortAscending() const { return sortAscending_; }

    // --- Rotate and flip (every selected row, ascending) ------------------------
    void rotateImage(std::int64_t step);
    void flipImage(std::int32_t mask);

    // --- Snapshots ---------------------------------------------------------------
    std::vector<ListRowSnapshot> snapshotRows(const std::vector<int>& rows) const;
    std::vector<ListRowSnapshot> snapshotAllRows() const;
    std::vector<ListRowSnapshot> snapshotSelectedRows() const;

    // --- Thumbnails ----------------------------------------------------------------
    // A row is being shown: observe its entry's thumbnail (once) and start the
    // load.
    void rowBecameVisible(int row);
    // A row view went away: stop observing the entry it showed.
    void stopObserving(const ListEntityRef& entity);
    int observedCount() const { return int(observedImageVisibleItems_.size()); }
    // A thumbnail arrived: the entry's row changes in place (nothing when the
    // entry was removed meanwhile).
    void ReloadRowForEntity(const ListEntityRef& entity);

    // --- Adding --------------------------------------------------------------------
    // Starts one add request on a thread of its own; requests run one after
    // another. No index: the end of the list when the request is served.
    std::shared_ptr<AddRequestState> AddUrlsIntoImageListView(std::vector<std::filesystem::path> urls,
                                                              bool recursive, std::optional<int> index = std::nullopt);
    // Cancels every running request.
    void cancelAddRequests();
    // Cancels every request and returns once their threads have ended; work
    // they were handing to this (main) thread is dropped. Main thread.
    void cancelAndWaitForAddRequests();
    // True while requests are queued or running.
    bool isAdding() const;

signals:
    void countChanged(int count);
    void listBecameEmpty();
    void listBecameNonEmpty();
    // The selected entry changed (or nothing is selected now).
    void selectedEntityChanged();
    // The selected entry was turned or flipped.
    void selectedEntityTransformChanged();
    // The selected entry's facts are known: pixel size and resolution.
    void selectedImageFactsChanged(double pixelWidth, double pixelHeight, double resolution);
    // An add request: started (the progress sheet opens), one more file
    // inserted, finished (the sheet closes).
    void addRequestBegan(const std::shared_ptr<AddRequestState>& state);
    void addRequestProgressed(const std::shared_ptr<AddRequestState>& state);
    void addRequestEnded(const std::shared_ptr<AddRequestState>& state);
    // The first entry of a request is in and selected.
    void firstEntryOfRequestAdded(int row, bool listWasEmpty);

private:
    struct AddRequest;
    class ObserverBridge;

    void runAddRequest(const std::shared_ptr<AddRequest>& request);
    // Runs `work` on the main thread and waits; gives up when the request is
    // cancelled before the main thread took it.
    bool runOnMainThread(const std::shared_ptr<AddRequest>& request, std::function<void()> work);
    void removeRows(std::vector<int> rows);
    // Applies `change` to every selected entry, in ascending row order.
    void changeSelectedEntities(const std::function<void(ListViewBaseCellImageEntity&)>& change);
    void emitSelectedFacts();

    std::vector<ListEntityRef> entries_;
    QItemSelectionModel* selection_;
    std::vector<ListEntityRef> observedImageVisibleItems_;
    std::shared_ptr<ObserverBridge> bridge_;
    QString sortKey_ = QLatin1String(kColumnIdentifier);
    bool sortAscending_ = true;

    // Add requests: one lock serves them one at a time.
    std::mutex addSyncronizeObject;
    mutable std::mutex requestsMutex_;
    std::vector<std::shared_ptr<AddRequest>> requests_;
    std::vector<std::thread> addThreads_;
};
