#include "CHMWebViewController.h"

#include "CHMWebView.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QVBoxLayout>

CHMWebViewController::CHMWebViewController(QWidget* parent)
    : QWidget(parent), m_findPanel(new QWidget(this)), m_searchField(new QLineEdit(m_findPanel)),
      m_webView(new CHMWebView(this)) {
    auto* panelLayout = new QHBoxLayout(m_findPanel);
    panelLayout->setContentsMargins(4, 2, 4, 2);
    m_searchField->setObjectName(QStringLiteral("findField"));
    m_searchField->setClearButtonEnabled(true);
    panelLayout->addWidget(m_searchField);
    m_findPanel->setObjectName(QStringLiteral("findPanel"));
    m_findPanel->hide();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_findPanel);
    layout->addWidget(m_webView, 1);
}

CHMWebViewController::~CHMWebViewController() = default;

void CHMWebViewController::showFindPanel() {
    // The layout gives the page what the panel does not take.
    if (m_findPanel->isHidden())
        m_findPanel->show();
    m_searchField->setFocus(Qt::ShortcutFocusReason);
}

void CHMWebViewController::hideFindPanel() {
    if (!m_findPanel->isHidden())
        m_findPanel->hide();
}
