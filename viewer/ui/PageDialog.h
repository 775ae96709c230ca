// The dialog of a page's alert(), confirm() or prompt(): the page's text (shown as plain text,
// never as markup), a field for prompt(), and from a page's second dialog on the choice "Don't
// show more dialogs from this page", so that a page calling alert() in a loop cannot hold the
// reader.
//
// It is modal to its window only, so other windows (and their Quit) stay usable, and it keeps
// two keys of the window it blocks: Quit, which closes every window, and Close Window, which
// closes its own. The engine waits for the answer in an event loop of its own (exec()), so
// whoever closes a window while one of its page's dialogs is open must let that loop end first
// (CHMWebPage::endDialogs, CHMDocumentWindow's close). GUI thread only.
#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;

class PageDialog : public QDialog {
    Q_OBJECT
public:
    enum class Kind { Alert, Confirm, Prompt };
    // The longest text shown; a page's longer text is cut there.
    static constexpr int kMaxMessageLength = 4000;

    PageDialog(Kind kind, const QString& message, const QString& defaultText, bool offerStop,
               QWidget* parent = nullptr);
    ~PageDialog() override;

    // The "Don't show more dialogs from this page" choice; nullptr when not offered.
    QCheckBox* stopBox() const { return m_stopBox; }
    bool stopRequested() const;
    // prompt()'s field; nullptr for the other kinds.
    QLineEdit* field() const { return m_field; }

private:
    QCheckBox* m_stopBox = nullptr;
    QLineEdit* m_field = nullptr;
};
