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
// its choice last (setupEncodingMenu, which the menu asks of the active document window before it
// opens). Without a target the items are disabled.
//
// Ownership: the application owns the instance (created before its windows, destroyed after
// them, while QApplication exists); the instance owns the menu. shared() is the instance the
// windows use: the last one created that still exists. GUI thread only.
#pragma once

#include "CHMDocumentWindow.h"
#include "TextEncodingList.h"

#include <QObject>
#include <QPointer>
#include <memory>
#include <optional>

class QAction;
class QMenu;

class CHMTextEncodingMenu : public QObject {
    Q_OBJECT
public:
    explicit CHMTextEncodingMenu(QObject* parent = nullptr);
    ~CHMTextEncodingMenu() override;

    static CHMTextEncodingMenu* shared();

    // The "Text Encoding" submenu.
    QMenu* menu() const { return m_menu.get(); }
    bool isInitialized() const { return m_initialized; }

    // Builds the menu once; false (and a log line) when the list cannot be read.
    bool initEncodingMenu();
    // Builds the menu if needed, then appends a copy of each of its items, separators
    // included, to popupMenu. The copies are disabled until a window marks its choice.
    void initEncodingMenu(QMenu* popupMenu);
    // Before the menu opens: builds it if needed and has the active document window mark its
    // choice. Nothing more when no document window is active.
    void menuNeedsUpdate();

    // The encoding name of a tag; null for automatic (0) and for tags the menu does not carry.
    QString getEncodingByTag(int tag) const;
    // The tag of an encoding name (ignoring case), 0 for an empty name, -1 when not offered.
    int tagForEncoding(const QString& name) const;
    // The title of a tag's item; null when the menu does not carry the tag.
    QString titleForTag(int tag) const;

    CHMDocumentWindow* target() const { return m_target; }
    void setTarget(CHMDocumentWindow* window) { m_target = window; }

    // The tag an item of this menu or of a pop-up copy carries; -1 for separators.
    static int tagOf(const QAction* item);

private:
    std::unique_ptr<QMenu> m_menu;
    std::optional<TextEncodingList> m_list;
    bool m_initialized = false;
    QPointer<CHMDocumentWindow> m_target;
};
