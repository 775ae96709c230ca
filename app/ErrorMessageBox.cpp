#include "ErrorMessageBox.h"

#include <QTimer>

ErrorMessageBox::ErrorMessageBox(const QString& message, QWidget* parent)
    : QMessageBox(QMessageBox::Warning, QStringLiteral("Lumeno+"), message, QMessageBox::Ok,
                  parent),
      m_listed{message} {
    setObjectName(QStringLiteral("errorMessage"));
}

void ErrorMessageBox::addMessage(const QString& message) {
    ++m_count;
    if (m_listed.size() < kMostListed)
        m_listed << message;
    if (m_updatePending)
        return;
    m_updatePending = true;
    QTimer::singleShot(0, this, &ErrorMessageBox::updateText);
}

void ErrorMessageBox::updateText() {
    m_updatePending = false;
    QStringList shown = m_listed.mid(0, kMostShown);
    const qsizetype rest = m_count - shown.size();
    if (rest > 0) {
        shown << tr("… and %n more.", nullptr, int(rest));
        QString details = m_listed.join(QLatin1Char('\n'));
        if (m_count > m_listed.size())
            details +=
                QLatin1Char('\n') + tr("… and %n more.", nullptr, int(m_count - m_listed.size()));
        setDetailedText(details);
    }
    setText(shown.join(QStringLiteral("\n\n")));
}
