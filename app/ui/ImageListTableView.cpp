#include "app/ui/ImageListTableView.h"

#include "app/model/ImageListModel.h"
#include "app/model/StringTable.h"
#include "app/ui/DragOut.h"

#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QHeaderView>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QTimer>
#include <QUrl>
#include <QVariantAnimation>

#include <algorithm>

namespace {

constexpr int kThumbnailBox = 104;
constexpr int kMargin = 6;

QImage ThumbnailQImage(const ThumbnailImage& thumbnail) {
    // Wraps the shared pixels for the duration of one paint.
    return QImage(thumbnail.rgba.data(), thumbnail.width, thumbnail.height, thumbnail.width * 4,
                  QImage::Format_RGBA8888);
}

void PaintSpinner(QPainter* painter, const QRect& box, int phase, const QColor& colour) {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->translate(box.center());
    for (int i = 0; i < 12; ++i) {
        QColor tick = colour;
        tick.setAlphaF(0.15 + 0.85 * double((i + 12 - phase % 12) % 12) / 11.0);
        painter->setPen(QPen(tick, 2.5, Qt::SolidLine, Qt::RoundCap));
        painter->drawLine(QPointF(0, -7), QPointF(0, -13));
        painter->rotate(30.0);
    }
    painter->restore();
}

// A picture of rows that were removed, fading out where they stood. Only a
// picture: the rows are gone from the list already.
class FadingRowsPicture : public QWidget {
public:
    FadingRowsPicture(QWidget* viewport, const QRect& area, int durationMs)
        : QWidget(viewport), picture_(viewport->grab(area)) {
        setObjectName(QStringLiteral("fadingRowsPicture"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setGeometry(area);
        auto* fade = new QVariantAnimation(this);
        fade->setStartValue(1.0);
        fade->setEndValue(0.0);
        fade->setDuration(durationMs);
        connect(fade, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
            opacity_ = value.toDouble();
            update();
        });
        connect(fade, &QVariantAnimation::finished, this, &QObject::deleteLater);
        show();
        fade->start();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setOpacity(opacity_);
        painter.drawPixmap(0, 0, picture_);
    }

private:
    QPixmap picture_;
    double opacity_ = 1.0;
};

}  // namespace

// --- ImageDataCellView -----------------------------------------------------------

ImageDataCellView::ImageDataCellView(QObject* parent) : QStyledItemDelegate(parent) {}

QSize ImageDataCellView::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    return {std::max(option.rect.width(), 200), kRowHeight};
}

void ImageDataCellView::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.text.clear();
    background.icon = QIcon();
    QStyle* style = background.widget ? background.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, background.widget);

    const auto* model = qobject_cast<const ImageListModel*>(index.model());
    const ListEntityRef entity = model ? model->ImageEntityForRow(index.row()) : nullptr;
    if (!entity) return;
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette::ColorRole textRole = selected ? QPalette::HighlightedText : QPalette::Text;
    const QColor textColour = option.palette.color(textRole);

    const QRect box(option.rect.left() + kMargin, option.rect.top() + (option.rect.height() - kThumbnailBox) / 2,
                    kThumbnailBox, kThumbnailBox);
    switch (entity->thumbnailState()) {
    case ThumbnailState::Loaded:
        if (ThumbnailRef thumbnail = entity->thumbnailImage()) {
            const QImage image = ThumbnailQImage(*thumbnail);
            QSizeF size(image.width(), image.height());
            size.scale(kThumbnailBox, kThumbnailBox, Qt::KeepAspectRatio);
            const QRectF target(box.left() + (kThumbnailBox - size.width()) / 2.0,
                                box.top() + (kThumbnailBox - size.height()) / 2.0, size.width(), size.height());
            painter->save();
            painter->setRenderHint(QPainter::SmoothPixmapTransform);
            painter->setOpacity(painter->opacity() * imageOpacity(entity.get()));
            painter->drawImage(target, image);
            painter->restore();
        }
        break;
    case ThumbnailState::NoPixels:
        style->standardIcon(QStyle::SP_TrashIcon).paint(painter, box.adjusted(26, 26, -26, -26));
        break;
    case ThumbnailState::Failed:
        if (!emptyImageIcon_.isNull()) {
            emptyImageIcon_.paint(painter, box.adjusted(22, 22, -22, -22), Qt::AlignCenter,
                                  selected ? QIcon::Selected : QIcon::Disabled);
        } else {
            style->standardIcon(QStyle::SP_MessageBoxWarning).paint(painter, box.adjusted(30, 30, -30, -30));
        }
        break;
    case ThumbnailState::None:
    case ThumbnailState::Loading:
        PaintSpinner(painter, box, spinnerPhase_, textColour);
        break;
    }

    // Name, then size, resolution and pixel size, each on its own line.
    const QRect textRect(box.right() + 10, option.rect.top() + 8, option.rect.right() - box.right() - 16,
                         option.rect.height() - 16);
    painter->save();
    painter->setPen(textColour);
    QFont nameFont = option.font;
    nameFont.setBold(true);
    const QFontMetrics nameMetrics(nameFont);
    painter->setFont(nameFont);
    int y = textRect.top() + nameMetrics.ascent();
    painter->drawText(textRect.left(), y,
                      nameMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideMiddle, textRect.width()));
    painter->setFont(option.font);
    const QFontMetrics metrics(option.font);
    QColor factColour = textColour;
    if (!selected) factColour.setAlphaF(0.7);
    painter->setPen(factColour);
    QStringList facts;
    if (entity->thumbnailState() == ThumbnailState::Failed) {
        facts << LocalizedString("ImageListLoadFailed");
    } else {
        for (int role : {ImageListModel::FileSizeTextRole, ImageListModel::ResolutionTextRole,
                         ImageListModel::PixelSizeTextRole}) {
            facts << index.data(role).toString();
        }
    }
    y += nameMetrics.descent() + 6;
    for (const QString& fact : facts) {
        y += metrics.height();
        painter->drawText(textRect.left(), y, metrics.elidedText(fact, Qt::ElideRight, textRect.width()));
    }
    painter->restore();
}

