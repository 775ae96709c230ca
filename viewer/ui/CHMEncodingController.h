// The text encoding of one document window: the toolbar's pop-up, the window's part in the
// application's Text Encoding menu, and the change of encoding, which serves every tab anew and
// re-reads the contents and the index.
//
// The application's menu (may be null) is shared by all windows; its items act on the window
// that marked its choice last, and the pop-up's items on this window alone. The controller knows
// the window only as the menu's target, a widget that may be active or not, and its tabs through
// CHMTabAccess; it asks the window to read the sitemaps again through encodingChanged. Owned by
// the window, which outlives it; the menu outlives both. GUI thread only.
#pragma once

#include "CHMTabAccess.h"

#include <QObject>
#include <QPointer>
#include <QString>

class CHMDocument;
class CHMTextEncodingMenu;
class QToolButton;
class QWidget;

class CHMEncodingController : public QObject {
    Q_OBJECT
public:
    // window: the menu's target while this window's choice is marked, and the parent of the
    // pop-up until the window places it.
    CHMEncodingController(QWidget& window, CHMDocument& document, CHMTabAccess tabs,
                          CHMTextEncodingMenu* menu);
    ~CHMEncodingController() override;

    // Marks the document's choice in the application's menu and in this window's pop-up and
    // points the menu's items at this window.
    void setupEncodingMenu();
    // The document goes: both menus mark automatic; the application's items are disabled.
    void resetEncodingMenu();
    // Serves every tab in the encoding of the tag and reloads it, then announces encodingChanged
    // so that the contents and the index are parsed again. A tag the menus do not carry changes
    // nothing (logged).
    void changeEncoding(int tag);
    // The encoding name of a menu tag; null for automatic (0) and unknown tags.
    QString getEncodingByTag(int tag) const;
    int customizedEncodingTag() const { return m_customizedEncodingTag; }
    // The toolbar's pop-up (the window places it).
    QToolButton* textEncodingPopup() const { return m_textEncodingPopupOutlet; }

signals:
    // The document has another encoding and its tabs reload: the sitemaps are to be parsed
    // again in it.
    void encodingChanged();

private:
    void showEncodingInPopup();

    QWidget& m_window;
    CHMDocument& m_document;
    CHMTabAccess m_tabs;
    QPointer<CHMTextEncodingMenu> m_menu;
    QToolButton* m_textEncodingPopupOutlet = nullptr;
    int m_customizedEncodingTag = 0;
};
