// vantri-keywriter: the window.
//
//   vantri-keywriter [--comport TEXT]
//
// --comport presets the Comport box (a port number or a device path);
// otherwise every start shows the defaults.  Nothing is stored between runs.
//
// --help and --version are answered before any display is touched, and a
// display that cannot be used is reported in one line with exit code 1
// before QApplication exists: Qt itself would abort with a core dump.
#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <string>

#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
#include <dlfcn.h>
#endif

#include "app/form_window.h"
#include "image/process_hardening.h"

namespace {

void Describe(QCommandLineParser& parser, const QCommandLineOption& comportOption) {
    parser.setApplicationDescription(
        QStringLiteral("Reads a device's 4096-byte key buffer into a file, and writes one back."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(comportOption);
}

// True when the command line asks only for text (help or version), which is
// printed without a display.
bool AsksForText(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--") == 0) {
            break;
        }
        for (const char* option : {"-h", "--help", "-?", "--help-all", "-v", "--version"}) {
            if (std::strcmp(arg, option) == 0) {
                return true;
            }
        }
    }
    return false;
}

bool NamesPlatform(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0) {
            return true;
        }
    }
    return false;
}

// Why the window cannot open on this machine's display, or "" when it can or
// when Qt is to use a platform other than X11 (offscreen, Wayland, Windows).
std::string DisplayProblem(int argc, char** argv) {
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (NamesPlatform(argc, argv) || (!platform.isEmpty() && !platform.startsWith("xcb"))) {
        return {};
    }
    const QByteArray display = qgetenv("DISPLAY");
    if (display.isEmpty()) {
        if (platform.isEmpty() && !qgetenv("WAYLAND_DISPLAY").isEmpty()) {
            return {};  // Qt picks Wayland where it can
        }
        return "no display (DISPLAY is not set)";
    }
    // One connection through the library Qt's X11 platform uses, opened and
    // closed again: it finds a display that does not answer or refuses us.
    void* xcb = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (xcb == nullptr) {
        return {};  // Qt reports a missing X11 library in its own words
    }
    using Connect = void* (*)(const char*, int*);
    using HasError = int (*)(void*);
    using Disconnect = void (*)(void*);
    const auto connect = reinterpret_cast<Connect>(dlsym(xcb, "xcb_connect"));
    const auto hasError = reinterpret_cast<HasError>(dlsym(xcb, "xcb_connection_has_error"));
    const auto disconnect = reinterpret_cast<Disconnect>(dlsym(xcb, "xcb_disconnect"));
    std::string problem;
    if (connect != nullptr && hasError != nullptr && disconnect != nullptr) {
        void* connection = connect(display.constData(), nullptr);
        if (hasError(connection) != 0) {
            problem = "cannot open the display " + display.toStdString() +
                      " (DISPLAY): it does not answer or refuses the connection";
        }
        disconnect(connection);
    }
    dlclose(xcb);
    return problem;
#else
    (void)argc;
    (void)argv;
    return {};
#endif
}

// Qt warns "QStandardPaths: XDG_RUNTIME_DIR not set" on every start where the
// variable is missing (a root shell, a bare ssh session) and then uses a
// private folder of its own; the window keeps nothing there, so the warning
// only alarms.  Every other message is passed on unchanged.
QtMessageHandler qtHandler = nullptr;

void DropRuntimeDirWarning(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtWarningMsg && text.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR"))) {
        return;
    }
    if (qtHandler != nullptr) {
        qtHandler(type, context, text);
    } else {
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
    }
}

}  // namespace

int main(int argc, char** argv) {
    vantri::HardenProcess();  // before any key buffer is read
    QCoreApplication::setApplicationName(QStringLiteral("vantri-keywriter"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VANTRI_VERSION));
    const QCommandLineOption comportOption(
        QStringList{QStringLiteral("comport")},
        QStringLiteral("Preset the Comport box: a port number (3 for COM3) or a device path."),
        QStringLiteral("TEXT"));

    if (AsksForText(argc, argv)) {
        QCoreApplication core(argc, argv);
        QCommandLineParser parser;
        Describe(parser, comportOption);
        parser.process(core);  // prints the help or the version and exits
    }
    if (const std::string problem = DisplayProblem(argc, argv); !problem.empty()) {
        std::fprintf(stderr,
                     "vantri-keywriter: %s; the window needs a display (vantri-key works "
                     "without one).\n",
                     problem.c_str());
        return 1;
    }

    qtHandler = qInstallMessageHandler(DropRuntimeDirWarning);
    QApplication app(argc, argv);
    QCommandLineParser parser;
    Describe(parser, comportOption);
    parser.process(app);

    vantri::FormWindow form;
    if (parser.isSet(comportOption)) {
        form.comport->setEditText(parser.value(comportOption));
    }
    form.show();
    return QApplication::exec();
}
