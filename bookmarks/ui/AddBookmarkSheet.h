// The add-bookmark sheet: a window-modal dialog over a document window with the bookmark's title
// and its tags (comma-separated). Cancel ends it with 0, Add with 1. Deletes itself when closed.
#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;

class AddBookmarkSheet : public QDialog {
    Q_OBJECT
public:
    AddBookmarkSheet(const QString& title, const QString& tags, QWidget* parent);

    QLineEdit* titleField() const { return m_titleField; }
    QLineEdit* tagField() const { return m_tagField; }
    QPushButton* addButton() const { return m_addButton; }
    QPushButton* cancelButton() const { return m_cancelButton; }

private:
    QLineEdit* m_titleField;
    QLineEdit* m_tagField;
    QPushButton* m_addButton;
    QPushButton* m_cancelButton;
};
