// Build step for the resources that are made, not written by hand:
//   vantrell_resource_tool icons <svg> <hicolor folder> <name> <size>...
//     renders the SVG as <hicolor folder>/<size>x<size>/apps/<name>.png
//   vantrell_resource_tool manual <html> <pdf>
//     lays the HTML out on A4 paper and prints it to the PDF.
#include "pdf/DocumentsToPDF.h"
#include "platform/Initialize.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

namespace {

int Fail(const char* what, const QString& path) {
    std::fprintf(stderr, "vantrell_resource_tool: %s: %s\n", what, path.toLocal8Bit().constData());
    return 1;
}

int RenderIcons(const QStringList& arguments) {
    if (arguments.size() < 5) return Fail("usage", "icons <svg> <hicolor folder> <name> <size>...");
    QSvgRenderer renderer(arguments[1]);
    if (!renderer.isValid()) return Fail("not an SVG image", arguments[1]);
    for (qsizetype i = 4; i < arguments.size(); ++i) {
        const int side = arguments[i].toInt();
        if (side <= 0 || side > 1024) return Fail("bad icon size", arguments[i]);
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(arguments[2]).arg(side);
        if (!QDir().mkpath(folder)) return Fail("cannot make the folder", folder);
        QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        renderer.render(&painter, QRectF(0, 0, side, side));
        painter.end();
        const QString path = folder + QLatin1Char('/') + arguments[3] + QStringLiteral(".png");
        if (!image.save(path, "PNG")) return Fail("cannot write", path);
    }
    return 0;
}

int PrintManual(const QStringList& arguments) {
    if (arguments.size() != 3) return Fail("usage", "manual <html> <pdf>");
    DocumentsToPDFOptions options;
    // A4 with 2 cm margins.
    options.paperWidth = 595.0;
    options.paperHeight = 842.0;
    options.marginLeft = options.marginRight = options.marginTop = options.marginBottom = 56.7;
    DocumentPDFMaker maker;
    InitDocumentPDFMaker(&maker);
    SetDocumentPDFMakerOptions(&maker, options);
    const int printed = PrintDocumentToPDF(&maker, arguments[1].toStdString(), arguments[2].toStdString());
    ReleaseDocumentPDFMaker(&maker);
    return printed == 1 ? 0 : Fail("cannot print the manual", arguments[2]);
}

}  // namespace

int main(int argc, char* argv[]) {
    // A build machine has no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    plat::Initialize();
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    if (!arguments.isEmpty() && arguments[0] == QLatin1String("icons")) return RenderIcons(arguments);
    if (!arguments.isEmpty() && arguments[0] == QLatin1String("manual")) return PrintManual(arguments);
    return Fail("usage", "icons ... | manual ...");
}
