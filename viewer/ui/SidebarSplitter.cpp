#include "SidebarSplitter.h"

#include "CHMFilePreferences.h"

#include <QMouseEvent>
#include <QResizeEvent>
#include <algorithm>
#include <cmath>

const QString SidebarSplitter::kWidthKey = QStringLiteral("Sidebar Width");

namespace {

// The stored width in whole pixels; 0 when missing, not a number or not positive.
int storedSidebarWidth() {
    bool ok = false;
    const double stored =
        CHMFilePreferences::globalDefault(SidebarSplitter::kWidthKey).toDouble(&ok);
    if (!ok || !std::isfinite(stored) || stored <= 0) {
        return 0;
    }
    // Far beyond any screen; keeps the conversion to int defined.
    return int(std::lround(std::min(stored, 1.0e6)));
}

} // namespace

SidebarSplitter::SidebarSplitter(QWidget* parent) : QSplitter(Qt::Horizontal, parent) {
    // Drags are constrained as they happen; a rubber band would show unconstrained positions.
    setOpaqueResize(true);
    connect(this, &QSplitter::splitterMoved, this, &SidebarSplitter::dividerMoved);
}

SidebarSplitter::~SidebarSplitter() = default;

int SidebarSplitter::sidebarWidth() const {
    if (count() == 0) {
        return 0;
    }
    // Before the first layout the sizes are guesses; what was placed is what will be shown.
    if (!isVisible() && m_placedWidth >= 0) {
        return m_placedWidth;
    }
    return sizes().value(0);
}

void SidebarSplitter::restoreSidebar() {
    const int width = std::max(kMinimumWidth, storedSidebarWidth());
    setRestored(true);
    placeDivider(width);
}

void SidebarSplitter::hideSidebar() {
    setRestored(false);
    placeDivider(0);
}

void SidebarSplitter::toggleSidebar() {
    if (sidebarWidth() > kHideThreshold) {
        hideSidebar();
    } else {
        restoreSidebar();
    }
}

void SidebarSplitter::setRestored(bool restored) {
    m_isSidebarRestored = restored;
    emit sidebarVisibilityChanged(restored);
}

int SidebarSplitter::constrainDividerPosition(int proposed) const {
    if (!m_isSidebarRestored) {
        return proposed;
    }
    // On a splitter too narrow for both minimums the sidebar keeps its own.
    return std::max(kMinimumWidth, std::min(proposed, width() - kMinimumWidth));
}

void SidebarSplitter::placeDivider(int position) {
    if (!hasBothWidgets()) {
        return;
    }
    // The sidebar may fold to nothing; the page never does.
    setCollapsible(0, true);
    setCollapsible(1, false);
    m_placedWidth = std::max(0, position);
    const int rest = std::max(0, width() - handleWidth() - m_placedWidth);
    QList<int> newSizes(count(), 0);
    newSizes[0] = m_placedWidth;
    newSizes[1] = rest;
    setSizes(newSizes);
    didResizeSubviews();
}

void SidebarSplitter::dividerMoved() {
    m_placedWidth = sizes().value(0);
    didResizeSubviews();
}

void SidebarSplitter::didResizeSubviews() {
    if (!m_isSidebarRestored || m_placedWidth < 0 || !isVisible()) {
        return;
    }
    const int width = sizes().value(0);
    if (width > kMinimumWidth) {
        CHMFilePreferences::setGlobalDefault(kWidthKey, double(width));
    }
}

void SidebarSplitter::resizeEvent(QResizeEvent* event) {
    QSplitter::resizeEvent(event);
    // The page takes the whole change of width; the sidebar keeps the width it was given.
    if (m_placedWidth >= 0 && hasBothWidgets()) {
        placeDivider(m_placedWidth);
    }
}

QSplitterHandle* SidebarSplitter::createHandle() {
    QSplitterHandle* handle = QSplitter::createHandle();
    handle->installEventFilter(this);
    return handle;
}

bool SidebarSplitter::eventFilter(QObject* watched, QEvent* event) {
    if (!hasBothWidgets() || watched != handle(1)) {
        return QSplitter::eventFilter(watched, event);
    }
    // Drags of the divider go through constrainDividerPosition(); presses and releases keep
    // the handle's own handling (its pressed look).
    if (event->type() == QEvent::MouseButtonPress) {
        const auto* press = static_cast<QMouseEvent*>(event);
        if (press->button() == Qt::LeftButton) {
            m_dragOffset = int(press->position().x());
        }
    } else if (event->type() == QEvent::MouseMove) {
        const auto* move = static_cast<QMouseEvent*>(event);
        if (move->buttons() & Qt::LeftButton) {
            const int proposed = mapFromGlobal(move->globalPosition().toPoint()).x() - m_dragOffset;
            moveSplitter(constrainDividerPosition(proposed), 1);
            return true;
        }
    }
    return QSplitter::eventFilter(watched, event);
}