double ImageDataCellView::imageOpacity(const void* entry) const {
    const auto it = imageOpacity_.find(entry);
    return it == imageOpacity_.end() ? 1.0 : it->second;
}

// --- ImageListTableView ----------------------------------------------------------------

ImageListTableView::ImageListTableView(QWidget* parent) : KSMTableView(parent) {
    cells_ = new ImageDataCellView(this);
    setItemDelegate(cells_);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDropIndicatorShown(true);
    setDefaultDropAction(Qt::CopyAction);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setAlternatingRowColors(true);
    horizontalHeader()->setStretchLastSection(true);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // No sort until the user clicks the header: files keep the order they
    // were added in.
    horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(ImageDataCellView::kRowHeight);
    spinnerTimer_ = new QTimer(this);
    spinnerTimer_->setInterval(80);
    connect(spinnerTimer_, &QTimer::timeout, this, &ImageListTableView::updateSpinner);
    if (qEnvironmentVariableIsSet("VANTRELL_NO_ANIMATIONS")) setRowFadeDurations(0, 0);
}

void ImageListTableView::setRowFadeDurations(int fadeInMs, int fadeOutMs) {
    fadeInMs_ = std::max(0, fadeInMs);
    fadeOutMs_ = std::max(0, fadeOutMs);
}

double ImageListTableView::rowImageOpacity(int row) const {
    const ListEntityRef entity = model_ ? model_->ImageEntityForRow(row) : nullptr;
    return entity ? cells_->imageOpacity(entity.get()) : 1.0;
}

void ImageListTableView::fadeInArrivedImages(int first, int last) {
    if (!model_ || fadeInMs_ <= 0) return;
    for (int row = std::max(0, first); row <= last && row < model_->count(); ++row) {
        const ListEntityRef entity = model_->ImageEntityForRow(row);
        if (!entity || entity->thumbnailState() != ThumbnailState::Loaded) continue;
        // A row off screen shows its thumbnail when it is next drawn.
        if (!visualRect(model_->index(row, 0)).intersects(viewport()->rect())) continue;
        const void* key = entity.get();
        if (fadesIn_.count(key)) continue;
        auto* fade = new QVariantAnimation(this);
        fade->setStartValue(0.0);
        fade->setEndValue(1.0);
        fade->setDuration(fadeInMs_);
        cells_->setImageOpacity(key, 0.0);
        connect(fade, &QVariantAnimation::valueChanged, this, [this, key](const QVariant& value) {
            cells_->setImageOpacity(key, value.toDouble());
            viewport()->update();
        });
        connect(fade, &QVariantAnimation::finished, this, [this, key] {
            cells_->clearImageOpacity(key);
            fadesIn_.erase(key);
            viewport()->update();
        });
        fadesIn_[key] = fade;
        fade->start(QAbstractAnimation::DeleteWhenStopped);
    }
}

void ImageListTableView::fadeOutRows(int first, int last) {
    if (!model_) return;
    QRect area;
    for (int row = std::max(0, first); row <= last && row < model_->count(); ++row) {
        if (const ListEntityRef entity = model_->ImageEntityForRow(row)) {
            // The entry goes: its fade stops, and its key may come back for another.
            const auto fade = fadesIn_.find(entity.get());
            if (fade != fadesIn_.end()) {
                QVariantAnimation* animation = fade->second;
                fadesIn_.erase(fade);
                animation->stop();
            }
            cells_->clearImageOpacity(entity.get());
        }
        area |= visualRect(model_->index(row, 0));
    }
    area &= viewport()->rect();
    if (fadeOutMs_ > 0 && !area.isEmpty()) new FadingRowsPicture(viewport(), area, fadeOutMs_);
}

