#include "app/ui/MainMenus.h"

#include "app/model/StringTable.h"
#include "app/ui/AppDelegate.h"
#include "app/ui/ImageListTableView.h"
#include "app/ui/MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

namespace {

using Action = void (AppDelegate::*)(QObject*);

// One menu item: its outlet name, the string-table key of its title, the
// controller action it calls, and its shortcut: the platform's binding of a
// standard key where there is one, else the portable text (none when empty).
struct MenuEntry {
    const char* objectName;  // nullptr: a separator
    const char* titleKey;
    Action action;
    QKeySequence::StandardKey standardKey;
    const char* shortcut;
};

constexpr MenuEntry kSeparator{nullptr, nullptr, nullptr, QKeySequence::UnknownKey, ""};

constexpr MenuEntry kFileMenu[] = {
    {"addImageMenuItem", "AddImagesMenuItemTitle", &AppDelegate::AddImageOrFolderButtonAction, QKeySequence::Open,
     "Ctrl+O"},
    kSeparator,
    {"convertMenuItem", "ConvertMenuItemTitle", &AppDelegate::ConvertButtonAction, QKeySequence::UnknownKey,
     "Ctrl+Return"},
    {"convertAllMenuItem", "ConvertAllMenuItemTitle", &AppDelegate::ConvertAllButtonAction, QKeySequence::UnknownKey,
     "Ctrl+Shift+Return"},
    kSeparator,
    {"showInFileManagerMenuItem", "ShowInFileManagerMenuItemTitle", &AppDelegate::ImageListViewDoubleClick,
     QKeySequence::UnknownKey, ""},
    kSeparator,
    {"quitMenuItem", "QuitMenuItemTitle", &AppDelegate::terminate, QKeySequence::Quit, "Ctrl+Q"},
};

constexpr MenuEntry kEditMenu[] = {
    {"removeMenuItem", "RemoveMenuItemTitle", &AppDelegate::RemoveSelectedButtonAction, QKeySequence::Delete, "Del"},
    // Emptying the whole list stays a deliberate choice: no shortcut.
    {"removeAllMenuItem", "RemoveAllMenuItemTitle", &AppDelegate::RemoveAllButtonAction, QKeySequence::UnknownKey, ""},
    kSeparator,
    {"preferencesMenuItem", "PreferencesMenuItemTitle", &AppDelegate::PreferencesAction, QKeySequence::Preferences,
     "Ctrl+,"},
};

constexpr MenuEntry kImageMenu[] = {
    {"rotateLeftMenuItem", "RotateLeftMenuItemTitle", &AppDelegate::rotateLeft, QKeySequence::UnknownKey, "Ctrl+L"},
    {"rotateRightMenuItem", "RotateRightMenuItemTitle", &AppDelegate::rotateRight, QKeySequence::UnknownKey, "Ctrl+R"},
    kSeparator,
    {"flipHorizontalMenuItem", "FlipHorizontallyMenuItemTitle", &AppDelegate::flipHorizontal, QKeySequence::UnknownKey,
     ""},
    {"flipVerticalMenuItem", "FlipVerticallyMenuItemTitle", &AppDelegate::flipVertical, QKeySequence::UnknownKey, ""},
};

constexpr MenuEntry kHelpMenu[] = {
    {"userManualMenuItem", "UserManualMenuItemTitle", &AppDelegate::UserManualHelpAction, QKeySequence::HelpContents,
     "F1"},
    {"contactSupportMenuItem", "ContactSupportMenuItemTitle", &AppDelegate::ContactSupportAction,
     QKeySequence::UnknownKey, ""},
    {"rateApplicationMenuItem", "RateApplicationMenuItemTitle", &AppDelegate::RateApplicationAction,
     QKeySequence::UnknownKey, ""},
};

// The context menu's items act on the rows it was opened for; their
// shortcuts are those of the menu bar's items.
constexpr MenuEntry kContextMenu[] = {
    {"contextConvertMenuItem", "ConvertMenuItemTitle", &AppDelegate::ConvertButtonAction, QKeySequence::UnknownKey, ""},
    {"contextRemoveMenuItem", "RemoveMenuItemTitle", &AppDelegate::RemoveSelectedButtonAction,
     QKeySequence::UnknownKey, ""},
    kSeparator,
    {"contextShowInFileManagerMenuItem", "ShowInFileManagerMenuItemTitle", &AppDelegate::ImageListViewDoubleClick,
     QKeySequence::UnknownKey, ""},
};

QKeySequence ShortcutFor(const MenuEntry& entry) {
    if (entry.standardKey != QKeySequence::UnknownKey) {
        // The platform's first binding is the one its menus show; further
        // bindings (Emacs-style keys on X11) would act unseen.
        const QList<QKeySequence> bindings = QKeySequence::keyBindings(entry.standardKey);
        if (!bindings.isEmpty()) return bindings.first();
    }
    return QKeySequence(QLatin1String(entry.shortcut), QKeySequence::PortableText);
}

template <std::size_t N>
void AddItems(QMenu* menu, const MenuEntry (&entries)[N], AppDelegate* delegate, QList<QAction*>& items) {
    for (const MenuEntry& entry : entries) {
        if (!entry.objectName) {
            menu->addSeparator();
            continue;
        }
        auto* action = new QAction(LocalizedString(entry.titleKey), menu);
        action->setObjectName(QLatin1String(entry.objectName));
        action->setShortcut(ShortcutFor(entry));
        const Action perform = entry.action;
        QObject::connect(action, &QAction::triggered, delegate, [delegate, action, perform] {
            (delegate->*perform)(action);
        });
        menu->addAction(action);
        items.push_back(action);
    }
}

// Offers the Quit item on each window of the application as it shows: a
// question or sheet over the main window, the preview. Qt matches a shortcut
// only in the active window and not in a window that a modal one blocks.
class QuitOnEveryWindow : public QObject {
public:
    QuitOnEveryWindow(MainMenus* menus, QWidget* mainWindow) : QObject(menus), menus_(menus), mainWindow_(mainWindow) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Show || !watched->isWidgetType()) return false;
        auto* widget = static_cast<QWidget*>(watched);
        const Qt::WindowType type = widget->windowType();
        if (widget->isWindow() && widget != mainWindow_ && type != Qt::Popup && type != Qt::ToolTip) {
            menus_->offerQuitOn(widget);
        }
        return false;
    }

