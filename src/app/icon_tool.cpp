// Writes the program's icon as a PNG file, for the desktop entry: lapquill-icon OUT.png SIZE.
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>

#include "app/app_icon.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: lapquill-icon OUT.png SIZE\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int size = std::atoi(argv[2]);
    if (size < 16 || size > 1024 || !lapquill::WriteAppIconPng(QString::fromLocal8Bit(argv[1]), size)) {
        std::fprintf(stderr, "lapquill-icon: cannot write %s at size %s\n", argv[1], argv[2]);
        return 1;
    }
    return 0;
}