void ImageListTableView::setEmptyImageIcon(const QIcon& icon) {
    cells_->setEmptyImageIcon(icon);
    viewport()->update();
}

void ImageListTableView::setListModel(ImageListModel* model) {
    model_ = model;
    setModel(model);
    setSelectionModel(model->selectionModel());
    setSortingEnabled(true);
    auto restartSpinner = [this] {
        if (!spinnerTimer_->isActive()) spinnerTimer_->start();
    };
    connect(model, &QAbstractItemModel::rowsInserted, this, restartSpinner);
    connect(model, &QAbstractItemModel::dataChanged, this, restartSpinner);
    // A change of a row is its thumbnail and facts arriving.
    connect(model, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
                fadeInArrivedImages(topLeft.row(), bottomRight.row());
            });
    connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex&, int first, int last) { fadeOutRows(first, last); });
    connect(model, &QAbstractItemModel::layoutChanged, this, restartSpinner);
    // Rows scrolled into view start their loads.
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, restartSpinner);
}

void ImageListTableView::updateSpinner() {
    if (!model_) return;
    // Rows being shown start their loads; the spinner turns while any of
    // them is still loading.
    const int first = std::max(0, rowAt(0));
    int last = rowAt(viewport()->height() - 1);
    if (last < 0) last = model_->count() - 1;
    bool loading = false;
    for (int row = first; row <= last && row < model_->count(); ++row) {
        model_->rowBecameVisible(row);
        const ThumbnailState state = model_->ImageEntityForRow(row)->thumbnailState();
        loading = loading || state == ThumbnailState::Loading || state == ThumbnailState::None;
    }
    // The last pass repaints too: a load that finished before its row was
    // observed sent no change, and its spinner would stay on screen.
    if (loading) cells_->setSpinnerPhase(++spinnerPhase_);
    else spinnerTimer_->stop();
    viewport()->update();
}

int ImageListTableView::dropRowAt(const QPoint& position) const {
    const int row = rowAt(position.y());
    return row < 0 ? (model_ ? model_->count() : 0) : row;
}

bool ImageListTableView::acceptsDrag(const QDropEvent* event) const {
    // Rows of this list dropped on itself are refused.
    if (event->source() == this || !event->mimeData()->hasUrls()) return false;
    return !isDropAllowed || isDropAllowed();
}

void ImageListTableView::offerCopy(QDragMoveEvent* event) const {
    if (acceptsDrag(event)) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void ImageListTableView::dragEnterEvent(QDragEnterEvent* event) {
    draggedFiles_.forget();
    draggedFiles_.remember(event->mimeData());
    offerCopy(event);
}

void ImageListTableView::dragMoveEvent(QDragMoveEvent* event) {
    draggedFiles_.remember(event->mimeData());
    offerCopy(event);
}

void ImageListTableView::dragLeaveEvent(QDragLeaveEvent* event) {
    draggedFiles_.forget();
    QTableView::dragLeaveEvent(event);
}

void ImageListTableView::dropEvent(QDropEvent* event) {
    if (!acceptsDrag(event)) {
        event->ignore();
        draggedFiles_.forget();
        return;
    }
    // Read now, while the drop is handled; a source that has already gone
    // leaves the files read as the drag entered.
    std::vector<std::filesystem::path> urls = DroppedFilePaths(draggedFiles_.atDrop(event->mimeData()));
    draggedFiles_.forget();
    event->setDropAction(Qt::CopyAction);
    event->accept();
    if (!urls.empty()) emit filesDropped(urls, dropRowAt(event->position().toPoint()));
}

void ImageListTableView::startDrag(Qt::DropActions) {
    if (!model_ || !beginDragOut) return;
    const std::vector<int> rows = model_->selectedRows();
    if (rows.empty()) return;
    QPointer<DragOutMimeData> data = beginDragOut(rows);
    if (!data) return;
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    data->dragStarts();
    if (ThumbnailRef thumbnail = model_->ImageEntityForRow(rows.front())->thumbnailImage()) {
        drag->setPixmap(QPixmap::fromImage(ThumbnailQImage(*thumbnail).scaled(64, 64, Qt::KeepAspectRatio)));
    }
    const Qt::DropAction action = drag->exec(Qt::CopyAction, Qt::CopyAction);
    if (data) data->dropped(action != Qt::IgnoreAction);
}
