// The split between the sidebar (first widget) and the page area (second widget).
//
// Shown, the sidebar is at least 250 wide and the divider can be dragged no further right than
// the splitter's width minus 250; hidden, it is 0 wide and the divider is unconstrained. The
// page area takes every change of the window's width. The shown width is remembered in the
// global default "Sidebar Width" (shared by all documents): whenever the sizes change while the
// sidebar is shown and it is wider than 250. Restoring uses the larger of 250 and that width.
// GUI thread only.
#pragma once

#include <QSplitter>

class SidebarSplitter : public QSplitter {
    Q_OBJECT
public:
    static constexpr int kMinimumWidth = 250; // of a shown sidebar, and of the page beside it
    static constexpr int kHideThreshold = 240;
    static const QString kWidthKey; // "Sidebar Width"

    explicit SidebarSplitter(QWidget* parent = nullptr);
    ~SidebarSplitter() override;

    // Shows the sidebar at the larger of 250 and the stored width. Emits
    // sidebarVisibilityChanged(true), whether or not it was shown already.
    void restoreSidebar();
    // Hides the sidebar (width 0). Emits sidebarVisibilityChanged(false).
    void hideSidebar();
    // Hides a sidebar wider than 240, otherwise restores it.
    void toggleSidebar();
    bool isSidebarRestored() const { return m_isSidebarRestored; }
    // The sidebar's current width (0 without a sidebar).
    int sidebarWidth() const;

    // Where a drag of the divider to proposed ends up.
    int constrainDividerPosition(int proposed) const;

signals:
    void sidebarVisibilityChanged(bool shown);

protected:
    QSplitterHandle* createHandle() override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeDivider(int position);
    void dividerMoved();
    void didResizeSubviews();
    void setRestored(bool restored);
    bool hasBothWidgets() const { return count() >= 2; }

    bool m_isSidebarRestored = true;
    // The sidebar width last placed or dragged to, kept across resizes of the window; -1 until
    // the divider is first placed (sizes before that are the layout's guesses, never stored).
    int m_placedWidth = -1;
    int m_dragOffset = 0;
};
