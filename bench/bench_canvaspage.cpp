#include "pageharness.h"

#include <QGuiApplication>

int main(int argc, char *argv[])
{
    prepareWebEngineForTests();
    QGuiApplication app(argc, argv);
    return 0;
}
