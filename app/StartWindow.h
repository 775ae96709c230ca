// The window the reader shows when no book is open: the application's menus (File, Bookmarks,
// Help) and a way to open a book, so that a bookmark can be reopened without opening some book
// first. The application installs the menus and owns the window; it deletes itself when closed.
// GUI thread only.
#pragma once

#include <QMainWindow>

class QPushButton;

class StartWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit StartWindow(QWidget* parent = nullptr);

    // The "Open…" button in the middle of the window.
    QPushButton* openButton() const { return m_openButton; }

signals:
    void openRequested();

private:
    QPushButton* m_openButton;
};
