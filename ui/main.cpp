// SPDX-License-Identifier: GPL-3.0-or-later
// corvane: the window. Drop HEIC, HEIF or DNG photos (or folders of them) with their .xmp sidecars on
// it; paths given on the command line are processed in the first window as if they had been dropped.

#include "ui/ContentState.h"
#include "ui/CorvaneApp.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QTimer>

#include <cstdio>
#include <filesystem>
#include <vector>

int main(int argc, char** argv) {
    // The engine's "[DEBUG]" lines are the program's diagnostic output; line buffering lets them reach a
    // log or a terminal as they happen, even when the window is killed.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QApplication application(argc, argv);
    corvane::CorvaneApp::configure(application);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Repairs the GPS position in XMP sidecar files. Starts in Dry Run: nothing is written until "
                       "Dry Run is switched off."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("PATH"),
                                 QStringLiteral("Files and folders to process at start, as if dropped on the window."),
                                 QStringLiteral("[PATH...]"));
    parser.process(application);

    std::vector<std::filesystem::path> paths;
    for (const QString& argument : parser.positionalArguments())
        paths.emplace_back(QFile::encodeName(QDir::current().absoluteFilePath(argument)).toStdString());

    corvane::CorvaneApp app;
    corvane::MainWindow* window = app.openWindow();
    if (!paths.empty()) {
        // Once the window is on screen and its switches are published.
        QTimer::singleShot(0, window, [window, paths] { window->state().startRun(paths); });
    }
    return application.exec();
}