private:
    MainMenus* menus_;
    QWidget* mainWindow_;
};

}  // namespace

MainMenus::MainMenus(AppDelegate* delegate, MainWindow* window)
    : QObject(window), delegate_(delegate), window_(window) {
    setObjectName(QStringLiteral("mainMenus"));
    menuBar_ = window->menuBar();
    menuBar_->setObjectName(QStringLiteral("mainMenuBar"));

    fileMenu_ = buildMenu("fileMenu", "FileMenuTitle");
    AddItems(fileMenu_, kFileMenu, delegate, items_);
    editMenu_ = buildMenu("editMenu", "EditMenuTitle");
    AddItems(editMenu_, kEditMenu, delegate, items_);
    imageMenu_ = buildMenu("imageMenu", "ImageMenuTitle");
    AddItems(imageMenu_, kImageMenu, delegate, items_);
    helpMenu_ = buildMenu("helpMenu", "HelpMenuTitle");
    AddItems(helpMenu_, kHelpMenu, delegate, items_);

    contextMenu_ = new QMenu(window);
    contextMenu_->setObjectName(QStringLiteral("imageListContextMenu"));
    contextMenu_->setAccessibleName(LocalizedString("ImageListContextMenuName"));
    AddItems(contextMenu_, kContextMenu, delegate, items_);
    connect(contextMenu_, &QMenu::aboutToShow, this, &MainMenus::validateMenuItems);

    // A click in the rows (the viewport) or the keyboard's menu key (the
    // table, which has the focus) opens the context menu.
    ImageListTableView* table = window->imageListViewOutlet;
    table->installEventFilter(this);
    table->viewport()->installEventFilter(this);
    validateMenuItems();
    qApp->installEventFilter(new QuitOnEveryWindow(this, window));
}

QMenu* MainMenus::buildMenu(const char* objectName, const char* titleKey) {
    QMenu* menu = menuBar_->addMenu(LocalizedString(titleKey));
    menu->setObjectName(QLatin1String(objectName));
    // Shortcuts act without the menu being opened, so the states are kept
    // current by the controller; opening checks them once more.
    connect(menu, &QMenu::aboutToShow, this, &MainMenus::validateMenuItems);
    return menu;
}

QAction* MainMenus::item(const QString& objectName) const {
    for (QAction* action : items_) {
        if (action->objectName() == objectName) return action;
    }
    return nullptr;
}

QList<QAction*> MainMenus::items() const { return items_; }

void MainMenus::validateMenuItems() {
    for (QAction* action : items_) action->setEnabled(delegate_->validateMenuItem(action));
}

void MainMenus::offerQuitOn(QWidget* sheet) {
    if (QAction* quit = item(QStringLiteral("quitMenuItem")); quit && sheet) sheet->addAction(quit);
}

void MainMenus::popUpContextMenu(int clickedRow, int clickedColumn, const QPoint& globalPosition) {
    delegate_->menuNeedsUpdate(clickedRow, clickedColumn);
    // Not exec(): the menu must not run an event loop of its own inside the
    // event that opened it.
    contextMenu_->popup(globalPosition);
}

bool MainMenus::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::ContextMenu) return QObject::eventFilter(watched, event);
    ImageListTableView* table = window_->imageListViewOutlet;
    auto* request = static_cast<QContextMenuEvent*>(event);
    if (watched == table->viewport() && request->reason() != QContextMenuEvent::Keyboard) {
        const QModelIndex index = table->indexAt(request->pos());
        popUpContextMenu(index.isValid() ? index.row() : -1, index.isValid() ? index.column() : -1,
                         request->globalPos());
        return true;
    }
    if (watched == table && request->reason() == QContextMenuEvent::Keyboard) {
        // The menu key acts on the selection: the menu opens at the current
        // row when it is in view, else in the middle of the list.
        QRect place = table->visualRect(table->currentIndex()).intersected(table->viewport()->rect());
        const QPoint local = place.isEmpty() ? table->viewport()->rect().center() : place.bottomLeft();
        popUpContextMenu(-1, -1, table->viewport()->mapToGlobal(local));
        return true;
    }
    return QObject::eventFilter(watched, event);
}
