#include "CHMWebViewController.h"

#include "CHMWebView.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

CHMWebViewController::CHMWebViewController(QWidget* parent)
    : QWidget(parent), m_findPanel(new QWidget(this)), m_searchField(new QLineEdit(m_findPanel)),
      m_webView(new CHMWebView(this)) {
    buildFindPanel();
    buildRendererEndedPanel();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_findPanel);
    layout->addWidget(m_webView, 1);
    layout->addWidget(m_rendererEndedPanel, 1);

    // A new page holds none of the old page's marks.
    connect(m_webView, &QWebEngineView::loadStarted, this, [this] {
        ++m_pageGeneration;
        m_pageChangedSinceFind = true;
        clearMatchStatus();
        hideRendererEnded();
    });
}

void CHMWebViewController::buildRendererEndedPanel() {
    m_rendererEndedPanel = new QWidget(this);
    m_rendererEndedPanel->setObjectName(QStringLiteral("rendererEndedPanel"));
    m_rendererEndedLabel = new QLabel(m_rendererEndedPanel);
    m_rendererEndedLabel->setObjectName(QStringLiteral("rendererEndedLabel"));
    m_rendererEndedLabel->setTextFormat(Qt::PlainText);
    m_rendererEndedLabel->setWordWrap(true);
    m_rendererEndedLabel->setAlignment(Qt::AlignCenter);
    m_reloadButton = new QPushButton(tr("Reload"), m_rendererEndedPanel);
    m_reloadButton->setObjectName(QStringLiteral("rendererReloadButton"));
    connect(m_reloadButton, &QPushButton::clicked, this,
            &CHMWebViewController::reloadAfterRendererEnded);
    auto* layout = new QVBoxLayout(m_rendererEndedPanel);
    layout->addStretch(1);
    layout->addWidget(m_rendererEndedLabel);
    layout->addWidget(m_reloadButton, 0, Qt::AlignHCenter);
    layout->addStretch(2);
    m_rendererEndedPanel->hide();
}

void CHMWebViewController::showRendererEnded(QWebEnginePage::RenderProcessTerminationStatus status,
                                             int exitCode) {
    QString what;
    switch (status) {
    case QWebEnginePage::NormalTerminationStatus:
        return;
    case QWebEnginePage::CrashedTerminationStatus:
        what = tr("The process that showed this page crashed.");
        break;
    case QWebEnginePage::KilledTerminationStatus:
        what = tr("The process that showed this page was killed.");
        break;
    case QWebEnginePage::AbnormalTerminationStatus:
        what =
            tr("The process that showed this page ended abnormally (exit code %1).").arg(exitCode);
        break;
    }
    m_urlWhenRendererEnded = m_webView->url();
    m_rendererEndedLabel->setText(what + u'\n' + tr("Reload to show the page again."));
    m_webView->hide();
    m_rendererEndedPanel->show();
}

void CHMWebViewController::reloadAfterRendererEnded() {
    const QUrl url = m_urlWhenRendererEnded;
    hideRendererEnded();
    if (url.isValid() && !url.isEmpty())
        m_webView->load(url);
    else
        m_webView->reload();
}

void CHMWebViewController::hideRendererEnded() {
    if (m_rendererEndedPanel->isHidden())
        return;
    m_rendererEndedPanel->hide();
    m_webView->show();
}

CHMWebViewController::~CHMWebViewController() = default;

