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
#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
#include <dlfcn.h>
#endif

#include "app/form_window.h"
#include "image/process_hardening.h"

namespace {

// The command line's --comport, if given; the help or the version is
// printed, and the program ends, when asked for.
std::optional<QString> ComportOption(const QCoreApplication& app) {
    const QCommandLineOption comport(
        QStringList{QStringLiteral("comport")},
        QStringLiteral("Preset the Comport box: a port number (3 for COM3) or a device path."),
        QStringLiteral("TEXT"));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Reads a device's 4096-byte key buffer into a file, and writes one back."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(comport);
    parser.process(app);
    return parser.isSet(comport) ? std::optional(parser.value(comport)) : std::nullopt;
}

// True when one of `options` is among the arguments, up to a "--" if
// `toDashes`.
bool Has(int argc, char** argv, std::initializer_list<std::string_view> options, bool toDashes) {
    for (int i = 1; i < argc && !(toDashes && argv[i] == std::string_view("--")); ++i) {
        if (std::find(options.begin(), options.end(), argv[i]) != options.end()) {
            return true;
        }
    }
    return false;
}

// Why the window cannot open on this machine's display, or "" when it can or
// when Qt is to use a platform other than X11 (offscreen, Wayland, Windows).
std::string DisplayProblem(bool namesPlatform) {
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (namesPlatform || (!platform.isEmpty() && !platform.startsWith("xcb"))) {
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
    const auto connect = reinterpret_cast<void* (*)(const char*, int*)>(dlsym(xcb, "xcb_connect"));
    const auto hasError = reinterpret_cast<int (*)(void*)>(dlsym(xcb, "xcb_connection_has_error"));
    const auto disconnect = reinterpret_cast<void (*)(void*)>(dlsym(xcb, "xcb_disconnect"));
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
    (void)namesPlatform;
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
    // Help or version is printed without a display.
    if (Has(argc, argv, {"-h", "--help", "-?", "--help-all", "-v", "--version"}, true)) {
        QCoreApplication core(argc, argv);
        ComportOption(core);
    }
    if (const std::string problem =
            DisplayProblem(Has(argc, argv, {"-platform", "--platform"}, false));
        !problem.empty()) {
        std::fprintf(stderr,
                     "vantri-keywriter: %s; the window needs a display (vantri-key works "
                     "without one).\n",
                     problem.c_str());
        return 1;
    }

    qtHandler = qInstallMessageHandler(DropRuntimeDirWarning);
    QApplication app(argc, argv);
    const std::optional<QString> comport = ComportOption(app);
    vantri::FormWindow form;
    if (comport) {
        form.comport->setEditText(*comport);
    }
    form.show();
    return QApplication::exec();
}
