// Customisation of a window's toolbar: which of its items show and how they show (icons, text,
// or both), chosen in a dialog and kept in the global defaults ("toolbar hidden items",
// "toolbar style"), so every window opened afterwards looks the same.
//
// The customizer holds the toolbar's full list of items, in order, with separators between
// groups; the toolbar shows the items not hidden, and a separator only between two shown items.
// The actions themselves are never hidden, since the menus share them. Items are known by their
// action's objectName; an item without one is always shown. Owned by the toolbar (its parent).
// GUI thread only.
#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>

class QAction;
class QToolBar;
class QWidget;

class ToolbarCustomizer : public QObject {
    Q_OBJECT
public:
    explicit ToolbarCustomizer(QToolBar* toolbar);
    ~ToolbarCustomizer() override;

    // Items at the end of the toolbar; the toolbar shows them as the saved state says.
    void addItem(QAction* action);
    void addSeparator();
    // The items in order (no separators).
    QList<QAction*> items() const;

    // The saved choice: hidden items, and Qt::ToolButtonStyle as an int.
    static QStringList savedHiddenItems();
    static int savedStyle();

    // Shows the toolbar as the saved choice says.
    void applySavedState();
    // Saves the choice and shows it.
    void setState(const QStringList& hiddenItems, int style);
    // The customisation dialog (window-modal, not blocking); OK saves and shows the choice.
    QWidget* showDialog(QWidget* parent);

private:
    QToolBar* m_toolbar;
    QList<QPointer<QAction>> m_items; // nullptr entries are separators
};