void CHMWebViewController::buildFindPanel() {
    m_findPanel->setObjectName(QStringLiteral("findPanel"));
    m_searchField->setObjectName(QStringLiteral("findField"));
    m_searchField->setPlaceholderText(tr("Find in page"));
    m_searchField->setClearButtonEnabled(true);
    m_searchField->installEventFilter(this);
    connect(m_searchField, &QLineEdit::textChanged, this, &CHMWebViewController::findTextEdited);

    m_matchLabel = new QLabel(m_findPanel);
    m_matchLabel->setObjectName(QStringLiteral("findMatchLabel"));
    m_matchLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Room for "9999 of 9999", so the field does not jump as the count changes.
    m_matchLabel->setMinimumWidth(
        m_matchLabel->fontMetrics().horizontalAdvance(QStringLiteral("9999 of 9999")) + 8);

    // The previous/next pair is one control of two segments: 0 is previous, 1 is next.
    auto* segments = new QWidget(m_findPanel);
    segments->setObjectName(QStringLiteral("findInFileControl"));
    auto* segmentsLayout = new QHBoxLayout(segments);
    segmentsLayout->setContentsMargins(0, 0, 0, 0);
    segmentsLayout->setSpacing(0);
    auto makeSegment = [this, segments, segmentsLayout](Qt::ArrowType arrow, const QString& tip,
                                                        int segment) {
        auto* button = new QToolButton(segments);
        button->setArrowType(arrow);
        button->setToolTip(tip);
        button->setAutoRaise(true);
        connect(button, &QToolButton::clicked, this, [this, segment] { requestStep(segment); });
        segmentsLayout->addWidget(button);
        return button;
    };
    m_previousButton = makeSegment(Qt::UpArrow, tr("Previous match (Shift+Return)"), 0);
    m_previousButton->setObjectName(QStringLiteral("findPreviousButton"));
    m_nextButton = makeSegment(Qt::DownArrow, tr("Next match (Return)"), 1);
    m_nextButton->setObjectName(QStringLiteral("findNextButton"));

    m_doneButton = new QPushButton(tr("Done"), m_findPanel);
    m_doneButton->setObjectName(QStringLiteral("findDoneButton"));
    m_doneButton->setAutoDefault(false);
    connect(m_doneButton, &QPushButton::clicked, this, &CHMWebViewController::doneRequested);

    auto* panelLayout = new QHBoxLayout(m_findPanel);
    panelLayout->setContentsMargins(4, 2, 4, 2);
    panelLayout->addWidget(m_searchField, 1);
    panelLayout->addWidget(m_matchLabel);
    panelLayout->addWidget(segments);
    panelLayout->addWidget(m_doneButton);
    // Escape from anywhere in the bar (a button may hold the focus) ends finding.
    m_findPanel->installEventFilter(this);
    m_findPanel->hide();
}

void CHMWebViewController::showFindPanel() {
    // The layout gives the page what the bar does not take.
    if (m_findPanel->isHidden())
        m_findPanel->show();
    m_searchField->setFocus(Qt::ShortcutFocusReason);
    // Typing replaces the last text, as in any find field.
    m_searchField->selectAll();
}

void CHMWebViewController::hideFindPanel() {
    if (!m_findPanel->isHidden())
        m_findPanel->hide();
}

void CHMWebViewController::findTextEdited() {
    m_pageChangedSinceFind = false;
    emit findRequested();
}

void CHMWebViewController::requestStep(int segment) {
    if (m_pageChangedSinceFind && !m_findPanel->isHidden() && !m_searchField->text().isEmpty()) {
        m_pageChangedSinceFind = false;
        emit findRequested();
        return;
    }
    emit findInFileRequested(segment);
}

void CHMWebViewController::showMatchCount(int count) {
    if (count > 0)
        m_matchLabel->setText(count == 1 ? tr("1 match") : tr("%1 matches").arg(count));
    else if (!m_searchField->text().isEmpty())
        m_matchLabel->setText(tr("Not found"));
    else
        m_matchLabel->clear();
}

void CHMWebViewController::showMatchPosition(int index, int count) {
    if (count > 0)
        m_matchLabel->setText(tr("%1 of %2").arg(index).arg(count));
    else
        showMatchCount(0);
}

void CHMWebViewController::clearMatchStatus() {
    m_matchLabel->clear();
}

bool CHMWebViewController::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == m_searchField || watched == m_findPanel) && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape) {
            emit doneRequested();
            return true;
        }
        if (watched == m_searchField &&
            (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
            requestStep(key->modifiers() & Qt::ShiftModifier ? 0 : 1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
