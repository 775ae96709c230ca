// The application's Text Encoding menu: one per application, shared by the menu bars of all
// document windows, built once from the resource "textencoding.plist" (see TextEncodingList).
//
// Item i of the menu is entry i of the list in order, with a separator between two groups and
// none after the last; each encoding item carries its tag as data (QAction::data) and is
// checkable; separators carry none. When the list cannot be read the failure is logged, the menu
// stays empty and the next initEncodingMenu() (the next window, the next opening of the menu)
// tries again.
//
// Each window copies the items into its toolbar pop-up, so item i of a pop-up pairs with item i
// of this menu. The menu's items act on one window at a time, the target: the window that marked
// its choice last. Before it opens the menu asks (updateRequested) for the active window to mark
// its choice; a chosen item is announced (encodingChosen) for the target to act on. The menu
// never calls a window itself. Without a target the items are disabled.
//
// Ownership: the application owns the instance (created before its windows, destroyed after
// them, while QApplication exists) and hands it to each window; the instance owns the menu.
// GUI thread only.
#pragma once

#include "TextEncodingList.h"

#include <QObject>
#include <QPointer>
#include <future>
#include <memory>
#include <optional>

class QAction;
class QMenu;

class CHMTextEncodingMenu : public QObject {
    Q_OBJECT
public:
    explicit CHMTextEncodingMenu(QObject* parent = nullptr);
    ~CHMTextEncodingMenu() override;

    // The "Text Encoding" submenu.
    QMenu* menu() const { return m_menu.get(); }
    bool isInitialized() const { return m_initialized; }

    // Builds the menu once; false (and a log line) when the list cannot be read.
    bool initEncodingMenu();
    // Builds the menu if needed, then appends a copy of each of its items, separators
    // included, to popupMenu. The copies are disabled until a window marks its choice.
    void initEncodingMenu(QMenu* popupMenu);
    // Before the menu opens: builds it if needed and asks the active window to mark its choice.
    void menuNeedsUpdate();

    // The encoding name of a tag; null for automatic (0) and for tags the menu does not carry.
    QString getEncodingByTag(int tag) const;
    // The tag of an encoding name (ignoring case), 0 for an empty name, -1 when not offered.
    int tagForEncoding(const QString& name) const;
    // The title of a tag's item; null when the menu does not carry the tag.
    QString titleForTag(int tag) const;

    // The window the items act on; nullptr when none.
    QObject* target() const { return m_target; }
    void setTarget(QObject* window) { m_target = window; }

    // The tag an item of this menu or of a pop-up copy carries; -1 for separators.
    static int tagOf(const QAction* item);

signals:
    // The menu is about to open: the active window should mark its choice (setTarget and the
    // items' checks).
    void updateRequested();
    // The user chose the item of the tag; for the target to act on.
    void encodingChosen(int tag);

private:
    std::unique_ptr<QMenu> m_menu;
    std::optional<TextEncodingList> m_list;
    bool m_initialized = false;
    // The list as read on a thread from construction on; taken by the first initEncodingMenu().
    struct ReadList {
        std::optional<TextEncodingList> list;
        QString error;
    };
    std::future<ReadList> m_pendingList;
    QPointer<QObject> m_target;
};
