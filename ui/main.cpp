// SPDX-License-Identifier: GPL-3.0-or-later
// corvane: the window. Drop HEIC, HEIF or DNG photos (or folders of them) with their .xmp sidecars on
// it; paths given on the command line are processed in the first window as if they had been dropped.

#include "engine/Diagnostics.h"
#include "ui/ContentState.h"
#include "ui/CorvaneApp.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <vector>

namespace {

const QCommandLineOption debugOption(QStringLiteral("debug"),
                                     QStringLiteral("Print the diagnostic lines (\"[DEBUG] ...\") on standard output, "
                                                    "as CORVANE_DEBUG=1 does."));

void describeCommandLine(QCommandLineParser& parser) {
    parser.setApplicationDescription(
        QStringLiteral("Repairs the GPS position in XMP sidecar files. Starts in Dry Run: nothing is written until "
                       "Dry Run is switched off."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(debugOption);
    parser.addPositionalArgument(QStringLiteral("PATH"),
                                 QStringLiteral("Files and folders to process at start, as if dropped on the window."),
                                 QStringLiteral("[PATH...]"));
}

// Help and version are answered before the window's application starts, which needs a display.
bool asksForHelpOrVersion(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--") break;
        for (const std::string_view option : {"-h", "-?", "--help", "--help-all", "-v", "--version"})
            if (argument == option) return true;
    }
    return false;
}

[[noreturn]] void answerHelpOrVersion(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    corvane::CorvaneApp::configure(application);
    QCommandLineParser parser;
    describeCommandLine(parser);
    // Options meant for the window (-platform, -style, ...) are unknown here and do not stand in the way.
    (void)parser.parse(application.arguments());
    if (parser.isSet(QStringLiteral("version"))) parser.showVersion();
    parser.showHelp();
}

bool debugFromEnvironment() {
    const char* value = std::getenv("CORVANE_DEBUG");
    return value && *value && std::string_view(value) != "0";
}

}  // namespace

int main(int argc, char** argv) {
    // The diagnostic lines, when asked for, are the program's output; line buffering lets them reach a
    // log or a terminal as they happen, even when the window is killed.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (asksForHelpOrVersion(argc, argv)) answerHelpOrVersion(argc, argv);

    QApplication application(argc, argv);
    corvane::CorvaneApp::configure(application);
    QCommandLineParser parser;
    describeCommandLine(parser);
    parser.process(application);
    // Started from the desktop's menu, the window's output ends in the user's journal: quiet unless asked.
    if (!parser.isSet(debugOption) && !debugFromEnvironment()) corvane::Diagnostics::setSink({});

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
