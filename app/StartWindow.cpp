#include "StartWindow.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

StartWindow::StartWindow(QWidget* parent) : QMainWindow(parent) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Lumeno+"));
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->addStretch();
    auto* label =
        new QLabel(tr("Open a compiled help file (.chm), or a page from the Bookmarks menu."));
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    layout->addWidget(label);
    m_openButton = new QPushButton(tr("Open…"));
    connect(m_openButton, &QPushButton::clicked, this, &StartWindow::openRequested);
    layout->addWidget(m_openButton, 0, Qt::AlignHCenter);
    layout->addStretch();
    setCentralWidget(central);
    resize(560, 360);
}
