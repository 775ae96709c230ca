// Entry of the window tests: a headless web engine, then GoogleTest.
#include "WebTestSupport.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    webtest::prepareEnvironment();
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Lumeno"));
    QApplication::setApplicationName(QStringLiteral("Lumeno+"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
