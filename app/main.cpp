// vantri-keywriter: the window.
//
//   vantri-keywriter [--comport TEXT]
//
// --comport presets the Comport box (a port number or a device path);
// otherwise every start shows the defaults.  Nothing is stored between runs.
#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>

#include "app/form_window.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vantri-keywriter"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VANTRI_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Reads a device's 4096-byte key buffer into a file, and writes one back."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption comportOption(
        QStringList{QStringLiteral("comport")},
        QStringLiteral("Preset the Comport box: a port number (3 for COM3) or a device path."),
        QStringLiteral("TEXT"));
    parser.addOption(comportOption);
    parser.process(app);

    vantri::FormWindow form;
    if (parser.isSet(comportOption)) {
        form.comport->setEditText(parser.value(comportOption));
    }
    form.show();
    return QApplication::exec();
}
