#pragma once
// The main window's menu bar and the image list's context menu. Every item
// calls a controller action with itself as the sender, and takes its enabled
// state from the controller's validateMenuItem, which reads the same table
// as the toolbar: a menu item and its toolbar counterpart never disagree, and
// a disabled item's shortcut does nothing.

#include <QObject>
#include <QList>
#include <QPoint>

class AppDelegate;
class MainWindow;
class QAction;
class QMenu;
class QMenuBar;
class QWidget;

class MainMenus : public QObject {
    Q_OBJECT
public:
    // Builds the menus into the window's menu bar and hooks the context menu
    // to the window's image list.
    MainMenus(AppDelegate* delegate, MainWindow* window);

    QMenuBar* menuBar() const { return menuBar_; }
    QMenu* fileMenu() const { return fileMenu_; }
    QMenu* editMenu() const { return editMenu_; }
    QMenu* imageMenu() const { return imageMenu_; }
    QMenu* helpMenu() const { return helpMenu_; }
    QMenu* imageListContextMenu() const { return contextMenu_; }

    // An item of either menu by its object name ("convertMenuItem"), or none.
    QAction* item(const QString& objectName) const;
    // Every item of the menu bar and the context menu, in menu order.
    QList<QAction*> items() const;

    // Each item takes the controller's answer.
    void validateMenuItems();

    // The Quit item's shortcut also works while `sheet` (a window-modal
    // dialog over the main window, or another window of the application) has
    // the keyboard. Every window is offered it as it shows.
    void offerQuitOn(QWidget* sheet);

    // Opens the context menu at `globalPosition` for a click on the list's
    // row and column (-1 for a click outside the rows or the keyboard's menu
    // key): the controller first updates the selection.
    void popUpContextMenu(int clickedRow, int clickedColumn, const QPoint& globalPosition);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QMenu* buildMenu(const char* objectName, const char* titleKey);

    AppDelegate* delegate_;
    MainWindow* window_;
    QMenuBar* menuBar_ = nullptr;
    QMenu* fileMenu_ = nullptr;
    QMenu* editMenu_ = nullptr;
    QMenu* imageMenu_ = nullptr;
    QMenu* helpMenu_ = nullptr;
    QMenu* contextMenu_ = nullptr;
    QList<QAction*> items_;
};
