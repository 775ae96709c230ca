// The text encoding of one document window: the toolbar's pop-up, the window's part in the
// application's Text Encoding menu, and the change of encoding, which serves every tab anew and
// re-reads the contents and the index.
//
// The application's menu (may be null) is shared by all windows; its items act on the window
// that marked its choice last, and the pop-up's items on this window alone. Owned by the
// window, which outlives it; the menu outlives both. GUI thread only.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class CHMDocument;
class CHMDocumentWindow;
class CHMSidebar;
class CHMTextEncodingMenu;
class QToolButton;

class CHMEncodingController : public QObject {
    Q_OBJECT
public:
    CHMEncodingController(CHMDocumentWindow& window, CHMDocument& document, CHMSidebar& sidebar,
                          CHMTextEncodingMenu* menu);
    ~CHMEncodingController() override;

    // Marks the document's choice in the application's menu and in this window's pop-up and
    // points the menu's items at this window.
    void setupEncodingMenu();
    // The document goes: both menus mark automatic; the application's items are disabled.
    void resetEncodingMenu();
    // Serves every tab in the encoding of the tag and reloads it; parses the contents and the
    // index again off the GUI thread. A tag the menus do not carry changes nothing (logged).
    void changeEncoding(int tag);
    // The encoding name of a menu tag; null for automatic (0) and unknown tags.
    QString getEncodingByTag(int tag) const;
    int customizedEncodingTag() const { return m_customizedEncodingTag; }
    // The toolbar's pop-up (the window places it).
    QToolButton* textEncodingPopup() const { return m_textEncodingPopupOutlet; }

private:
    void showEncodingInPopup();

    CHMDocumentWindow& m_window;
    CHMDocument& m_document;
    CHMSidebar& m_sidebar;
    QPointer<CHMTextEncodingMenu> m_menu;
    QToolButton* m_textEncodingPopupOutlet = nullptr;
    int m_customizedEncodingTag = 0;
};
