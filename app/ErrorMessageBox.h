// The one message that tells the user what could not be done. While it is open, further
// problems (files handed over by later starts, links no program took) are added to it instead
// of opening a message of their own inside it: each modal message runs an event loop inside the
// code that showed it, and thousands of hand-overs would nest thousands of them. The first
// messages show in full, the next ones are listed in the details, the rest only counted; the
// text follows once per turn of the event loop however many arrive. GUI thread only.
#pragma once

#include <QMessageBox>
#include <QStringList>

class ErrorMessageBox : public QMessageBox {
    Q_OBJECT
public:
    // The most messages shown in full, and listed in the details.
    static constexpr int kMostShown = 5;
    static constexpr int kMostListed = 500;

    ErrorMessageBox(const QString& message, QWidget* parent);

    void addMessage(const QString& message);
    qsizetype messageCount() const { return m_count; }

private:
    void updateText();

    QStringList m_listed;
    qsizetype m_count = 1;
    bool m_updatePending = false;
};
