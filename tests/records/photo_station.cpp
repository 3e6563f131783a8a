// One station of the two-station test: stores or reads the photo of one student on the
// database named by the QC_PG_* variables, in a loop, and prints one line per attempt.
//
//   photo_station store FOLDER LABEL COUNT   stores FOLDER/LABEL_<i>.jpg for i = 0..COUNT-1
//   photo_station read FOLDER LABEL COUNT    reads the photo until FOLDER/stop exists
//                                            (COUNT reads at most)
//
// Each waits for a line on its standard input before it starts (a storing station before
// every store), so that the test can let both loose together. Lines printed:
//   store <i> ok | store <i> error <status text>
//   read <i> <md5 of the pixels shown, or "-"> <status text>

#include "DatabaseFixture.h"
#include "MemorySettings.h"
#include "common/RecordingDesktop.h"
#include "records/Module1.h"
#include "records/PhotoRecords.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>
#include <iostream>
#include <string>

namespace {

const QString kUnit = QStringLiteral("0101");
const QString kEnrolment = QStringLiteral("2024001");

// The image control of the reading station: what it was last given.
class ShownPicture : public qc::PictureHolder
{
public:
    QImage image;
    void setPicture(const QImage& picture) override { image = picture; }
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5 || (args[1] != QLatin1String("store") && args[1] != QLatin1String("read")))
        qFatal("usage: photo_station store|read FOLDER LABEL COUNT");
    const bool store = args[1] == QLatin1String("store");
    const QString folder = args[2];
    const QString label = args[3];
    const int count = args[4].toInt();

    DatabaseFixture db(QStringLiteral("postgresql"));
    QTemporaryDir appDir; // this station's program folder
    RecordingDesktop desktop;
    MemorySettings settings;
    qc::Module1 module(desktop, settings);
    module.setCnBanco(db.connect());
    module.setCaminhoApp(appDir.path() + QLatin1Char('/'));
    QString status;
    qc::PhotoRecords records(module, [&](const QString& text) { status = text; });

    std::string go;
    std::getline(std::cin, go);

    QTextStream out(stdout);
    ShownPicture picture;
    const QString stop = folder + QStringLiteral("/stop");
    for (int i = 0; i < count && (store || !QFile::exists(stop)); ++i) {
        status.clear();
        // Stores go in lock step with the other station: one line per store, so that the
        // test can start both at the same moment every time.
        if (store && i > 0)
            std::getline(std::cin, go);
        if (store) {
            QFile source(QStringLiteral("%1/%2_%3.jpg").arg(folder, label).arg(i));
            const QByteArray photo =
                source.open(QIODevice::ReadOnly) ? source.readAll() : QByteArray();
            records.GravarFoto(QStringLiteral("Aca_FichaCadastralAluno"), QStringLiteral("foto"),
                               QStringLiteral("codigounidade = ? and matricula = ?"),
                               {kUnit, kEnrolment}, photo);
            if (status == QLatin1String("Foto salva com sucesso"))
                out << "store " << i << " ok\n";
            else
                out << "store " << i << " error " << status << '\n';
        } else {
            records.LerFoto(QStringLiteral("Aca_FichaCadastralAluno"), QStringLiteral("foto"),
                            QStringLiteral("matricula"), kEnrolment, picture, kUnit);
            QByteArray md5 = "-";
            if (!picture.image.isNull()) {
                const QImage rgb = picture.image.convertToFormat(QImage::Format_RGB32);
                md5 = QCryptographicHash::hash(QByteArrayView(rgb.constBits(), rgb.sizeInBytes()),
                                               QCryptographicHash::Md5)
                          .toHex();
            }
            out << "read " << i << ' ' << md5 << ' ' << status << '\n';
        }
        out.flush();
    }
    return 0;
}
